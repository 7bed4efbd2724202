#pragma once
// The job list: the rows of the list view are the only store of jobs (input path, output path,
// status text). Rows are only appended; removals are reported so the runner can keep its place.

#include <functional>
#include <string>

#include "runtime/controls.h"

namespace pelloran {

struct JobEntry {
  std::string Input;
  std::string Output;
  std::string Status;
};

inline constexpr char kStatusPending[] = "待处理";
inline constexpr char kStatusWorking[] = "正在处理...";
inline constexpr char kStatusDonePrefix[] = "成功处理 - 文件长度减少：";
inline constexpr char kStatusFailed[] = "处理失败";

class TJobList {
 public:
  explicit TJobList(TListView& view) : view_(view) {}

  // The list view's three columns; the first takes the width that the other two leave.
  void CreateColumns();

  // Appends a row for an accepted media file; false (and nothing changes) otherwise.
  bool AddFile(const std::string& path);

  int Count() const { return view_.Count(); }
  bool Exists(int row) const { return row >= 0 && row < Count(); }
  JobEntry Row(int row) const;
  void SetPaths(int row, const std::string& input, const std::string& output);
  void SetStatus(int row, const std::string& status);

  // Removes the selected row, if any.
  void DeleteSelected();
  void Clear();

  // Told before rows go: the row index, or -1 when all rows go.
  std::function<void(int row)> OnRowsRemoving;

  TListView& View() noexcept { return view_; }

 private:
  TListView& view_;
};

}  // namespace pelloran
