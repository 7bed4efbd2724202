// The exception flow's side of the error dialog: the error in progress handed to the dialog, and
// the user's decisions handed back to the flow.

#include "crashlog/flow/error_dialog_flow.h"

#include "crashlog/capture/report_gather.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "crashlog/flow/flow_state.h"
#include "crashlog/infra/options/options.h"
#include "crashlog/infra/web/web.h"

namespace pelloran::crashlog {

namespace {

TErrorDialogData ErrorDataOf(const TErrorInProgress& error) {
  TErrorDialogData data;
  data.Options = error.Options.Values();
  data.ShortMessage = error.ShortMessage;
  data.GeneralText = error.Report.GeneralText;
  data.CpuText = error.Report.CpuText;
  data.CallStack = error.CallStack;
  if (error.Modules != nullptr) data.Modules = ModuleRows(*error.Modules);
  data.ErrorCount = Flow().ErrorCount;
  data.Duplicate = error.Duplicate;
  data.GuiApplication = IsGUIApplication();
  data.SendRequested = error.SendRequested;
  data.ScreenshotRequested = error.ScreenshotRequested;
  data.ReproduceText = error.Report.ReproduceText;
  return data;
}

}  // namespace

bool ShowErrorDialog(TErrorInProgress& error) {
  TErrorDialogData data = ErrorDataOf(error);
  if (CrashLogHandlers().Action)
    data.TerminateHandler = [&record = error.Record](bool& terminate) {
      terminate = RunActionHandler(record, TCrashAction::Terminate, terminate);
    };
  const bool shown = RunErrorDialog(data);
  error.SendRequested = data.SendRequested;
  error.ScreenshotRequested = data.ScreenshotRequested;
  error.CopyRequested = data.CopyRequested;
  error.TerminateRequested = data.TerminateRequested;
  return shown;
}

void ShowReproduceDialog(TErrorInProgress& error) {
  TErrorDialogData data = ErrorDataOf(error);
  RunReproduceDialog(data);
  error.Report.ReproduceText = data.ReproduceText;
}

}  // namespace pelloran::crashlog
