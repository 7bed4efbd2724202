#pragma once
// The edit-entry dialog: changes the input and output path of the job list's selected row.

#include <windows.h>

#include <string>

namespace pelloran {

class TMainForm;

inline constexpr char kEditFileFilter[] = "所有文件 (*.*)|*.*|RM文件(*.rm)|*.RM|RMVB(*rmvb)|*.RMVB";

class TEditFileForm {
 public:
  explicit TEditFileForm(TMainForm& owner) : owner_(owner) {}
  // Shows the dialog modally; IDOK or IDCANCEL.
  INT_PTR ShowModal();

  void FormShow();
  void BrowseInputClick();
  void BrowseOutputClick();
  void OkClick();

  HWND Handle() const noexcept { return handle_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void Layout();
  void DrawGlyphButton(const DRAWITEMSTRUCT& item);
  std::wstring EditText(int id) const;

  TMainForm& owner_;
  HWND handle_ = nullptr;
  int row_ = -1;
};

}  // namespace pelloran
