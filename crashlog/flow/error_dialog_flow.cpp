// The exception flow's side of the error dialog: the error in progress handed to the dialog, and
// the user's decisions handed back to the flow.

#include "crashlog/flow/error_dialog_flow.h"

#include "crashlog/flow/flow_state.h"
#include "crashlog/flow/pipeline.h"
#include "crashlog/capture/report_gather.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "crashlog/infra/web/web.h"

namespace pelloran::crashlog {

namespace {

TErrorDialogData CurrentErrorData() {
  const TReportFlowState& flow = Flow();
  TErrorDialogData data;
  data.Options = WorkingOptions().Values();
  data.ShortMessage = flow.ShortMessage;
  data.GeneralText = Report().GeneralText;
  data.CpuText = Report().CpuText;
  if (const TCrashExceptionRecord* record = CurrentRecord()) {
    if (record->CallStack != nullptr) data.CallStack = *record->CallStack;
    if (record->ModulesList != nullptr) data.Modules = ModuleRows(*record->ModulesList);
  }
  data.ErrorCount = flow.ErrorCount;
  data.Duplicate = flow.Duplicate;
  data.GuiApplication = IsGUIApplication();
  data.SendRequested = flow.SendRequested;
  data.ScreenshotRequested = flow.ScreenshotRequested;
  data.ReproduceText = Report().ReproduceText;
  return data;
}

}  // namespace

bool ShowErrorDialog() {
  TErrorDialogData data = CurrentErrorData();
  if (CrashLogHandlers().Action)
    data.TerminateHandler = [](bool& terminate) { terminate = RunActionHandler(TCrashAction::Terminate, terminate); };
  const bool shown = RunErrorDialog(data);
  TReportFlowState& flow = Flow();
  flow.SendRequested = data.SendRequested;
  flow.ScreenshotRequested = data.ScreenshotRequested;
  flow.CopyRequested = data.CopyRequested;
  flow.TerminateRequested = data.TerminateRequested;
  return shown;
}

void ShowReproduceDialog() {
  TErrorDialogData data = CurrentErrorData();
  RunReproduceDialog(data);
  Report().ReproduceText = data.ReproduceText;
}

}  // namespace pelloran::crashlog
