#include "batch/job_list.h"

#include <commctrl.h>

#include <algorithm>

#include "batch/batch_io.h"
#include "batch/column_fit.h"
#include "batch/job_naming.h"
#include "batch/media_folder.h"
#include "runtime/wide_text.h"

namespace pelloran {

namespace {

const char* const kColumnTitles[3] = {"输入文件", "输出文件", "处理结果"};
// The control's own margins around a column's text (its label padding and the header's).
constexpr int kColumnMargin = 20;

}  // namespace

void TJobList::CreateColumns() {
  view_.AddColumn({kColumnTitles[0], 100, LVCFMT_LEFT});
  view_.AddColumn({kColumnTitles[1], kOutputColumnWidth, LVCFMT_CENTER});
  view_.AddColumn({kColumnTitles[2], kResultColumnWidth, LVCFMT_CENTER});
  for (int c = 0; c < 3; ++c) Remeasure(c);
  FitColumns();
}

bool TJobList::AddFile(const std::string& path) {
  if (!IsAcceptedMediaFile(path, AnsiLeadBytes())) return false;
  AppendRow(AnsiToWide(path), AnsiToWide(OutputPathFor(path, AnsiLeadBytes())));
  return true;
}

bool TJobList::AddFile(const std::wstring& path) {
  if (auto ansi = ExactAnsi(path)) return AddFile(*ansi);
  if (!IsAcceptedMediaFile(path)) return false;
  AppendRow(path, OutputPathFor(path));
  return true;
}

FolderAdded TJobList::AddFolder(const std::wstring& folder) {
  MediaFolderContents contents = ScanMediaFolder(folder);
  FolderAdded added;
  added.OtherFiles = contents.OtherFiles;
  JobListUpdate update(*this);
  for (const std::wstring& file : contents.MediaFiles)
    if (AddFile(file)) ++added.Added;
  return added;
}

void TJobList::AppendRow(const std::wstring& input, const std::wstring& output) {
  const std::wstring status = AnsiToWide(kStatusPending);
  view_.AddItem(input, {output, status});
  Widen(0, input);
  Widen(1, output);
  Widen(2, status);
  ColumnsChanged();
}

JobEntry TJobList::Row(int row) const {
  return {view_.ItemText(row, 0), view_.ItemText(row, 1), view_.ItemText(row, 2)};
}

JobFiles TJobList::Files(int row) const { return {view_.ItemTextW(row, 0), view_.ItemTextW(row, 1)}; }

void TJobList::SetPaths(int row, const std::string& input, const std::string& output) {
  SetFiles(row, AnsiToWide(input), AnsiToWide(output));
}

void TJobList::SetFiles(int row, const std::wstring& input, const std::wstring& output) {
  view_.SetItemText(row, 0, input);
  view_.SetItemText(row, 1, output);
  Remeasure(0);
  Remeasure(1);
  ColumnsChanged();
}

void TJobList::SetStatus(int row, const std::string& status) {
  const std::wstring text = AnsiToWide(status);
  const std::wstring old = view_.ItemTextW(row, 2);
  if (old == text) return;
  view_.SetItemText(row, 2, text);
  // Only a narrower text in place of the widest one asks for the whole column again.
  if (view_.StringWidth(old) >= widest_[2] && view_.StringWidth(text) < widest_[2])
    Remeasure(2);
  else
    Widen(2, text);
  ColumnsChanged();
}

void TJobList::DeleteSelected() {
  int row = view_.Selected();
  if (row < 0) return;
  if (OnRowsRemoving) OnRowsRemoving(row);
  view_.Delete(row);
  for (int c = 0; c < 3; ++c) Remeasure(c);
  ColumnsChanged();
}

void TJobList::Clear() {
  if (OnRowsRemoving) OnRowsRemoving(-1);
  view_.Clear();
  for (int c = 0; c < 3; ++c) Remeasure(c);
  ColumnsChanged();
}

void TJobList::BeginUpdate() {
  if (updates_++ == 0) view_.SetRedraw(false);
}

void TJobList::EndUpdate() {
  if (--updates_ > 0) return;
  if (fitPending_) FitColumns();
  view_.SetRedraw(true);
}

void TJobList::Widen(int column, const std::wstring& text) {
  widest_[column] = std::max(widest_[column], view_.StringWidth(text));
}

void TJobList::Remeasure(int column) {
  int widest = view_.StringWidth(AnsiToWide(kColumnTitles[column]));
  for (int row = 0, n = Count(); row < n; ++row)
    widest = std::max(widest, view_.StringWidth(view_.ItemTextW(row, column)));
  widest_[column] = widest;
}

void TJobList::ColumnsChanged() {
  if (updates_ > 0)
    fitPending_ = true;
  else
    FitColumns();
}

void TJobList::FitColumns() {
  fitPending_ = false;
  RECT client{};
  ::GetClientRect(view_.Handle(), &client);
  const int available = client.right - ::GetSystemMetrics(SM_CXVSCROLL);
  JobColumnWidths w{available - kOutputColumnWidth - kResultColumnWidth, kOutputColumnWidth,
                    kResultColumnWidth};
  if (Count() > 0)
    w = FitJobColumns(available, widest_[0] + kColumnMargin, widest_[1] + kColumnMargin,
                      widest_[2] + kColumnMargin);
  const int widths[3] = {std::max(w.Input, 50), w.Output, w.Result};
  for (int c = 0; c < 3; ++c)
    if (view_.ColumnWidth(c) != widths[c]) view_.SetColumnWidth(c, widths[c]);
}

}  // namespace pelloran
