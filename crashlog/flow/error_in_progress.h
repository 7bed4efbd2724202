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

  // The step reached: a failure is reported as "InternalExceptNotify.<Progress>".
  int Progress = 1;

  // Makes Record what CurrentRecord returns, until WithdrawRecord (or the end of this error).
  void PublishRecord() noexcept;
  void WithdrawRecord() noexcept;
};

// The error whose record is published, or nullptr.
TErrorInProgress* CurrentError() noexcept;

}  // namespace pelloran::crashlog
