#pragma once
// Runs the jobs one after another: for each row it writes the control files, starts the events
// tool, keeps its process handle and watches, every 500 ms, the tool's partial output, its log
// and whether it has ended. The decisions are RunnerMachine's (runner_machine.h); this class
// gathers the facts, carries the decisions out and shows them. A job succeeds only when the tool
// exited with status 0, its log holds "***" and no "Error:" line, and the output is in place.

#include <cstdint>
#include <string>

#include "batch/job_list.h"
#include "batch/runner_machine.h"
#include "batch/tool_names.h"
#include "batch/tool_process.h"
#include "runtime/controls.h"

namespace pelloran {

inline constexpr char kMsgNothingToDo[] = " 当前列表中没有文件要处理 ";
inline constexpr char kMsgAllDone[] = "全部处理完毕！";
inline constexpr char kMsgToolMissing[] = "RM清除器支持文件丢失，请重新安装程序！";
inline constexpr char kMsgInputMissing[] = "目标文件不存在，请重新输入！";
inline constexpr char kMsgOutputIsInputEdit[] = "输出文件不能是输入文件本身，请重新输入！";
inline constexpr char kWarningCaption[] = "提示";
inline constexpr UINT kMonitorInterval = 500;

// Shows a warning box titled "提示" owned by the application's main window.
void ShowWarning(const std::string& text);

// True when the two paths name one file, however spelt (see rmevents/same_file_win.h).
bool OutputIsInput(const std::wstring& input, const std::wstring& output);

class TBatchRunner : public TObject {
 public:
  TBatchRunner(TJobList& jobs, TGauge& ggProgress, TMemo& logMemo, TButton& btnStart,
               TTimer& monitorTimer);
  ~TBatchRunner() override;

  void btnStartClick();
  // Starts the job of the next row, or ends the batch after the last one.
  void ProcessNext();
  // Checks the tool, the input and the output, and starts the tool. False when the job cannot
  // start: after a warning when the tool or the input is missing, after a line in the log pane
  // naming the file and the reason otherwise.
  bool LaunchEventsTool(const std::wstring& input, const std::wstring& output, bool show);
  // The monitor tick.
  void MonitorTimer();
  // Called before rows are removed (row index, or -1 for all rows).
  void RowsRemoving(int row);
  // The window closes: a running tool is ended and what it left is removed.
  void WindowClosing();

  bool Running() const noexcept { return machine_.Running(); }
  int CurrentIndex() const noexcept { return machine_.CurrentIndex(); }
  // Tests shorten the time a silent tool is given.
  void SetNoProgressLimit(uint64_t ms) noexcept { machine_.SetNoProgressLimit(ms); }

  std::string LogText;

 private:
  enum class LaunchFailure { None, ToolMissing, InputMissing, Refused };

  void Tick();
  void WaitForFolder();
  // The ended job's outcome in its row and the log pane, then the next job.
  void FinishJob(JobEnd end, uint32_t exitStatus);
  // The job's row went and its tool has ended: keep a good output, then the next job.
  void DropJob();
  void EndBatch(bool announce);
  void AttachTick();
  // Once the tool is done: its output (under our temporary name) takes the real name. False
  // (after a line in the log pane) when that fails.
  bool PlaceToolOutput();
  // Removes what the tool of a failed job left: its partial file (unless that was there before
  // it started) and our temporary output.
  void RemoveLeftovers();
  void ReadLog();

  TJobList& jobs_;
  TGauge& ggProgress_;
  TMemo& logMemo_;
  TButton& btnStart_;
  TTimer& monitorTimer_;
  RunnerMachine machine_;
  ToolProcess tool_;
  FolderBatchLock folderLock_;
  bool waitingForFolder_ = false;
  LaunchFailure launchFailure_ = LaunchFailure::None;
  ToolNames toolNames_;          // the current job's names for the tool
  std::wstring launchOutput_;    // the current job's output as it was at the start
  std::wstring partial_;         // the file the running tool writes
  bool partialWasThere_ = false;  // a file of that name existed before the tool started
};

}  // namespace pelloran
