#pragma once
// Runs the jobs one after another: for each row it writes the control files, starts the events
// tool and then only watches, every 500 ms, the output's size and the tool's log. A job is
// complete when two ticks see the same size and the log holds "***".

#include <cstdint>
#include <string>

#include "batch/job_list.h"
#include "batch/tool_names.h"
#include "runtime/controls.h"

namespace pelloran {

inline constexpr char kMsgNothingToDo[] = " 当前列表中没有文件要处理 ";
inline constexpr char kMsgAllDone[] = "全部处理完毕！";
inline constexpr char kMsgToolMissing[] = "RM清除器支持文件丢失，请重新安装程序！";
inline constexpr char kMsgInputMissing[] = "目标文件不存在，请重新输入！";
inline constexpr char kWarningCaption[] = "提示";
inline constexpr UINT kMonitorInterval = 500;

// Shows a warning box titled "提示" owned by the application's main window.
void ShowWarning(const std::string& text);

class TBatchRunner : public TObject {
 public:
  TBatchRunner(TJobList& jobs, TGauge& ggProgress, TMemo& logMemo, TButton& btnStart,
               TTimer& monitorTimer);

  void btnStartClick();
  // Starts the job of the next row, or ends the batch after the last one.
  void ProcessNext();
  // Checks the tool, the input and the output's folder, clears the old output and log, starts the
  // tool. False when the job cannot start: after a warning when the tool or the input is missing,
  // after a line in the log pane naming the file and the reason otherwise.
  bool LaunchEventsTool(const std::wstring& input, const std::wstring& output, bool show);
  // The monitor tick.
  void MonitorTimer();
  // Called before rows are removed (row index, or -1 for all rows).
  void RowsRemoving(int row);

  bool Running() const noexcept { return running_; }

  int CurrentIndex = -1;
  int64_t LastSize = -1;
  std::string LogText;

 private:
  // Why the current job must end at the next tick without a log from the tool.
  enum class PendingEnd { None, Failed, RowGone };
  enum class LaunchFailure { None, ToolMissing, InputMissing, Refused };

  void Tick();
  // Ends a job that will not complete normally (failed or row removed), once its tool is done.
  void EndAbandonedJob();
  void EndBatch(bool announce);
  void AttachTick();
  // Once the tool is done: its temporary output takes the output's real name. False (after a
  // line in the log pane) when that fails.
  bool PlaceToolOutput();
  // The file the running tool writes.
  std::wstring WatchedOutput() const;

  TJobList& jobs_;
  TGauge& ggProgress_;
  TMemo& logMemo_;
  TButton& btnStart_;
  TTimer& monitorTimer_;
  bool running_ = false;
  bool toolStarted_ = false;  // the current job's tool was started and has not been seen to end
  PendingEnd pendingEnd_ = PendingEnd::None;
  LaunchFailure launchFailure_ = LaunchFailure::None;
  ToolNames toolNames_;         // the current job's names for the tool
  std::wstring launchOutput_;   // the current job's output as it was at the start
};

}  // namespace pelloran
