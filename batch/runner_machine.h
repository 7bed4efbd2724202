#pragma once
// The batch runner's decisions, free of the window and the system: which row runs, what each
// monitor tick makes of the tool's files and process, when a silent tool is ended, and how a
// finished tool is judged. The window (batch_runner.h) gathers the facts, carries the decisions
// out and shows them.

#include <cstdint>
#include <string_view>

namespace pelloran {

// How a job ended.
enum class JobEnd {
  Succeeded,
  Refused,       // not started: the runner found a reason first (the output is the input ...)
  LaunchFailed,  // the system could not start the tool
  Crashed,       // the tool ended with an exception code
  NoLog,         // the tool ended without "***" in its log
  ExitStatus,    // "***", but a non-zero exit status
  ErrorLine,     // exit status 0, but the log has an "Error:" line
  NoOutput,      // exit status 0 and a clean log, but no output in place
  NoResponse,    // neither the output nor the log changed for the limit: the tool was ended
  Abandoned,     // an error while starting or following the job
};

// A tool that has ended: a success needs exit status 0, "***" and no "Error:" line in its
// (normalised) log, and its output in place.
JobEnd JudgeEndedTool(uint32_t exitStatus, std::string_view normalisedLog, bool outputInPlace);
// An "Error:" line (at the start of a line).
bool LogHasErrorLine(std::string_view normalisedLog);

// The facts of one tick while a tool runs.
struct ToolFacts {
  uint64_t nowMs = 0;
  int64_t outputSize = 0;  // the partial output's size, 0 while there is none
  int64_t logSize = 0;     // the log's size, 0 while there is none
  bool exited = false;
};

struct TickDecision {
  enum Kind {
    Wait,       // nothing new
    Working,    // the output changed: the row shows "正在处理..."
    ToolEnded,  // judge the ended tool (JudgeEndedTool), then the next row
    EndTool,    // end the silent tool; its job failed with NoResponse
    DropJob,    // the job's row is gone and its tool has ended: the next row, no status
    FailJob,    // no tool runs for this job (Abandoned): the next row
  } kind = Wait;
  int64_t progress = -1;  // the output's size for the gauge, when it changed
};

class RunnerMachine {
 public:
  static constexpr uint64_t kNoProgressLimitMs = 60000;

  // Zero-based row of the job; -1 before the first of a batch.
  int CurrentIndex() const noexcept { return current_; }
  bool Running() const noexcept { return running_; }
  bool ToolRunning() const noexcept { return toolRunning_; }
  // The job's row was removed while it ran.
  bool RowGone() const noexcept { return rowGone_; }

  void SetNoProgressLimit(uint64_t ms) noexcept { limitMs_ = ms; }
  uint64_t NoProgressLimit() const noexcept { return limitMs_; }

  void StartBatch();
  // The next row; false (and the batch is over) when there is none. The row count is taken
  // afresh at each call: rows appended during a batch run in it.
  bool NextRow(int rowCount);
  // The current row's tool was started at this time.
  void ToolStarted(uint64_t nowMs);
  // Starting the current row's job raised an error: the next tick fails it.
  void StartFailed();
  // The tool is known to have ended (judged, or ended by the runner).
  void ToolEnded();
  // Rows are about to go: one row, or -1 for all.
  void RowsRemoving(int row);
  TickDecision Tick(const ToolFacts& facts);
  // The window closes: true when a running tool must be ended. The batch is over.
  bool WindowClosing();
  void EndBatch();

 private:
  int current_ = -1;
  bool running_ = false;
  bool toolRunning_ = false;
  bool rowGone_ = false;
  bool startFailed_ = false;
  int64_t lastSize_ = -1;  // no size equals it: the first tick of a job always sees a change
  int64_t lastLogSize_ = -1;
  uint64_t lastChangeMs_ = 0;
  uint64_t limitMs_ = kNoProgressLimitMs;
};

}  // namespace pelloran
