#include "batch/batch_runner.h"

#include "batch/batch_io.h"
#include "batch/control_files.h"
#include "batch/job_messages.h"
#include "batch/job_naming.h"
#include "batch/rmevents/partial_output.h"
#include "batch/rmevents/same_file_win.h"
#include "runtime/wide_text.h"

namespace pelloran {

namespace {

std::wstring ExitStatusText(uint32_t status) {
  if (status < 0xC0000000u) return std::to_wstring(status);
  wchar_t hex[16];
  swprintf(hex, 16, L"0x%08X", status);
  return hex;
}

}  // namespace

void ShowWarning(const std::string& text) {
  ::MessageBoxA(Application().MainFormHandle(), text.c_str(), kWarningCaption,
                MB_OK | MB_ICONEXCLAMATION);
}

bool OutputIsInput(const std::wstring& input, const std::wstring& output) {
  return rmevents::IsSameFile(input, output);
}

TBatchRunner::TBatchRunner(TJobList& jobs, TGauge& ggProgress, TMemo& logMemo, TButton& btnStart,
                           TTimer& monitorTimer)
    : jobs_(jobs),
      ggProgress_(ggProgress),
      logMemo_(logMemo),
      btnStart_(btnStart),
      monitorTimer_(monitorTimer) {
  monitorTimer_.SetEnabled(false);
  monitorTimer_.SetInterval(kMonitorInterval);
  AttachTick();
}

TBatchRunner::~TBatchRunner() {
  if (machine_.ToolRunning()) {
    tool_.End();
    RemoveLeftovers();
  }
}

void TBatchRunner::AttachTick() {
  monitorTimer_.SetOnTimer([this] { MonitorTimer(); });
}

void TBatchRunner::btnStartClick() {
  if (jobs_.Count() == 0) {
    Application().MessageBox(kMsgNothingToDo, Application().Title(), MB_OK);
    return;
  }
  btnStart_.SetEnabled(false);
  logMemo_.Clear();
  machine_.StartBatch();
  if (!folderLock_.TryTake()) {
    // Another window of this folder runs its batch: its log and control files are ours too.
    waitingForFolder_ = true;
    jobs_.SetStatus(0, kStatusWaitingForFolder);
    monitorTimer_.SetEnabled(true);
    return;
  }
  ProcessNext();
}

void TBatchRunner::ProcessNext() {
  // A job whose tool cannot start ends here and the loop takes the next row; only a started
  // tool hands the job over to the monitor.
  for (;;) {
    if (!machine_.NextRow(jobs_.Count())) {
      EndBatch(true);
      return;
    }
    const int row = machine_.CurrentIndex();
    LogText.clear();
    toolNames_ = {};
    partial_.clear();
    JobFiles job = jobs_.Files(row);
    bool launched = false;
    try {
      ggProgress_.SetMaxValue(FileSizeOf(job.Input));
      WriteEventsFile();
      WriteImageMapFile();
      launched = LaunchEventsTool(job.Input, job.Output, false);
    } catch (...) {
      // The error goes on to the application's handler; the monitor ends this job as failed
      // and carries on with the next one.
      machine_.StartFailed();
      monitorTimer_.SetEnabled(true);
      throw;
    }
    if (launched) {
      machine_.ToolStarted(SteadyMilliseconds());
      // Only now: a tick during the warnings above would watch a job that has no tool.
      monitorTimer_.SetEnabled(true);
      return;
    }
    if (launchFailure_ == LaunchFailure::ToolMissing) {
      EndBatch(false);  // one warning for the batch, not one per job
      return;
    }
    if (jobs_.Exists(row)) jobs_.SetStatus(row, kStatusFailed);
  }
}

bool TBatchRunner::LaunchEventsTool(const std::wstring& input, const std::wstring& output, bool show) {
  launchFailure_ = LaunchFailure::None;
  std::string folder = ExeDir();
  if (!FileExists(folder + kEventsToolName)) {
    launchFailure_ = LaunchFailure::ToolMissing;
    ShowWarning(kMsgToolMissing);
    return false;
  }
  if (!FileExists(input)) {
    launchFailure_ = LaunchFailure::InputMissing;
    ShowWarning(kMsgInputMissing);
    return false;
  }
  // What the tool would only fail at, said here with the file and the reason; the batch goes on.
  auto refuse = [this](const std::wstring& line) {
    launchFailure_ = LaunchFailure::Refused;
    logMemo_.Append(line);
    return false;
  };
  if (OutputIsInput(input, output)) return refuse(LogLine(kMsgOutputIsInput, {output}));
  if (unsigned long error = CheckReadable(input))
    return refuse(LogLine(kMsgInputUnreadable, {input, SystemErrorReason(error)}));
  const std::wstring outputFolder = output.substr(0, WideFileNameStart(output));
  if (unsigned long error = CheckFolderWritable(outputFolder))
    return refuse(LogLine(kMsgOutputFolderUnwritable,
                          {outputFolder.empty() ? output : outputFolder, SystemErrorReason(error)}));
  std::wstring unnamed;
  if (MakeToolNames(input, output, toolNames_, unnamed) != ToolNamesResult::Ok)
    return refuse(LogLine(kMsgNoShortName, {unnamed}));
  launchOutput_ = output;
  // The output stays until the tool puts a finished one in its place; the tool writes the
  // partial file, which the monitor measures.
  partial_ = rmevents::PartialOutputPath(toolNames_.WrittenOutput);
  partialWasThere_ = FileExists(partial_);
  if (toolNames_.TemporaryOutput) DeleteFileQuietly(toolNames_.WrittenOutput);  // a name of ours
  DeleteFileQuietly(folder + kToolLogFileName);
  if (unsigned long error = tool_.Start(
          EventsToolParameters(AnsiToWide(toolNames_.Input), AnsiToWide(toolNames_.Output)), show)) {
    launchFailure_ = LaunchFailure::Refused;
    logMemo_.Append(LogLine(kMsgToolNotStarted, {SystemErrorReason(error)}));
    toolNames_ = {};
    return false;
  }
  return true;
}

bool TBatchRunner::PlaceToolOutput() {
  if (!toolNames_.TemporaryOutput) return true;
  const std::wstring written = toolNames_.WrittenOutput;
  toolNames_ = {};
  if (!FileExists(written)) return true;  // the tool wrote nothing: the job failed anyway
  if (unsigned long error = RenameFile(written, launchOutput_)) {
    DeleteFileQuietly(written);
    logMemo_.Append(LogLine(kMsgOutputNotRenamed, {written, launchOutput_, SystemErrorReason(error)}));
    return false;
  }
  return true;
}

void TBatchRunner::RemoveLeftovers() {
  if (!partial_.empty() && !partialWasThere_) DeleteFileQuietly(partial_);
  if (toolNames_.TemporaryOutput) DeleteFileQuietly(toolNames_.WrittenOutput);
  toolNames_ = {};
}

void TBatchRunner::ReadLog() {
  const std::string log = ExeDir() + kToolLogFileName;
  LogText = FileExists(log) ? NormaliseLog(ReadWholeFile(log)) : std::string();
}

void TBatchRunner::MonitorTimer() {
  // Detached for the whole tick, message boxes included, so no tick runs inside another.
  monitorTimer_.SetOnTimer(nullptr);
  try {
    Tick();
  } catch (...) {
    // A job that cannot be followed ends as failed; the monitor carries on.
    if (machine_.Running() && machine_.ToolRunning()) {
      tool_.End();
      machine_.ToolEnded();
      RemoveLeftovers();
    }
    if (machine_.Running()) machine_.StartFailed();
    Application().HandleException(this);
  }
  AttachTick();
}

void TBatchRunner::WaitForFolder() {
  if (!folderLock_.TryTake()) return;
  waitingForFolder_ = false;
  if (jobs_.Exists(0) && jobs_.Row(0).Status == kStatusWaitingForFolder) jobs_.SetStatus(0, kStatusPending);
  monitorTimer_.SetEnabled(false);
  ProcessNext();
}

void TBatchRunner::Tick() {
  if (!machine_.Running()) {
    monitorTimer_.SetEnabled(false);
    return;
  }
  if (waitingForFolder_) {
    WaitForFolder();
    return;
  }
  ToolFacts facts;
  uint32_t exitStatus = 0;
  if (machine_.ToolRunning()) {
    // Whether it ended first: what it wrote before is then all there is.
    facts.exited = tool_.Ended(exitStatus);
    facts.nowMs = SteadyMilliseconds();
    facts.outputSize = FileSizeOf(partial_);
    facts.logSize = FileSizeOf(ExeDir() + kToolLogFileName);
  }
  const TickDecision d = machine_.Tick(facts);
  const int row = machine_.CurrentIndex();
  switch (d.kind) {
    case TickDecision::Wait:
      break;
    case TickDecision::Working:
      jobs_.SetStatus(row, kStatusWorking);
      break;
    case TickDecision::ToolEnded:
      FinishJob(JobEnd::Succeeded, exitStatus);  // judged there, with the log
      return;
    case TickDecision::EndTool:
      tool_.End();
      machine_.ToolEnded();
      if (machine_.RowGone()) {
        RemoveLeftovers();
        DropJob();
      } else {
        FinishJob(JobEnd::NoResponse, 0);
      }
      return;
    case TickDecision::DropJob:
      DropJob();
      return;
    case TickDecision::FailJob:
      FinishJob(JobEnd::Abandoned, 0);
      return;
  }
  if (d.progress >= 0 && d.progress <= ggProgress_.MaxValue()) ggProgress_.SetProgress(d.progress);
}

void TBatchRunner::FinishJob(JobEnd end, uint32_t exitStatus) {
  const int row = machine_.CurrentIndex();
  machine_.ToolEnded();
  std::wstring reason;
  if (end == JobEnd::Succeeded) {
    // The tool has ended: its log is complete.
    ReadLog();
    const bool toolSucceeded = exitStatus == 0 && LogMarksFinished(LogText);
    const bool placed = toolSucceeded ? PlaceToolOutput() : true;
    end = JudgeEndedTool(exitStatus, LogText, placed && FileExists(launchOutput_));
  } else if (end == JobEnd::NoResponse) {
    ReadLog();
  }
  const std::wstring status = ExitStatusText(exitStatus);
  switch (end) {
    case JobEnd::Crashed: reason = LogLine(kMsgToolCrashed, {status}); break;
    case JobEnd::NoLog: reason = LogLine(kMsgToolNoLog, {status}); break;
    case JobEnd::ExitStatus: reason = LogLine(kMsgToolExitStatus, {status}); break;
    case JobEnd::ErrorLine: reason = LogLine(kMsgToolErrorLine, {status}); break;
    case JobEnd::NoOutput: reason = LogLine(kMsgToolNoOutput, {launchOutput_}); break;
    case JobEnd::NoResponse:
      reason = LogLine(kMsgToolNoResponse, {std::to_wstring(machine_.NoProgressLimit() / 1000)});
      break;
    default: break;
  }
  if (end == JobEnd::Succeeded) {
    ggProgress_.SetProgress(ggProgress_.MaxValue());
    if (jobs_.Exists(row))
      jobs_.SetStatus(row, kStatusDonePrefix + std::to_string(ggProgress_.MaxValue() - FileSizeOf(launchOutput_)));
  } else {
    RemoveLeftovers();
    if (jobs_.Exists(row)) jobs_.SetStatus(row, kStatusFailed);
  }
  if (!LogText.empty()) logMemo_.Append(LogText);
  if (!reason.empty()) logMemo_.Append(reason);
  DeleteFileQuietly(ExeDir() + kToolLogFileName);
  monitorTimer_.SetEnabled(false);
  ProcessNext();
}

void TBatchRunner::DropJob() {
  uint32_t exitStatus = 1;
  if (machine_.ToolRunning()) {
    tool_.Ended(exitStatus);
    machine_.ToolEnded();
    ReadLog();
    if (exitStatus == 0 && LogMarksFinished(LogText) && !LogHasErrorLine(LogText)) {
      PlaceToolOutput();
    } else {
      RemoveLeftovers();
    }
    DeleteFileQuietly(ExeDir() + kToolLogFileName);
  }
  toolNames_ = {};
  monitorTimer_.SetEnabled(false);
  ProcessNext();
}

void TBatchRunner::EndBatch(bool announce) {
  // The folder is free for other windows before the message waits for the user.
  folderLock_.Release();
  waitingForFolder_ = false;
  machine_.EndBatch();
  monitorTimer_.SetEnabled(false);
  if (announce) Application().MessageBox(kMsgAllDone, Application().Title(), MB_OK);
  ggProgress_.SetMaxValue(0);
  btnStart_.SetEnabled(true);
}

void TBatchRunner::RowsRemoving(int row) { machine_.RowsRemoving(row); }

void TBatchRunner::WindowClosing() {
  if (machine_.WindowClosing()) {
    tool_.End();
    RemoveLeftovers();
    DeleteFileQuietly(ExeDir() + kToolLogFileName);
  }
  folderLock_.Release();
  waitingForFolder_ = false;
  monitorTimer_.SetEnabled(false);
}

}  // namespace pelloran
