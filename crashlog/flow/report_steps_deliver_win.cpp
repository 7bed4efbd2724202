// The steps that put a built report in front of the user and where it goes: the dialog (or the web
// page, or the console), the log, the clipboard and the mail; then the end of the error.

#include <windows.h>

#include "crashlog/capture/clipboard.h"
#include "crashlog/capture/report_text.h"
#include "crashlog/delivery/screenshot.h"
#include "crashlog/delivery/send_report.h"
#include "crashlog/flow/error_dialog_flow.h"
#include "crashlog/flow/flow_state.h"
#include "crashlog/flow/framework_hooks.h"
#include "crashlog/flow/report_steps.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/options/options.h"
#include "crashlog/infra/options/option_texts.h"
#include "crashlog/infra/web/intraweb.h"
#include "crashlog/infra/web/web.h"
#include "crashlog/infra/web/web_page.h"

namespace pelloran::crashlog {

namespace {

bool WriteToConsole(const std::string& text) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  return ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

void DeleteScreenshot(TErrorInProgress& error) noexcept {
  if (!error.ScreenshotFile.empty()) ::DeleteFileA(error.ScreenshotFile.c_str());
  error.ScreenshotFile.clear();
}

// Taken before anything is shown, so that it shows the program as it was.
void TakeScreenshot(TErrorInProgress& error) {
  if (!error.Options.AttachScreenshot()) return;
  error.ScreenshotFile = ScreenshotPath(true);
  try {
    CaptureScreenshotPng(error.ScreenshotFile);
  } catch (...) {
    error.ScreenshotFile.clear();
  }
}

// The report where this kind of program shows it: an IntraWeb page, the web server's answer, the
// console, or the error dialog. True when it was shown.
bool PresentReport(TErrorInProgress& error) {
  const TCrashModuleOptions& options = error.Options;
  const std::string pageText = PageIntro(options.Values()) + error.Report.ReportText;
  if (IntraWebHookInstalled()) {
    bool shown = false;
    RunOnRecordThread(error.Record, [&] { shown = ShowIntraWebError(pageText, TextOf(options.Values(), TCrashText::ErrorCaption)); });
    return shown;
  }
  if (IsWebApplication()) return WriteWebError(ErrorPage(TextOf(options.Values(), TCrashText::ErrorCaption), pageText), error.Params.ThreadID);
  if (IsConsoleProgram()) {
    const bool written = WriteToConsole(pageText + "\r\n");
    if (!written) ReportSectionError(eeShowError, "Console");
    return written;
  }
  const bool shown = ShowErrorDialog(error);
  // A dialog that failed says why itself ("Cannot show the DialogBox window."); the section's
  // general text would only replace that with less.
  if (!shown && LastErrorCode() == eeNone) ReportSectionError(eeShowError, "GUI");
  return shown;
}

void SendReport(TErrorInProgress& error) {
  TReportDelivery delivery;
  delivery.Options = &error.Options;
  delivery.SendText = error.Report.SendText;
  delivery.ReportText = error.Report.ReportText;
  delivery.ReproduceText = error.Report.ReproduceText;
  delivery.ScreenshotRequested = error.ScreenshotRequested && !error.ScreenshotFile.empty();
  delivery.ScreenshotPath = error.ScreenshotFile;
  if (!error.Capture.Added.DumpFile.empty()) delivery.Files.push_back(error.Capture.Added.DumpFile);
  delivery.Files.insert(delivery.Files.end(), error.Capture.Added.Files.begin(), error.Capture.Added.Files.end());
  delivery.GuiApplication = IsGUIApplication();
  const TCrashExceptionRecord& record = error.Record;
  if (CrashLogHandlers().Action) {
    delivery.BeforeSend = [&record](bool execute) { return RunActionHandler(record, TCrashAction::BeforeSend, execute); };
    delivery.AfterSend = [&record](bool execute) { return RunActionHandler(record, TCrashAction::AfterSend, execute); };
  }
  if (CrashLogHandlers().ActionFailed)
    delivery.SendFailed = [&record] { return RunActionFailedHandler(record, TCrashAction::AfterSend); };
  error.Execute = SendErrorReport(delivery);  // its outcome, as the AfterSend handler saw it
}

}  // namespace

void ShowError(TErrorInProgress& error) {
  const TCrashModuleOptions& options = error.Options;
  error.Progress = TReportStage::ErrorCount;
  if (!error.Params.Mode.Handled) ++Flow().ErrorCount;  // TerminateAfterErrors counts unhandled errors
  error.Progress = TReportStage::ShortMessage;
  error.ShortMessage = ShortMessageOf(error.Object.Info, error.Capture.Exception.MessageOverride);
  TakeScreenshot(error);

  error.Progress = TReportStage::DialogDecision;
  if (options.ShowDialog()) {
    error.Progress = TReportStage::BeforeShow;
    ClearLastError();
    error.Execute = RunActionHandler(error.Record, TCrashAction::BeforeShow, true);
    error.Progress = TReportStage::Dialog;
    if (error.Execute) {
      error.Execute = PresentReport(error);
      if (error.Execute) error.Execute = RunActionHandler(error.Record, TCrashAction::AfterShow, error.Execute);
    }
  }
  error.Progress = TReportStage::ReproduceSteps;
  if ((options.ReportOptions() & kAskReproduceSteps) != 0 && IsGUIApplication() && !error.Duplicate &&
      (options.SendMode() != 0 || options.SaveLog()))
    ShowReproduceDialog(error);
}

void SaveAndSend(TErrorInProgress& error) {
  const TCrashModuleOptions& options = error.Options;
  TReportState& report = error.Report;
  error.Progress = TReportStage::LogAndClipboard;
  // Only when a restart was asked for and will be refused (TerminateProcessNow does not restart a
  // program that failed again within a minute of its restart).
  if (error.TerminateRequested && options.TerminateAction() == 1 && RestartedRecently()) {
    report.ReportText += "\r\n" + options.RestartRefusedNote();
    report.SendText = report.ReportText;
    error.Record.LogText = report.ReportText;
  }
  if (options.SaveLog()) report.SaveToLogFile(options, ReportEventsFor(error.Record));
  if (error.CopyRequested) CopyTextToClipboard(report.ReportText);

  error.Progress = TReportStage::Send;
  if (options.SendMode() != 0 && !error.Duplicate && error.SendRequested) SendReport(error);
}

void FinishReport(TErrorInProgress& error) {
  DeleteScreenshot(error);
  error.Progress = TReportStage::Withdraw;
  error.WithdrawRecord();
  error.CallStack.clear();
  error.Progress = TReportStage::Cleared;
  if (error.TerminateRequested && !error.Params.Mode.Handled) {
    error.Progress = TReportStage::Terminate;
    TerminateProcessNow(error.Options.TerminateAction() == 1);
  }
}

void AbandonReport(TErrorInProgress& error) noexcept {
  error.WithdrawRecord();
  DeleteScreenshot(error);
}

bool CopyTextToClipboard(const std::string& text) {
  return CopyReportToClipboard(text, FindMainWindow(::GetCurrentProcessId()));
}

}  // namespace pelloran::crashlog
