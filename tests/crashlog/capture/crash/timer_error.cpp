// A C++ exception escaping a timer tick reaches the framework's handler and is reported there;
// the program goes on, and its second error is reported too.
// EXIT: 0
// ENTRIES: 2
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG: ^  2\.5 Message *: Cannot read the job list\.\r$
// LOG: \|timer_error\.cpp *\| *\|ReadJobList *\|
// LOG_FIRST_STACK_ROW: \|crash_timer_error\.exe *\|timer_error\.cpp *\| *\|ReadJobList *\| *{@throw} *\|
// The stack dump starts where the thrower's stack pointer was (the stack kept at the raise is
// shown at its own addresses):
// LOG: ^ECX: [0-9A-F]{8}   ESP: ([0-9A-F]{8})\r$[\s\S]*^Stack: +Memory Dump:\r\n-+ +-+\r\n\1: 
#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) void ReadJobList() {
  throw EInOutError("Cannot read the job list", 5);  // @throw
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({ReadJobList, ReadJobList});
  crashlog::UninstallReporter();
  return 0;
}
