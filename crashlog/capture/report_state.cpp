#include "crashlog/capture/report_state.h"

#include "crashlog/capture/log_file.h"
#include "crashlog/capture/log_file_pending.h"
#include "crashlog/capture/log_lock.h"
#include "base/exceptions.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/option_texts.h"
#include "crashlog/infra/options/options.h"

#include <array>

namespace pelloran::crashlog {

const std::string& TReportState::BuildReport(const TCrashOptionValues& options, const TReportInputs& inputs) {
  TraceEnter("BuildReport");
  TGeneralText general = ComposeGeneralText(options, inputs.General);
  GeneralText = std::move(general.Text);
  DuplicateValues = std::move(general.Duplicate);
  ListsText = ComposeListsText(options, inputs.CallStack, inputs.Modules);
  CpuText = ComposeCpuText(options, inputs.Cpu);
  ReportText = JoinReport(GeneralText, ListsText, CpuText);
  SendText = ReportText;
  reproduceFolded_ = false;
  TraceLeave("BuildReport", {ReportText.size()});
  return ReportText;
}

const std::string& TReportState::RebuildReport(const TCrashOptionValues& options, const TGeneralInputs& general) {
  TraceEnter("RebuildReport");
  TGeneralText rebuilt = ComposeGeneralText(options, general);
  GeneralText = std::move(rebuilt.Text);
  DuplicateValues = std::move(rebuilt.Duplicate);
  ReportText = JoinReport(GeneralText, ListsText, CpuText);
  SendText = ReportText;
  reproduceFolded_ = false;
  TraceLeave("RebuildReport", {ReportText.size()});
  return ReportText;
}

bool TReportState::IsDuplicateError(const TCrashModuleOptions& options) {
  TraceEnter("IsDuplicateError");
  bool found = false;
  if ((options.ReportOptions() & kSkipDuplicates) != 0) {
    const std::array<std::string, 4> values = {DuplicateValues.Address, DuplicateValues.Module,
                                               DuplicateValues.Type, DuplicateValues.Message};
    try {
      found = TLogFile(options.OutputLogFile()).FindEntry(kDuplicateKeys, values);
    } catch (...) {
      // A log that cannot be read holds no duplicate; logging it will report the failure.
    }
    // A report waiting to be logged is as good as logged.
    if (!found) found = FindLogEntry(TPendingReports(options.OutputLogFile()).Entries(), kDuplicateKeys, values);
  }
  Duplicate = found;
  TraceLeave("IsDuplicateError", {found});
  return found;
}

void TReportState::FoldReproduceSteps(const TCrashOptionValues& options) {
  if (reproduceFolded_ || (options.ReportOptions & kAskReproduceSteps) == 0 || ReproduceText.empty()) return;
  ReportText.append("\r\n").append(TextOf(options, TCrashText::RequestCaption)).append(":\r\n").append(40, '-').append("\r\n");
  ReportText.append(ReproduceText);
  SendText = ReportText;
  reproduceFolded_ = true;
}

void TReportState::SaveToLogFile(const TCrashModuleOptions& options, const TReportEvents& events) {
  TraceEnter("SaveToLogFile");
  const TCrashOptionValues& values = options.Values();
  bool allowed = true;  // the BeforeLog handler's answer holds for every attempt
  ClearLastError();
  if (values.SaveLog && events.ActionHandler) events.ActionHandler(TCrashAction::BeforeLog, allowed);
  if (!Duplicate) FoldReproduceSteps(values);

  bool execute = allowed;
  bool retry = false;
  bool failed = false;
  do {
    ClearLastError();
    execute = allowed;
    failed = false;
    try {
      // Held from the read to the replace: another process's save in between would be lost.
      const TLogLock lock(options.OutputLogFile(), kLogLockTimeoutMs);
      if (!lock.Held())
        throw EInOutError("The error log \"" + options.OutputLogFile() + "\" is held by another process.", 0);
      TLogFile log(options.OutputLogFile());
      // Reports that could not be logged before come first, in their order.
      const TPendingReports pending(options.OutputLogFile());
      log.AddEntries(pending.Entries(), values.MaxLoggedErrors);
      if (!Duplicate) log.AddEntry(ReportText, values.MaxLoggedErrors);
      if (values.SendWholeLog) SendText = log.GetText();
      if (execute && values.SaveLog) {
        log.Save();
        pending.RemoveMerged();
      }
    } catch (...) {
      ReportSectionError(eeLogError, "Log");
      execute = false;
      failed = true;
    }
    retry = false;
    // A skipped save is not a failure: the failure handler hears only of real ones.
    if (values.SaveLog && failed && events.ActionFailedHandler) events.ActionFailedHandler(TCrashAction::AfterLog, retry);
  } while (retry);
  // Not written, and not vetoed: kept to be logged at the next save or start.
  if (failed && allowed && values.SaveLog && !Duplicate)
    KeepPendingReport(options.OutputLogFile(), ReportText, values.MaxLoggedErrors);

  if (values.SaveLog && events.ActionHandler) events.ActionHandler(TCrashAction::AfterLog, execute);
  TraceLeave("SaveToLogFile", {execute});
}

}  // namespace pelloran::crashlog
