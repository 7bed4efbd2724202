// A safecall method fails: its exception is reported once, at its raise inside the method (the
// safecall wrapper does not count as the program handling it), and the caller's check of the
// failed result ends silently instead of raising it again as a second error. The program goes on.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG: ^  2\.5 Message *: Cannot open the store\.\r$
// LOG_FIRST_STACK_ROW: \|crash_safecall_error\.exe *\|safecall_error\.cpp *\| *\|OpenStore *\| *{@raise} *\|
// STACK_ROWS: \|OpenStore *\| *{@raise} *\| ;; \|operator\(\) *\| *{@call} *\| ;; [|:]SafeCallInvoke *\| ;; SafeCall<CallStore
// NO_REPORTER_ROWS: TTimer *\|Fire *\|
// STDOUT: ^the check ended silently$
// STDOUT: ^the second tick ran$
#include <cstdio>

#include "base/exceptions.h"
#include "runtime/safecall.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) void OpenStore() {
  throw EInOutError("Cannot open the store", 5);  // @raise
}

__attribute__((noinline)) void CallStore() {
  const HRESULT result = SafeCall([] { OpenStore(); });  // @call
  try {
    CheckSafeCallResult(result);
  } catch (const EAbort&) {
    std::printf("the check ended silently\n");
    std::fflush(stdout);
    throw;
  }
}

void SecondTick() {
  std::printf("the second tick ran\n");
  std::fflush(stdout);
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({CallStore, SecondTick});
  crashlog::UninstallReporter();
  return 0;
}
