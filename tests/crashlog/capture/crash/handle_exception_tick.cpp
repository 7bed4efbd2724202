// A timer tick that catches everything and hands it to the application's handler itself (as
// Pelloran's monitor tick does): the report shows the raise first, the tick's catching code below
// it, and no frame of the handler or of the reporter that ran after the catch.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG_FIRST_STACK_ROW: \|crash_handle_exception_tick\.exe *\|handle_exception_tick\.cpp *\| *\|ReadSettings *\| *{@raise} *\|
// STACK_ROWS: \|ReadSettings *\| *{@raise} *\| ;; \|LoadSettingsTick *\| *{@call} *\|
// NO_REPORTER_ROWS: TTimer *\|Fire *\|
#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

int loaded = 0;

__attribute__((noinline)) void ReadSettings() {
  throw EInOutError("Cannot read the settings", 5);  // @raise
}

__attribute__((noinline)) void LoadSettingsTick() {
  try {
    ReadSettings();  // @call
    ++loaded;
  } catch (...) {
    loaded = -1;
    Application().HandleException(nullptr);
  }
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({LoadSettingsTick});
  crashlog::UninstallReporter();
  return 0;
}
