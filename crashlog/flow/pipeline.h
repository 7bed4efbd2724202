#pragma once
// The pipeline that turns one exception into one report: GoNotify at the raise point,
// ExceptionManager at the framework's top-level handler, ExceptNotify and InternalExceptNotify
// for the report itself.

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "crashlog/capture/exception_object.h"
#include "crashlog/capture/report_events.h"
#include "crashlog/capture/report_state.h"
#include "crashlog/infra/debuginfo/stack.h"
#include "crashlog/infra/diagnostics/diagnostics_exception.h"
#include "crashlog/infra/options/options.h"

namespace pelloran::crashlog {

// An exception object as the pipeline sees it: the object when there is one to hold (a C++
// exception caught by the framework) and what can be said about it.
struct TRaisedException {
  std::exception_ptr Object;
  TExceptionObjectInfo Info;
  TExceptionObject Raw;  // the thrown object and its type, as the raise point saw it
};

struct TExceptNotifyParams {
  const CONTEXT* Context = nullptr;  // none: the thread's captured context
  std::uintptr_t StackEnd = 0;       // none: the thread's stack base
  std::uintptr_t StackStart = 0;     // none: the thread's captured stack start
  std::uintptr_t StackOrigin = 0;    // StackStart is in a copy: where that copy starts in the stack
  std::uint32_t ThreadID = 0;
  std::string ControlClass;
  std::string ControlText;
};

// The error in progress as the application's event handlers see it (CurrentRecord).
struct TCrashExceptionRecord {
  const TRaisedException* ExceptionObject = nullptr;
  std::uintptr_t ExceptionAddress = 0;
  std::uint32_t ThreadID = 0;
  std::string LogText;
  TCrashModulesList* ModulesList = nullptr;
  const TCrashStackList* CallStack = nullptr;
  TCrashModuleOptions* ModuleOptions = nullptr;
};

// The application's event handlers; none is assigned in Pelloran itself. Each runs on the thread
// of the exception (RunOnExceptionThread); a failure inside one is ignored.
struct TCrashLogHandlers {
  // Clearing `handled` hands the exception back to the framework's own handler.
  std::function<void(const TCrashExceptionRecord&, bool& handled)> Notify;
  // Called before and after each action; clearing `execute` before it skips it.
  std::function<void(const TCrashExceptionRecord&, TCrashAction, bool& execute)> Action;
  // Called after a failed action; setting `retry` repeats it.
  std::function<void(const TCrashExceptionRecord&, TCrashAction, bool& retry)> ActionFailed;
};
TCrashLogHandlers& CrashLogHandlers();
// The record of the error being processed, or nullptr.
const TCrashExceptionRecord* CurrentRecord();

// Runs the action handler (when one is assigned) for `action` on the exception's thread; returns
// `execute` as the handler left it.
bool RunActionHandler(TCrashAction action, bool execute);
bool RunActionFailedHandler(TCrashAction action);

// The report of the error being processed (and of the last one, until the next begins).
TReportState& Report();
// The application's handlers as the report and delivery steps call them.
TReportEvents ReportEvents();

// The working option set: a copy of the options of the module the current exception belongs to.
TCrashModuleOptions& WorkingOptions();

// The raise points' notification (SetRaiseNotify) and the last chance (SetLastChanceNotify).
void OnRaise(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept;
void OnLastChance(const TExceptionObject& object, const void* address, bool isLanguageRaise,
                  bool reportedAtRaise) noexcept;

// Called by the raise points for every exception (language raises with the return address of
// the raising call, processor faults with the fault address).
void GoNotify(const TRaisedException& object, const void* address, bool isLanguageRaise) noexcept;

// Called by the framework-handler hooks inside their catch block; true: run the hooked handler.
bool ExceptionManager() noexcept;

// The entry for one report, also used by the freeze watcher. True: the reporter did not take the
// exception and the hooked handler is to run.
// `stackOrigin`: when [stackStart, stackEnd) is a copy of the thread's stack, where the copy's
// first byte lies in that stack (what the report's stack dump shows); 0 otherwise.
bool ExceptNotify(const TRaisedException& object, const void* address, bool isLanguageRaise,
                  std::uintptr_t stackEnd, std::uintptr_t stackStart, const CONTEXT* context,
                  std::uintptr_t stackOrigin = 0) noexcept;

bool InternalExceptNotify(const TRaisedException& object, const void* address, bool isLanguageRaise,
                          TExceptNotifyParams params) noexcept;

// The focused control's class name and text, the text masked for a password edit box. Never
// waits for a window that does not answer.
void CaptureFocusControl(std::string& className, std::string& text);

// ShortMessage: the message with a final "." (control characters kept).
std::string ShortMessageOf(const TExceptionObjectInfo& info, const std::string& messageOverride);

// Copies `text` to the clipboard as CF_TEXT, owned by the process's main window. False on failure.
bool CopyTextToClipboard(const std::string& text);

}  // namespace pelloran::crashlog
