// The last chance: an exception that nothing catches. C++ exceptions end in std::terminate (the
// throw found no handler, or met a frame that refuses it); faults and exceptions of foreign code
// that no frame handles reach the unhandled-exception filter, in the first pass with the stack
// intact. Either way the exception is reported (unless it was at its raise) and then the main
// thread ends the process with exit code 1, any other thread ends itself with exit code 1. The
// system's crash dialog and Wine's debugger never come up.

#include <windows.h>

#include <cstdio>
#include <exception>

#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/fault.h"
#include "crashlog/capture/intercept_state.h"
#include "crashlog/capture/termination.h"

namespace pelloran::crashlog::intercept {

namespace {

std::terminate_handler previousTerminate = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
bool lastChanceInstalled = false;

[[noreturn]] void EndThisThread() noexcept {
  if (GetCurrentThreadId() == MainThreadId() || MainThreadId() == 0) {
    std::fflush(stdout);
    std::fflush(stderr);
    // Not ExitProcess: the C runtime and the system libraries would run their shutdown code while
    // other threads, stopped anywhere, may hold their locks.
    TerminateProcess(GetCurrentProcess(), 1);
  }
  ExitThread(1);
}

__attribute__((noinline)) [[noreturn]] void OnTerminate() {
  TThreadState& state = ThisThread();
  TExceptionObject object = TExceptionObject::Current();
  if (object.Empty()) {
    // Called by the program itself, or by the runtime with nothing in flight: reported from the
    // runtime's terminate, which called this handler.
    const ETerminateCalled error("std::terminate called without an exception");
    auto* frame = static_cast<std::uintptr_t*>(__builtin_frame_address(0));
    EndWithReport(error, __builtin_return_address(0), reinterpret_cast<std::uintptr_t>(frame) + 8, frame[0], 0);
  }
  const TRaiseRecord& raise = state.Raise;
  bool known = !object.Empty() && raise.Object.Object() == object.Object();
  EndUncaught(object, known ? raise.Address : nullptr, known ? raise.IsLanguageRaise : true,
              state.NotifyDepth > 0 || state.Impersonated != nullptr);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (!Globals().Installed.load()) return EXCEPTION_CONTINUE_SEARCH;
  if (ClassifyExceptionCode(record->ExceptionCode) == TSystemExceptionKind::Notification &&
      (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0)
    // A note for a debugger that nobody listened to (a thread's name, debug output): go on.
    return EXCEPTION_CONTINUE_EXECUTION;
  if (TakeUnhandledFault(record, pointers->ContextRecord)) return EXCEPTION_CONTINUE_EXECUTION;
  // It could not be continued (no stack left to continue on): end without a report.
  TThreadState& state = ThisThread();
  state.InLastChance = true;
  if (GetCurrentThreadId() != MainThreadId()) TerminateThread(GetCurrentThread(), 1);
  TerminateProcess(GetCurrentProcess(), 1);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void EndUncaught(const TExceptionObject& object, const void* address, bool isLanguageRaise, bool quiet,
                 UINT processExitCode) noexcept {
  TThreadState& state = ThisThread();
  if (state.InLastChance) {
    // Failed again while ending: nothing more is attempted.
    TerminateProcess(GetCurrentProcess(), 1);
  }
  state.InLastChance = true;
  if (!quiet) {
    if (TLastChanceNotify notify = Globals().LastChance.load()) {
      DWORD lastError = GetLastError();
      try {
        notify(object, address, isLanguageRaise, WasReportedAtRaise(object));
      } catch (...) {
      }
      SetLastError(lastError);
    }
  }
  if (processExitCode != 0) {
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), processExitCode);
  }
  EndThisThread();
}

void InstallLastChance() noexcept {
  if (lastChanceInstalled) return;
  InstallTerminationHandlers();
  previousTerminate = std::set_terminate(&OnTerminate);
  // Replaces the C runtime's own filter, which would hand the fault to the system's crash handling.
  previousFilter = SetUnhandledExceptionFilter(&OnUnhandledException);
  lastChanceInstalled = true;
}

void UninstallLastChance() noexcept {
  if (!lastChanceInstalled) return;
  UninstallTerminationHandlers();
  std::set_terminate(previousTerminate);
  SetUnhandledExceptionFilter(previousFilter);
  lastChanceInstalled = false;
}

}  // namespace pelloran::crashlog::intercept
