#include "batch/runner_machine.h"

namespace pelloran {

bool LogHasErrorLine(std::string_view log) {
  constexpr std::string_view kError = "Error:";
  for (size_t at = 0; at < log.size();) {
    if (log.substr(at, kError.size()) == kError) return true;
    const size_t end = log.find('\n', at);
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return false;
}

JobEnd JudgeEndedTool(uint32_t exitStatus, std::string_view log, bool outputInPlace) {
  // Exception codes (access violation 0xC0000005 and its kin) say the tool died.
  if (exitStatus >= 0xC0000000u) return JobEnd::Crashed;
  if (log.find("***") == std::string_view::npos) return JobEnd::NoLog;
  if (exitStatus != 0) return JobEnd::ExitStatus;
  if (LogHasErrorLine(log)) return JobEnd::ErrorLine;
  if (!outputInPlace) return JobEnd::NoOutput;
  return JobEnd::Succeeded;
}

void RunnerMachine::StartBatch() {
  current_ = -1;
  running_ = true;
  toolRunning_ = rowGone_ = startFailed_ = false;
}

bool RunnerMachine::NextRow(int rowCount) {
  ++current_;
  toolRunning_ = rowGone_ = startFailed_ = false;
  lastSize_ = lastLogSize_ = -1;
  if (current_ > rowCount - 1) {
    EndBatch();
    return false;
  }
  return true;
}

void RunnerMachine::ToolStarted(uint64_t nowMs) {
  toolRunning_ = true;
  lastChangeMs_ = nowMs;
}

void RunnerMachine::StartFailed() { startFailed_ = true; }

void RunnerMachine::ToolEnded() { toolRunning_ = false; }

void RunnerMachine::RowsRemoving(int row) {
  if (!running_) return;
  if (row < 0) {
    // All rows go: the job is dropped and rows added later start from the first.
    rowGone_ = true;
    current_ = -1;
  } else if (row < current_) {
    --current_;
  } else if (row == current_) {
    // The next job is the row that moves into this place.
    rowGone_ = true;
    --current_;
  }
}

TickDecision RunnerMachine::Tick(const ToolFacts& facts) {
  TickDecision d;
  if (!toolRunning_) {
    d.kind = startFailed_ ? TickDecision::FailJob : TickDecision::DropJob;
    return d;
  }
  // The first tick of a job only marks it working, whatever the tool did meanwhile.
  const bool first = lastSize_ < 0;
  if (facts.exited && rowGone_) {
    d.kind = TickDecision::DropJob;
    return d;
  }
  if (facts.exited && !first) {
    d.kind = TickDecision::ToolEnded;
    return d;
  }
  // A tool whose output or log changes is working; Wine shows no processor time of other
  // processes, so the files are the only sign.
  const bool outputChanged = facts.outputSize != lastSize_;
  if (outputChanged || facts.logSize != lastLogSize_) lastChangeMs_ = facts.nowMs;
  if (outputChanged) {
    d.progress = facts.outputSize;
    if (!rowGone_) d.kind = TickDecision::Working;
  }
  lastSize_ = facts.outputSize;
  lastLogSize_ = facts.logSize;
  if (facts.nowMs - lastChangeMs_ >= limitMs_) d.kind = TickDecision::EndTool;
  return d;
}

bool RunnerMachine::WindowClosing() {
  const bool endTool = running_ && toolRunning_;
  EndBatch();
  return endTool;
}

void RunnerMachine::EndBatch() {
  running_ = toolRunning_ = rowGone_ = startFailed_ = false;
}

}  // namespace pelloran
