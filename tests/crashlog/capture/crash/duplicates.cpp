// With SkipDuplicates, the same error a second time is recognised in the log and not logged again;
// a different error is.
// EXIT: 0
// ENTRIES: 2
#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) void Save() { throw EInOutError("Disk full", 112); }
__attribute__((noinline)) void Load() { throw EInOutError("File missing", 2); }

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({Save, Save, Load, Save});
  crashlog::UninstallReporter();
  return 0;
}
