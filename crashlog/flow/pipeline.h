#pragma once
// The flow that turns one exception into one report: GoNotify at the raise point,
// ExceptionManager at the framework's top-level handler, ExceptNotify and InternalExceptNotify
// for the report itself (its steps: report_steps.h).

#include <windows.h>

#include <cstdint>
#include <string>

#include "crashlog/capture/exception_object.h"
#include "crashlog/flow/error_in_progress.h"
#include "crashlog/flow/handlers.h"
#include "crashlog/flow/raised_exception.h"

namespace pelloran::crashlog {

// The raise points' notification (SetRaiseNotify) and the last chance (SetLastChanceNotify).
void OnRaise(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept;
void OnLastChance(const TExceptionObject& object, const void* address, bool isLanguageRaise,
                  bool reportedAtRaise) noexcept;

// Called by the raise points for every exception: publishes it on the EXCEPT channel and reports
// it now when no frame of the program will catch it.
void GoNotify(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept;
// Publishes a raise on this module's EXCEPT channel with the thread and the address its report
// will name.
void PublishRaise(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept;

// Called by the framework-handler hooks inside their catch block; true: run the hooked handler.
bool ExceptionManager() noexcept;

// The entry for one report, also used by the freeze watcher. True: the reporter did not take the
// exception and the hooked handler is to run.
// `stackOrigin`: when [stackStart, stackEnd) is a copy of the thread's stack, where the copy's
// first byte lies in that stack (what the report's stack dump shows); 0 otherwise.
bool ExceptNotify(const TRaisedException& object, std::uintptr_t stackEnd, std::uintptr_t stackStart,
                  const CONTEXT* context, std::uintptr_t stackOrigin = 0, TReportMode mode = {}) noexcept;

// The program's own report of an exception it caught (`object`, or the one being handled when it
// is empty), with the stack of its original raise when the interception kept it, else of the
// reporting point. False when the reporter did not take it (not installed, no exception, another
// report running on this thread, the Notify handler gave it back).
bool ReportHandledException(const TExceptionObject& object, bool skipDialog) noexcept;

bool InternalExceptNotify(const TRaisedException& object, TExceptNotifyParams params) noexcept;

// The focused control's class name and text, the text masked for a password edit box. Never
// waits for a window that does not answer.
void CaptureFocusControl(std::string& className, std::string& text);

}  // namespace pelloran::crashlog
