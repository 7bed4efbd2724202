#include "batch/job_list.h"

#include <commctrl.h>

#include "batch/batch_io.h"
#include "batch/job_naming.h"

namespace pelloran {

void TJobList::CreateColumns() {
  view_.AddColumn({"输入文件", 100, LVCFMT_LEFT});
  view_.AddColumn({"输出文件", 320, LVCFMT_CENTER});
  view_.AddColumn({"处理结果", 100, LVCFMT_CENTER});
  RECT client{};
  ::GetClientRect(view_.Handle(), &client);
  int left = client.right - 320 - 100 - ::GetSystemMetrics(SM_CXVSCROLL);
  view_.SetColumnWidth(0, left > 50 ? left : 50);
}

bool TJobList::AddFile(const std::string& path) {
  if (!IsAcceptedMediaFile(path, AnsiLeadBytes())) return false;
  view_.AddItem(path, {OutputPathFor(path, AnsiLeadBytes()), kStatusPending});
  return true;
}

JobEntry TJobList::Row(int row) const {
  return {view_.ItemText(row, 0), view_.ItemText(row, 1), view_.ItemText(row, 2)};
}

void TJobList::SetPaths(int row, const std::string& input, const std::string& output) {
  view_.SetItemText(row, 0, input);
  view_.SetItemText(row, 1, output);
}

void TJobList::SetStatus(int row, const std::string& status) { view_.SetItemText(row, 2, status); }

void TJobList::DeleteSelected() {
  int row = view_.Selected();
  if (row < 0) return;
  if (OnRowsRemoving) OnRowsRemoving(row);
  view_.Delete(row);
}

void TJobList::Clear() {
  if (OnRowsRemoving) OnRowsRemoving(-1);
  view_.Clear();
}

}  // namespace pelloran
