#pragma once
// The job list: the rows of the list view are the only store of jobs (input path, output path,
// status text). The control keeps its texts in UTF-16, so a row holds any file name. Rows are
// only appended; removals are reported so the runner can keep its place. The columns follow
// their texts: the result column always shows its text whole.

#include <cstddef>
#include <functional>
#include <string>

#include "runtime/controls.h"

namespace pelloran {

// A row as ANSI text (a character the code page lacks reads as "?").
struct JobEntry {
  std::string Input;
  std::string Output;
  std::string Status;
};

// A row's paths exactly as they are.
struct JobFiles {
  std::wstring Input;
  std::wstring Output;
};

inline constexpr char kStatusPending[] = "待处理";
inline constexpr char kStatusWorking[] = "正在处理...";
inline constexpr char kStatusDonePrefix[] = "成功处理 - 文件长度减少：";
inline constexpr char kStatusFailed[] = "处理失败";
// Another window started from the same folder is running its batch.
inline constexpr char kStatusWaitingForFolder[] = "等待其他窗口完成...";

// The column widths of an empty list; the first column takes what the others leave.
inline constexpr int kOutputColumnWidth = 320;
inline constexpr int kResultColumnWidth = 100;

struct FolderAdded {
  size_t Added = 0;        // rows appended
  size_t OtherFiles = 0;   // files of other types, left out
};

class TJobList {
 public:
  explicit TJobList(TListView& view) : view_(view) {}

  void CreateColumns();

  // Appends a row for an accepted media file; false (and nothing changes) otherwise. An ANSI
  // path is named by the code page's rules; a UTF-16 path that fits the code page goes the same
  // way, so those behave exactly alike.
  bool AddFile(const std::string& path);
  bool AddFile(const std::wstring& path);
  // Appends the media files of a folder tree, sorted by path.
  FolderAdded AddFolder(const std::wstring& folder);

  int Count() const { return view_.Count(); }
  bool Exists(int row) const { return row >= 0 && row < Count(); }
  JobEntry Row(int row) const;
  JobFiles Files(int row) const;
  void SetPaths(int row, const std::string& input, const std::string& output);
  void SetFiles(int row, const std::wstring& input, const std::wstring& output);
  void SetStatus(int row, const std::string& status);

  // Removes the selected row, if any.
  void DeleteSelected();
  void Clear();

  // Many rows at once: drawing and column fitting wait for the last EndUpdate.
  void BeginUpdate();
  void EndUpdate();

  // Told before rows go: the row index, or -1 when all rows go.
  std::function<void(int row)> OnRowsRemoving;

  TListView& View() noexcept { return view_; }

 private:
  void AppendRow(const std::wstring& input, const std::wstring& output);
  void Widen(int column, const std::wstring& text);
  void Remeasure(int column);
  void ColumnsChanged();
  void FitColumns();

  TListView& view_;
  int widest_[3] = {0, 0, 0};  // widest text of each column, title included
  int updates_ = 0;
  bool fitPending_ = false;
};

// Keeps a job list in one update for a scope.
class JobListUpdate {
 public:
  explicit JobListUpdate(TJobList& jobs) : jobs_(jobs) { jobs_.BeginUpdate(); }
  ~JobListUpdate() { jobs_.EndUpdate(); }
  JobListUpdate(const JobListUpdate&) = delete;
  JobListUpdate& operator=(const JobListUpdate&) = delete;

 private:
  TJobList& jobs_;
};

}  // namespace pelloran
