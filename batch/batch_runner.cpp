#include "batch/batch_runner.h"

#include "batch/batch_io.h"
#include "batch/control_files.h"
#include "batch/job_messages.h"
#include "batch/job_naming.h"

namespace pelloran {

void ShowWarning(const std::string& text) {
  ::MessageBoxA(Application().MainFormHandle(), text.c_str(), kWarningCaption,
                MB_OK | MB_ICONEXCLAMATION);
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
  CurrentIndex = -1;
  running_ = true;
  ProcessNext();
}

void TBatchRunner::ProcessNext() {
  // A job whose tool cannot start ends here and the loop takes the next row; only a started
  // tool hands the job over to the monitor.
  for (;;) {
    ++CurrentIndex;
    if (CurrentIndex > jobs_.Count() - 1) {
      EndBatch(true);
      return;
    }
    LastSize = -1;
    LogText.clear();
    pendingEnd_ = PendingEnd::None;
    toolStarted_ = false;
    toolNames_ = {};
    JobFiles job = jobs_.Files(CurrentIndex);
    bool launched = false;
    try {
      ggProgress_.SetMaxValue(FileSizeOf(job.Input));
      WriteEventsFile();
      WriteImageMapFile();
      launched = LaunchEventsTool(job.Input, job.Output, false);
    } catch (...) {
      // The error goes on to the application's handler; the monitor ends this job as failed
      // and carries on with the next one.
      pendingEnd_ = PendingEnd::Failed;
      monitorTimer_.SetEnabled(true);
      throw;
    }
    if (launched) {
      // Only now: a tick during the warnings above would watch a job that has no tool.
      monitorTimer_.SetEnabled(true);
      return;
    }
    if (launchFailure_ == LaunchFailure::ToolMissing) {
      EndBatch(false);  // one warning for the batch, not one per job
      return;
    }
    if (jobs_.Exists(CurrentIndex)) jobs_.SetStatus(CurrentIndex, kStatusFailed);
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
  DeleteFileQuietly(output);
  if (toolNames_.TemporaryOutput) DeleteFileQuietly(toolNames_.WrittenOutput);
  DeleteFileQuietly(folder + kToolLogFileName);
  StartEventsTool(EventsToolParameters(toolNames_.Input, toolNames_.Output), show);
  toolStarted_ = true;
  return true;
}

std::wstring TBatchRunner::WatchedOutput() const {
  // Without a temporary name the tool writes the output as the row holds it at this moment.
  return toolNames_.TemporaryOutput ? toolNames_.WrittenOutput : jobs_.Files(CurrentIndex).Output;
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

void TBatchRunner::MonitorTimer() {
  // Detached for the whole tick, message boxes included, so no tick runs inside another.
  monitorTimer_.SetOnTimer(nullptr);
  try {
    Tick();
  } catch (...) {
    // A job that cannot be followed ends as failed once its tool is done; the monitor carries on.
    if (running_) pendingEnd_ = PendingEnd::Failed;
    Application().HandleException(this);
  }
  AttachTick();
}

void TBatchRunner::Tick() {
  if (!running_) {
    monitorTimer_.SetEnabled(false);
    return;
  }
  if (!jobs_.Exists(CurrentIndex) && pendingEnd_ == PendingEnd::None) pendingEnd_ = PendingEnd::RowGone;
  if (pendingEnd_ != PendingEnd::None) {
    EndAbandonedJob();
    return;
  }

  const std::wstring watched = WatchedOutput();
  const int64_t size = FileSizeOf(watched);
  if (size == LastSize) {
    const std::string log = ExeDir() + kToolLogFileName;
    LogText = FileExists(log) ? NormaliseLog(ReadWholeFile(log)) : std::string();
    if (LogMarksFinished(LogText)) {
      ggProgress_.SetProgress(ggProgress_.MaxValue());
      logMemo_.Append(LogText);
      const bool temporary = toolNames_.TemporaryOutput;
      const std::wstring output = temporary ? launchOutput_ : watched;
      if (PlaceToolOutput() && FileExists(output))
        jobs_.SetStatus(CurrentIndex, kStatusDonePrefix + std::to_string(ggProgress_.MaxValue() - LastSize));
      else
        jobs_.SetStatus(CurrentIndex, kStatusFailed);
      DeleteFileQuietly(log);
      toolStarted_ = false;
      monitorTimer_.SetEnabled(false);
      ProcessNext();
      return;
    }
  } else {
    jobs_.SetStatus(CurrentIndex, kStatusWorking);
  }
  LastSize = size;
  if (size <= ggProgress_.MaxValue()) ggProgress_.SetProgress(size);
}

void TBatchRunner::EndAbandonedJob() {
  const std::string log = ExeDir() + kToolLogFileName;
  if (toolStarted_) {
    // The job's tool is still at work: starting the next one now would let this tool's log,
    // which comes later, end the next job. Its "***" says it is done.
    LogText = FileExists(log) ? NormaliseLog(ReadWholeFile(log)) : std::string();
    if (!LogMarksFinished(LogText)) return;
    DeleteFileQuietly(log);
    if (pendingEnd_ == PendingEnd::Failed) logMemo_.Append(LogText);
    PlaceToolOutput();
  }
  toolNames_ = {};
  if (pendingEnd_ == PendingEnd::Failed && jobs_.Exists(CurrentIndex))
    jobs_.SetStatus(CurrentIndex, kStatusFailed);
  pendingEnd_ = PendingEnd::None;
  toolStarted_ = false;
  monitorTimer_.SetEnabled(false);
  ProcessNext();
}

void TBatchRunner::EndBatch(bool announce) {
  if (announce) Application().MessageBox(kMsgAllDone, Application().Title(), MB_OK);
  running_ = false;
  pendingEnd_ = PendingEnd::None;
  monitorTimer_.SetEnabled(false);
  ggProgress_.SetMaxValue(0);
  btnStart_.SetEnabled(true);
}

void TBatchRunner::RowsRemoving(int row) {
  if (!running_) return;
  if (row < 0) {
    // All rows go: the current job is dropped and rows added later start from the first.
    pendingEnd_ = PendingEnd::RowGone;
    CurrentIndex = -1;
  } else if (row < CurrentIndex) {
    --CurrentIndex;
  } else if (row == CurrentIndex) {
    // The next job is the row that moves into this place.
    pendingEnd_ = PendingEnd::RowGone;
    --CurrentIndex;
  }
}

}  // namespace pelloran
