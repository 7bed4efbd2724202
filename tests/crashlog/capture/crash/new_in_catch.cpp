// A catch block that raises a new exception: the report is the new one's, with its raise in the
// catch block on top; the first exception's frames, gone by then, are not in it.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG: ^  2\.5 Message *: Cannot load the count: 'x' is not a valid integer value\.\r$
// LOG_FIRST_STACK_ROW: \|crash_new_in_catch\.exe *\|new_in_catch\.cpp *\| *\|LoadCount *\| *{@second} *\|
// STACK_TOP: \|LoadCount *\| *{@second} *\| ;; [|:]DispatchEventHandler *\|
// NO_REPORTER_ROWS: TTimer *\|Fire *\|
#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) int ParseCount() {
  throw EConvertError("'x' is not a valid integer value");  // @first
}

int count = 0;

__attribute__((noinline)) void LoadCount() {
  try {
    count = ParseCount();
  } catch (const EConvertError& error) {
    throw EInOutError("Cannot load the count: " + error.Message(), 13);  // @second
  }
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({LoadCount});
  crashlog::UninstallReporter();
  return 0;
}
