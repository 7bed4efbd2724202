// The reproduce-steps dialog ("REQUEST"): one multi-line edit; OK, Esc and the close box all keep
// the trimmed text.

#include <windows.h>
#include <commctrl.h>

#include "crashlog/delivery/dialog_look.h"
#include "crashlog/delivery/error_dialog_rules.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/option_texts.h"


#include <vector>

namespace pelloran::crashlog {

namespace {

class TReproduceDialog {
 public:
  explicit TReproduceDialog(TErrorDialogData& data) : data_(data) {}

  void AttachWindow(HWND window) { window_ = window; }
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = 0;
    if (HandleCustomLookMessage(window_, message, wParam, lParam, look_, fonts_, brushes_, result)) return result;
    switch (message) {
      case WM_INITDIALOG: {
        fonts_ = CreateDialogFonts(window_);
        look_.Enabled = data_.Options.CustomDialogLook;
        look_.Caption = WindowTextOf(data_.Options, TCrashText::RequestCaption);
        ::SetWindowTextA(window_, look_.Caption.c_str());
        ::SetDlgItemTextA(window_, kIdRequestLabel, Text(TCrashText::RequestLabel).c_str());
        ::SetDlgItemTextA(window_, kIdOk, Text(TCrashText::RequestOkButton).c_str());
        for (int id : {kIdRequestLabel, kIdOk}) SetFont(id, fonts_.DialogFont());
        SetFont(kIdRequestEdit, fonts_.FixedFont());
        WidenLabelToEdit();
        ::SetForegroundWindow(window_);
        ::SetFocus(::GetDlgItem(window_, kIdRequestEdit));
        return FALSE;
      }
      case WM_COMMAND:
        if (LOWORD(wParam) != kIdOk) return FALSE;
        data_.ReproduceText = TrimReproduceText(EditText());
        ::EndDialog(window_, kIdOk);
        return TRUE;
      case WM_DESTROY:
        FreeDialogFonts(fonts_);
        return FALSE;
      default:
        return FALSE;
    }
  }

 private:
  const std::string& Text(TCrashText text) const { return TextOf(data_.Options, text); }

  void SetFont(int id, HFONT font) const {
    if (font) ::SendDlgItemMessageA(window_, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }

  // The label's template width suits an 8-point font; the message font needs the whole row.
  void WidenLabelToEdit() const {
    HWND label = ::GetDlgItem(window_, kIdRequestLabel);
    RECT labelBox{}, editBox{};
    ::GetWindowRect(label, &labelBox);
    ::GetWindowRect(::GetDlgItem(window_, kIdRequestEdit), &editBox);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&labelBox), 2);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&editBox), 2);
    if (editBox.right > labelBox.right)
      ::MoveWindow(label, labelBox.left, labelBox.top, editBox.right - labelBox.left, labelBox.bottom - labelBox.top, TRUE);
  }

  std::string EditText() const {
    HWND edit = ::GetDlgItem(window_, kIdRequestEdit);
    std::vector<char> text(static_cast<std::size_t>(::GetWindowTextLengthA(edit)) + 1, '\0');
    const int length = ::GetWindowTextA(edit, text.data(), static_cast<int>(text.size()));
    return std::string(text.data(), static_cast<std::size_t>(length > 0 ? length : 0));
  }

  TErrorDialogData& data_;
  HWND window_ = nullptr;
  TDialogFonts fonts_;
  TDialogBrushes brushes_;
  TCustomLookState look_;
};

}  // namespace

bool ReproduceDialogWanted(const TErrorDialogData& data) {
  const TCrashOptionValues& options = data.Options;
  return (options.ReportOptions & kAskReproduceSteps) != 0 && data.GuiApplication && !data.Duplicate &&
         (options.SendMode != kSendNone || options.SaveLog);
}

void RunReproduceDialog(TErrorDialogData& data) {
  if (!ReproduceDialogWanted(data)) return;
  TraceEnter("ShowReproduceDialog");
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  HINSTANCE resources = data.ResourceModule ? data.ResourceModule : ThisModule();
  TReproduceDialog dialog(data);
  const INT_PTR shown = ::DialogBoxParamA(resources, kReproduceDialogTemplate, nullptr, DialogObjectProc<TReproduceDialog>,
                                          reinterpret_cast<LPARAM>(&dialog));
  TraceLeave("ShowReproduceDialog", {shown != -1});
}

}  // namespace pelloran::crashlog
