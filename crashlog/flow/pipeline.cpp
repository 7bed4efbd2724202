#include "crashlog/flow/pipeline.h"

#include <windows.h>

#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/intercept.h"
#include "crashlog/capture/thread_stack.h"
#include "crashlog/capture/threads.h"
#include "crashlog/flow/exception_thread.h"
#include "crashlog/flow/flow_state.h"
#include "crashlog/flow/report_steps.h"
#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/options.h"

namespace pelloran::crashlog {

namespace {

// Keeps the thread's last-error value across the notification: the raising code may read it.
class TLastErrorKeeper {
 public:
  TLastErrorKeeper() noexcept : saved_(::GetLastError()) {}
  ~TLastErrorKeeper() { ::SetLastError(saved_); }

 private:
  DWORD saved_;
};

bool IsLibraryModule() {
  return reinterpret_cast<HMODULE>(TCrashModulesList::RunningModuleHandle()) != ::GetModuleHandleA(nullptr);
}

// The report of the error being processed, kept until the next one begins.
TReportState& LastReport() {
  static TReportState report;
  return report;
}

TCrashModuleOptions& WorkingOptions() {
  static TCrashModuleOptions working{"", false};
  return working;
}

// Notifies with the stack as it stood at the raise the layer kept: the handlers' frames (and the
// reporter's own) have overwritten it since.
bool NotifyWithRaiseStack(TRaisedException object, const TRaiseStack& kept, TReportMode mode = {}) {
  object.Address = kept.Address;
  object.IsLanguageRaise = kept.IsLanguageRaise;
  const auto start = reinterpret_cast<std::uintptr_t>(kept.Bytes.data());
  return ExceptNotify(object, start + kept.Bytes.size(), start, &kept.Context, kept.Origin, mode);
}

// Notifies with the stack as it stood at the object's original raise, when the layer kept it.
bool NotifyWithKeptStack(const TRaisedException& object) {
  TRaiseStack kept;
  if (!KeptRaiseStack(object.Raw, kept)) return ExceptNotify(object, 0, 0, nullptr);
  return NotifyWithRaiseStack(object, kept);
}

// A frame that may not let the exception through (noexcept) stops it: std::terminate ends the
// program there. The report says so after the exception's own message, and the published message
// says the same, so that the report's peer read agrees.
void AddTerminateReason(TRaisedException& raised) {
  constexpr std::string_view kReason = "std::terminate called: the exception left a noexcept function";
  TExceptionObjectInfo& info = raised.Info;
  info.Message = info.HasMessage && !info.Message.empty() ? info.Message + " (" + std::string(kReason) + ")"
                                                          : std::string(kReason);
  info.HasMessage = true;
  const TThreadCapture& capture = CurrentThreadCapture();
  PublishException(info, reinterpret_cast<const void*>(raised.RaiseInstruction()), raised.IsLanguageRaise,
                   capture.ThreadId != 0 ? capture.ThreadId : ::GetCurrentThreadId());
}

}  // namespace

void OnRaise(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept {
  try {
    GoNotify(object, address, isLanguageRaise);
  } catch (...) {
    HandleInternalError("GoNotify.");
  }
}

void PublishRaise(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept {
  try {
    std::string_view className, message;
    std::string converted;
    object.RaiseTexts(className, message, converted);
    const TThreadCapture& capture = CurrentThreadCapture();
    PublishException(className, message, reinterpret_cast<const void*>(RaiseInstructionOf(address, isLanguageRaise)),
                     isLanguageRaise, capture.ThreadId != 0 ? capture.ThreadId : ::GetCurrentThreadId());
  } catch (...) {
    // Nothing published: the report then uses the object's own class name and message.
  }
}

void OnLastChance(const TExceptionObject& object, const void* address, bool isLanguageRaise,
                  bool reportedAtRaise) noexcept {
  TraceEnter("HookedExceptProc", {address, reportedAtRaise});
  try {
    if (!reportedAtRaise && Flow().Installed && (object.Empty() || !object.IsAbort())) {
      PublishRaise(object, address, isLanguageRaise);
      TBusyClaim claim;
      if (claim.Held()) NotifyWithKeptStack(TRaisedException::Of(object, address, isLanguageRaise));
    }
  } catch (...) {
    HandleInternalError("HookedExceptProc.");
  }
  TraceLeave("HookedExceptProc");
}

void GoNotify(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept {
  TLastErrorKeeper keepLastError;
  TraceEnter("GoNotify", {address, isLanguageRaise});
  PublishRaise(object, address, isLanguageRaise);
  // Only a raise that is reported is described in full: most raises are caught by the program.
  if (!object.IsAbort() && Flow().Installed && !IsSynchronizeReRaise(address, isLanguageRaise)) {
    TBusyClaim claim;
    if (claim.Held()) {
      if (!IsExceptionHandled(object, address)) {
        TRaisedException raised = TRaisedException::Of(object, address, isLanguageRaise);
        if (LastHandlerSearch().End == THandlerSearch::TEnd::Terminates) AddTerminateReason(raised);
        NotifyWithKeptStack(raised);
      }
    }
  }
  TraceLeave("GoNotify");
}

bool ExceptionManager() noexcept {
  TraceEnter("ExceptionManager");
  bool result = true;
  try {
    const TExceptionObject current = TExceptionObject::Current();
    if (!current.Empty() && !current.IsAbort()) {
      result = false;
      TBusyClaim claim;
      if (claim.Held()) {
        TRaisedException object = TRaisedException::Of(current, nullptr, false);
        object.Object = std::current_exception();
        TRaiseStack kept;
        if (WasReportedAtRaise(current)) {
          // Reported where it arose (the catch of Synchronize, then raised again in the thread
          // that waited): not again, and the hooked handler does not run either.
          result = false;
        } else if (KeptRaiseStack(current, kept)) {
          // The stack as it stood at the original raise, whatever caught it first.
          result = NotifyWithRaiseStack(std::move(object), kept);
        } else {
          const TRaiseRecord raise = RaiseOfCurrentException();
          object.Address = raise.Address;
          object.IsLanguageRaise = raise.Object.Empty() ? !current.IsExternal() : raise.IsLanguageRaise;
          if (raise.Object.Empty()) {
            // Nothing was captured at the raise: the framework handler's own frame.
            CurrentThreadCapture().StackStart = static_cast<const std::uint8_t*>(__builtin_frame_address(0)) + 4;
            CurrentThreadCapture().Context.ContextFlags = 0;
          }
          result = ExceptNotify(object, 0, 0, nullptr);
        }
      }
    }
  } catch (...) {
    HandleInternalError("ExceptionManager.");
  }
  TraceLeave("ExceptionManager", {result});
  return result;
}

bool ReportHandledException(const TExceptionObject& given, bool skipDialog) noexcept {
  TraceEnter("ReportHandledException");
  bool reported = false;
  try {
    const TExceptionObject object = given.Empty() ? TExceptionObject::Current() : given;
    TBusyClaim claim;
    if (!object.Empty() && Flow().Installed && claim.Held()) {
      TRaisedException raised = TRaisedException::Of(object, nullptr, true);
      if (given.Empty()) raised.Object = std::current_exception();
      const TReportMode mode{true, skipDialog};
      TRaiseStack kept;
      if (KeptRaiseStack(object, kept)) {
        reported = !NotifyWithRaiseStack(std::move(raised), kept, mode);
      } else {
        // The raise was not kept: the report shows the reporting point.
        CurrentThreadCapture().StackStart = static_cast<const std::uint8_t*>(__builtin_frame_address(0)) + 4;
        CurrentThreadCapture().Context.ContextFlags = 0;
        raised.IsLanguageRaise = false;
        reported = !ExceptNotify(raised, 0, 0, nullptr, 0, mode);
      }
    }
  } catch (...) {
    HandleInternalError("ReportHandledException.");
  }
  TraceLeave("ReportHandledException", {reported});
  return reported;
}

bool ExceptNotify(const TRaisedException& object, std::uintptr_t stackEnd, std::uintptr_t stackStart,
                  const CONTEXT* context, std::uintptr_t stackOrigin, TReportMode mode) noexcept {
  TraceEnter("ExceptNotify", {object.Address, object.IsLanguageRaise});
  bool result = true;
  TThreadCapture& capture = CurrentThreadCapture();
  try {
    TCrashModuleOptionsEx* own = FindCurrentCrashLogOptions();
    if (own != nullptr && own->Active()) {
      TExceptNotifyParams params;
      // On the helper that reports a stack overflow, the capture is the overflowing thread's.
      params.ThreadID = capture.ThreadId != 0 ? capture.ThreadId : ::GetCurrentThreadId();
      params.Context = context != nullptr ? context : capture.Context.ContextFlags != 0 ? &capture.Context : nullptr;
      params.StackEnd = stackEnd != 0 ? stackEnd
                        : capture.StackBase != nullptr ? reinterpret_cast<std::uintptr_t>(capture.StackBase)
                                                       : CurrentStackBase();
      params.StackStart = stackStart != 0 ? stackStart : reinterpret_cast<std::uintptr_t>(capture.StackStart);
      params.StackOrigin = stackStart != 0 ? stackOrigin : 0;
      params.Mode = mode;
      CaptureFocusControl(params.ControlClass, params.ControlText);
      const bool useWorker = !IsIDEHost() && ::GetCurrentThreadId() == MainThreadId() &&
                             (!IsLibraryModule() || (!UnitsInitializing() && !UnitsFinalizing()));
      if (useWorker)
        result = RunOnExceptionThreadWorker([&] { return InternalExceptNotify(object, params); });
      else
        result = InternalExceptNotify(object, std::move(params));
    }
  } catch (...) {
    HandleInternalError("ExceptNotify.");
  }
  ClearLastRaisedException();
  capture.StackStart = nullptr;
  capture.Context.ContextFlags = 0;
  TraceLeave("ExceptNotify", {result});
  return result;
}

bool InternalExceptNotify(const TRaisedException& object, TExceptNotifyParams params) noexcept {
  TraceEnter("InternalExceptNotify", {object.Address, object.IsLanguageRaise});
  bool result = false;
  TErrorInProgress error(object, std::move(params), LastReport(), WorkingOptions());
  try {
    if (ChooseOptions(error) && PassesFilter(error)) {
      BuildReport(error);
      error.Progress = TReportStage::NotifyHandler;
      if (!error.Handled) {
        result = true;  // the Notify handler handed it back to the framework's handler
      } else {
        ShowError(error);
        SaveAndSend(error);
      }
      FinishReport(error);
    }
  } catch (...) {
    AbandonReport(error);
    HandleInternalError("InternalExceptNotify." + std::to_string(static_cast<int>(error.Progress)));
  }
  TraceLeave("InternalExceptNotify", {result});
  return result;
}

}  // namespace pelloran::crashlog
