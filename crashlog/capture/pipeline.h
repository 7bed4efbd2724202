#pragma once
// The pipeline that turns one exception into one report: GoNotify at the raise point,
// ExceptionManager at the framework's top-level handler, ExceptNotify and InternalExceptNotify
// for the report itself.

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>

#include "crashlog/infra/diagnostics/diagnostics_exception.h"
#include "crashlog/infra/options/options.h"

namespace pelloran::crashlog {

// An exception object as the pipeline sees it: the object when there is one to hold (a C++
// exception caught by the framework) and what can be said about it.
struct TRaisedException {
  std::exception_ptr Object;
  TExceptionObjectInfo Info;
};

struct TExceptNotifyParams {
  const CONTEXT* Context = nullptr;  // none: the thread's captured context
  std::uintptr_t StackEnd = 0;       // none: the thread's stack base
  std::uintptr_t StackStart = 0;     // none: the thread's captured stack start
  std::uint32_t ThreadID = 0;
  std::string ControlClass;
  std::string ControlText;
};

// The working option set: a copy of the options of the module the current exception belongs to.
TCrashModuleOptions& WorkingOptions();

// Called by the raise points for every exception (language raises with the return address of
// the raising call, processor faults with the fault address).
void GoNotify(const TRaisedException& object, const void* address, bool isLanguageRaise) noexcept;

// Called by the framework-handler hooks inside their catch block; true: run the hooked handler.
bool ExceptionManager() noexcept;

// The entry for one report, also used by the freeze watcher. True: the reporter did not take the
// exception and the hooked handler is to run.
bool ExceptNotify(const TRaisedException& object, const void* address, bool isLanguageRaise,
                  std::uintptr_t stackEnd, std::uintptr_t stackStart, const CONTEXT* context) noexcept;

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
