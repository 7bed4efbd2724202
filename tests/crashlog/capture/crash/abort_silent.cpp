// The silent abort class is never reported: neither where it is raised nor at the framework's
// handler. A real error after it still is.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EConvertError\r$
#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({[] { throw EAbort("cancelled"); }, [] { throw EConvertError("not a number"); }});
  crashlog::UninstallReporter();
  return 0;
}
