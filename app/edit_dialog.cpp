#include "app/edit_dialog.h"

#include <commctrl.h>

#include "app/file_dialogs.h"
#include "app/main_form.h"
#include "batch/batch_io.h"
#include "resources/main_window_layout.h"
#include "resources/resource_ids.h"
#include "runtime/speed_button.h"

namespace pelloran {

namespace L = layout;

namespace {

void Place(HWND dialog, int id, const L::Rect& r) {
  ::MoveWindow(::GetDlgItem(dialog, id), r.Left, r.Top, r.Width, r.Height, FALSE);
}

// Sizes the dialog to its client area and centres it on its owner.
void SizeAndCentre(HWND dialog, HWND owner, int clientWidth, int clientHeight) {
  RECT frame{0, 0, clientWidth, clientHeight};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongA(dialog, GWL_EXSTYLE)));
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT o{};
  ::GetWindowRect(owner, &o);
  int left = o.left + ((o.right - o.left) - width) / 2;
  int top = o.top + ((o.bottom - o.top) - height) / 2;
  ::SetWindowPos(dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

HFONT BoldOf(HFONT font) {
  LOGFONTA lf{};
  ::GetObjectA(font, sizeof lf, &lf);
  lf.lfWeight = FW_BOLD;
  return ::CreateFontIndirectA(&lf);
}

}  // namespace

INT_PTR TEditFileForm::ShowModal() {
  row_ = owner_.lvFiles->Selected();
  // A UTF-16 dialog: its boxes show and take any file name.
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FRMEDTFILE),
                           owner_.Handle(), &TEditFileForm::DialogProc, reinterpret_cast<LPARAM>(this));
}

void TEditFileForm::Layout() {
  SizeAndCentre(handle_, owner_.Handle(), L::kEditClientWidth, L::kEditClientHeight);
  Place(handle_, IDC_EDT_LABEL1, L::kEditInputLabel);
  Place(handle_, IDC_EDT_EDIT1, L::kEditInputBox);
  Place(handle_, IDC_EDT_BUTTON2, L::kEditInputBrowse);
  Place(handle_, IDC_EDT_LABEL2, L::kEditOutputLabel);
  Place(handle_, IDC_EDT_EDIT2, L::kEditOutputBox);
  Place(handle_, IDC_EDT_BUTTON3, L::kEditOutputBrowse);
  Place(handle_, IDC_EDT_BITBTN1, L::kEditOkButton);
  Place(handle_, IDC_EDT_BITBTN2, L::kEditCancelButton);
}

std::wstring TEditFileForm::EditText(int id) const {
  HWND edit = ::GetDlgItem(handle_, id);
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
  int got = ::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

void TEditFileForm::FormShow() {
  JobFiles job = owner_.Jobs->Files(row_);
  ::SetDlgItemTextW(handle_, IDC_EDT_EDIT1, job.Input.c_str());
  ::SetDlgItemTextW(handle_, IDC_EDT_EDIT2, job.Output.c_str());
}

void TEditFileForm::BrowseInputClick() {
  std::wstring path;
  if (ChooseFileToOpen(handle_, kEditFileFilter, path)) ::SetDlgItemTextW(handle_, IDC_EDT_EDIT1, path.c_str());
}

void TEditFileForm::BrowseOutputClick() {
  std::wstring path;
  if (ChooseFileToSave(handle_, kEditFileFilter, path)) ::SetDlgItemTextW(handle_, IDC_EDT_EDIT2, path.c_str());
}

void TEditFileForm::OkClick() {
  const std::wstring input = EditText(IDC_EDT_EDIT1);
  const std::wstring output = EditText(IDC_EDT_EDIT2);
  if (!FileExists(input)) {
    ShowWarning(kMsgInputMissing);
  } else if (OutputIsInput(input, output)) {
    // The cleaned copy would take the place of the file it is made from.
    ShowWarning(kMsgOutputIsInputEdit);
  } else if (owner_.Jobs->Exists(row_)) {
    // The row may have gone while the dialog was open (a batch can end and the list change).
    owner_.Jobs->SetFiles(row_, input, output);
  }
}

void TEditFileForm::DrawGlyphButton(const DRAWITEMSTRUCT& item) {
  // A push button with a 16 x 16 glyph left of its caption (OK: first glyph, Cancel: second).
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pressed = item.itemState & ODS_SELECTED;
  const bool focused = item.itemState & ODS_FOCUS;
  const bool isDefault = item.CtlID == IDC_EDT_BITBTN1 && ::GetFocus() != ::GetDlgItem(handle_, IDC_EDT_BITBTN2);
  ::FillRect(dc, &r, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  if (isDefault) {
    ::FrameRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::InflateRect(&r, -1, -1);
  }
  ::DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));

  char caption[64] = {};
  ::GetWindowTextA(item.hwndItem, caption, sizeof caption);
  SIZE textSize{};
  ::GetTextExtentPoint32A(dc, caption, static_cast<int>(strlen(caption)), &textSize);
  const int glyph = 16, gap = 4;
  int left = r.left + ((r.right - r.left) - (glyph + gap + textSize.cx)) / 2 + (pressed ? 1 : 0);
  int top = r.top + ((r.bottom - r.top) - glyph) / 2 + (pressed ? 1 : 0);
  static HIMAGELIST glyphs = ImageList_LoadImageA(::GetModuleHandleA(nullptr), kResButtonGlyphs, 16,
                                                  2, RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
  if (glyphs) ImageList_Draw(glyphs, item.CtlID == IDC_EDT_BITBTN1 ? 0 : 1, dc, left, top, ILD_TRANSPARENT);
  ::SetBkMode(dc, TRANSPARENT);
  RECT text{left + glyph + gap, r.top + (pressed ? 1 : 0), r.right, r.bottom + (pressed ? 1 : 0)};
  ::DrawTextA(dc, caption, -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  if (focused) {
    RECT f = r;
    ::InflateRect(&f, -3, -3);
    ::DrawFocusRect(dc, &f);
  }
}

INT_PTR CALLBACK TEditFileForm::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TEditFileForm*>(::GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      self = reinterpret_cast<TEditFileForm*>(lParam);
      ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      self->handle_ = dialog;
      self->Layout();
      HFONT font = reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0));
      HFONT bold = BoldOf(font);
      ::SetPropA(dialog, "BoldFont", bold);
      ::SendDlgItemMessageA(dialog, IDC_EDT_BUTTON2, WM_SETFONT, reinterpret_cast<WPARAM>(bold), FALSE);
      ::SendDlgItemMessageA(dialog, IDC_EDT_BUTTON3, WM_SETFONT, reinterpret_cast<WPARAM>(bold), FALSE);
      MakeSpeedButton(::GetDlgItem(dialog, IDC_EDT_BUTTON2));
      MakeSpeedButton(::GetDlgItem(dialog, IDC_EDT_BUTTON3));
      CallEventHandler(nullptr, [self] { self->FormShow(); });
      return TRUE;
    }
    case WM_DRAWITEM:
      if (self) self->DrawGlyphButton(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND:
      if (!self) return FALSE;
      switch (LOWORD(wParam)) {
        case IDC_EDT_BITBTN1:
          // The result is OK whatever the handler does.
          CallEventHandler(nullptr, [self] { self->OkClick(); });
          ::EndDialog(dialog, IDOK);
          return TRUE;
        case IDC_EDT_BITBTN2:
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        case IDC_EDT_BUTTON2:
          CallEventHandler(nullptr, [self] { self->BrowseInputClick(); });
          return TRUE;
        case IDC_EDT_BUTTON3:
          CallEventHandler(nullptr, [self] { self->BrowseOutputClick(); });
          return TRUE;
        default:
          return FALSE;
      }
    case WM_DESTROY:
      if (HANDLE bold = ::RemovePropA(dialog, "BoldFont")) ::DeleteObject(bold);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace pelloran
