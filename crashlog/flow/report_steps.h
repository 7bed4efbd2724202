#pragma once
// The steps of InternalExceptNotify, in order. Each sets the error's Progress to the numbers of
// its own stages as it reaches them, so that a failure names the stage it failed in.
//
//   ChooseOptions   1      the raise instruction, the peer channel, the working options
//   PassesFilter    2      the filter classes and their messages
//   BuildReport     3-7    the call stack, the report, the duplicate test, the Notify handler
//   (the flow)      8      a handler that took the exception back ends the report here
//   ShowError       9-14   the count, the screenshot, the dialog (or page, or console), the steps
//                          to reproduce
//   SaveAndSend     15-16  the log, the clipboard, the mail
//   FinishReport    17-19  the screenshot removed, the record withdrawn, the termination

#include <string>

#include "crashlog/flow/error_in_progress.h"
#include "crashlog/flow/raised_exception.h"

namespace pelloran::crashlog {

// False: the exception is not reported (a raise that repeats one reported in the main thread, or
// no module list to report with).
bool ChooseOptions(TErrorInProgress& error);
// False: a filter class matched (its message, when it has one, was shown).
bool PassesFilter(TErrorInProgress& error);
void BuildReport(TErrorInProgress& error);
void ShowError(TErrorInProgress& error);
void SaveAndSend(TErrorInProgress& error);
void FinishReport(TErrorInProgress& error);
// After a failure in any step: what FinishReport would have cleaned up.
void AbandonReport(TErrorInProgress& error) noexcept;

// A raise from the point where a thread raises again the exception of a method that the main
// thread ran for it (Synchronize): that exception was reported in the main thread, where it arose.
bool IsSynchronizeReRaise(const void* address, bool isLanguageRaise);
inline bool IsSynchronizeReRaise(const TRaisedException& object) {
  return IsSynchronizeReRaise(object.Address, object.IsLanguageRaise);
}

// ShortMessage: the message with a final "." (control characters kept).
std::string ShortMessageOf(const TExceptionObjectInfo& info, const std::string& messageOverride);

// Copies `text` to the clipboard as CF_TEXT, owned by the process's main window. False on failure.
bool CopyTextToClipboard(const std::string& text);

}  // namespace pelloran::crashlog
