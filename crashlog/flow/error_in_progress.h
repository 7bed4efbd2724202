#pragma once
// One error from the moment the flow takes it until its report is done: what each step of
// InternalExceptNotify reads and leaves for the next, and what the dialogs are shown and hand
// back. The steps and the dialogs get it as a parameter; only the application's handlers reach it
// through CurrentRecord, while its record is published.

#include <windows.h>

#include <cstdint>
#include <string>

#include "crashlog/capture/report_gather.h"
#include "crashlog/capture/report_state.h"
#include "crashlog/flow/handlers.h"
#include "crashlog/flow/raised_exception.h"
#include "crashlog/infra/debuginfo/stack.h"

namespace pelloran::crashlog {

class TCrashModulesList;
class TCrashModuleOptions;

// A report the program asks for (crashlog::Report) of an exception it caught itself: it never
// ends the program, is not counted toward TerminateAfterErrors and shows no terminate button.
struct TReportMode {
  bool Handled = false;
  bool SkipDialog = false;  // no dialog, whatever the options say
};

// Where the report's stack and registers come from.
struct TExceptNotifyParams {
  const CONTEXT* Context = nullptr;  // none: the thread's captured context
  std::uintptr_t StackEnd = 0;       // none: the thread's stack base
  std::uintptr_t StackStart = 0;     // none: the thread's captured stack start
  std::uintptr_t StackOrigin = 0;    // StackStart is in a copy: where that copy starts in the stack
  std::uint32_t ThreadID = 0;
  std::string ControlClass;
  std::string ControlText;
  TReportMode Mode;
};


// The stages of one report, numbered as an internal error names them ("InternalExceptNotify.7").
enum class TReportStage : int {
  Options = 1,            // the options and the raise's facts
  Filter = 2,             // the options' exception filter
  StackBounds = 3,        // the stack's ends
  CallStack = 4,          // the call stack (4 to 6: with the creator's stack, top duplicate removed)
  Facts = 7,              // modules, machine and report text
  NotifyHandler = 8,      // the Notify handler kept or handed back the error
  ErrorCount = 9,         // counted toward TerminateAfterErrors
  ShortMessage = 10,      // the short message and the screenshot
  DialogDecision = 11,    // whether the dialog is shown
  BeforeShow = 12,        // the BeforeShow handler
  Dialog = 13,            // the dialog and the AfterShow handler
  ReproduceSteps = 14,    // the reproduce-steps dialog
  LogAndClipboard = 15,   // the log file and the clipboard
  Send = 16,              // mail
  Withdraw = 17,          // the record withdrawn
  Cleared = 18,           // the call stack cleared
  Terminate = 19,         // ending or restarting the program
};

struct TErrorInProgress {
  TErrorInProgress(const TRaisedException& object, TExceptNotifyParams params, TReportState& report,
                   TCrashModuleOptions& options) noexcept
      : Object(object), Params(std::move(params)), Report(report), Options(options) {}
  ~TErrorInProgress();
  TErrorInProgress(const TErrorInProgress&) = delete;
  TErrorInProgress& operator=(const TErrorInProgress&) = delete;

  const TRaisedException& Object;
  TExceptNotifyParams Params;
  // Kept from one error to the next: the duplicate test compares with the last report.
  TReportState& Report;
  // The working option set: a copy of the options of the module the exception belongs to.
  TCrashModuleOptions& Options;

  std::uintptr_t Address = 0;  // the instruction the report names (RaiseInstruction)
  TCrashModulesList* Modules = nullptr;
  TReportCapture Capture;
  TCrashStackList CallStack;
  TCrashExceptionRecord Record;
  std::string ScreenshotFile;  // taken before anything is shown; deleted when the report is done

  // What the options, the user and the handlers decided.
  bool Handled = false;
  bool Execute = false;
  bool Duplicate = false;
  bool SendRequested = false;
  bool ScreenshotRequested = false;
  bool CopyRequested = false;
  bool TerminateRequested = false;
  std::string ShortMessage;

  // The stage reached: a failure is reported as "InternalExceptNotify.<number of the stage>".
  TReportStage Progress = TReportStage::Options;

  // Makes Record what CurrentRecord returns, until WithdrawRecord (or the end of this error).
  void PublishRecord() noexcept;
  void WithdrawRecord() noexcept;
};

// The error whose record is published, or nullptr.
TErrorInProgress* CurrentError() noexcept;

}  // namespace pelloran::crashlog
