// A COM error: a call outside the program's safecall methods fails and leaves its error
// information (description, source, help text). The safecall method that called it checks the
// result, and the runtime's check raises an EOleException with the code, the source and the help
// text; the method's safecall wrapper catches it. That raise is the echo of the COM object's own
// error: it is not reported there. The method's caller checks the method's result in turn, and
// that EOleException reaches the framework's handler and is reported once, from the caller.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EOleException\r$
// LOG: ^  2\.5 Message *: The store is locked by another user\.\r$
// LOG_FIRST_STACK_ROW: \|crash_ole_exception\.exe *\|safecall\.cpp *\| *\|[^|]*CheckSafeCallResult *\|
// STACK_ROWS: [|:]CheckSafeCallResult *\| ;; \|UpdateStore *\| *{@check} *\| ;; [|:]DispatchEventHandler *\|
// STACK_NONE: [|:]SafeCallInvoke *\|
// NO_REPORTER_ROWS: TTimer *\|Fire *\|
// STDOUT: ^code 80040201 source Pelloran\.Store help store\.hlp$
#include <cstdio>

#include "runtime/safecall.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

constexpr HRESULT kStoreLocked = static_cast<HRESULT>(0x80040201);

// The COM object: it reports its failure as COM objects do, by its result and its error information.
__attribute__((noinline)) HRESULT LockStore() {
  SetSafeCallErrorInfo("The store is locked by another user", "Pelloran.Store", "store.hlp", 7);
  return kStoreLocked;
}

__attribute__((noinline)) void UpdateStore() {
  const HRESULT result = SafeCall([] { CheckSafeCallResult(LockStore()); });
  try {
    CheckSafeCallResult(result);  // @check
  } catch (const EOleException& error) {
    std::printf("code %08lX source %s help %s\n", static_cast<unsigned long>(error.ErrorCode), error.Source.c_str(),
                error.HelpFile.c_str());
    std::fflush(stdout);
    throw;
  }
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({UpdateStore});
  crashlog::UninstallReporter();
  return 0;
}
