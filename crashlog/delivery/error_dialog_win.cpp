// The error dialog: collapsed it shows the short message, expanded the four detail pages. The
// window is laid out again in pixels on every size change; its expanded placement is kept in
// "CrashLog.ini".


#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "crashlog/delivery/error_dialog_parts.h"
#include "crashlog/delivery/error_dialog_rules.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/option_texts.h"

namespace pelloran::crashlog {

namespace {

// OK button, error icon, task-modal, topmost, service notification.
constexpr UINT kFallbackBoxFlags = 0x242010;
constexpr int kExpandedStyles = WS_THICKFRAME | WS_MAXIMIZEBOX;
constexpr int kButtonIds[] = {kIdOk, kIdTerminate, kIdDetails, kIdSend, kIdScreenshot, kIdCopy};

// The expanded window's size, position and show state as the user left them; kept from one
// showing to the next. Width 0: nothing remembered yet.
struct TRememberedPlacement {
  int Width = 0;
  int Height = 0;  // with the band
  int Left = 0;
  int Top = 0;
  int State = kShowNormal;
};
TRememberedPlacement& Remembered() {
  static TRememberedPlacement remembered;
  return remembered;
}

const std::string& Text(const TErrorDialogData& data, TCrashText text) { return TextOf(data.Options, text); }

constexpr TCrashText kPageTabTexts[kPageCount] = {TCrashText::GeneralTab, TCrashText::CallStackTab,
                                                  TCrashText::ModulesTab, TCrashText::CpuTab};

TScreenSize ScreenSize() { return {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)}; }

class TErrorDialog {
 public:
  explicit TErrorDialog(TErrorDialogData& data, HINSTANCE resources) : data_(data), resources_(resources) {}

  void AttachWindow(HWND window) { window_ = window; }
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Initialise();
  void SetDetailsExpanded(bool expanded);
  void Collapse();
  void Expand();
  void Layout(UINT sizeType, int clientWidth, int clientHeight);
  // Pixels of a control's text in the dialog font (an "&" marks the accelerator, "&&" shows one).
  int TextWidth(const std::string& text) const;
  void ShowPage(int index);
  void Paint();
  void Destroy();

  HWND Item(int id) const { return ::GetDlgItem(window_, id); }
  void SetFont(int id, HFONT font) const {
    if (font) ::SendMessageA(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  void SetPlacement(int showCommand, const RECT& normal) const;

  TErrorDialogData& data_;
  HINSTANCE resources_;
  HWND window_ = nullptr;
  HWND page_ = nullptr;
  bool expanded_ = false;
  bool sendVisible_ = false;
  bool screenshotAllowed_ = false;
  int band_ = 20;
  ScopedGdiObject monitor_;
  TDialogBrushes brushes_;
  TDialogFonts fonts_;
  TCustomLookState look_;
};

INT_PTR TErrorDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = 0;
  if (HandleCustomLookMessage(window_, message, wParam, lParam, look_, fonts_, brushes_, result)) return result;
  switch (message) {
    case WM_INITDIALOG:
      Initialise();
      return FALSE;  // the focus is on the OK button already
    case WM_PAINT:
      Paint();
      return TRUE;
    case WM_TIMER:
      if (wParam != kSelfCloseTimer) return FALSE;
      ::KillTimer(window_, kSelfCloseTimer);
      // Not painted by now: nobody can see it (a desktop the user does not look at).
      if (!data_.Painted) ::EndDialog(window_, kIdOk);
      return TRUE;
    case WM_SIZE:
      Layout(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
      return TRUE;
    case WM_MOVE:
      if (!::IsZoomed(window_) && !::IsIconic(window_)) {
        RECT r{};
        ::GetWindowRect(window_, &r);
        Remembered().Left = r.left;
        Remembered().Top = r.top;
      }
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == kIdTabs && header->code == TCN_SELCHANGE)
        ShowPage(static_cast<int>(::SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
      return FALSE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kIdOk:
          ::EndDialog(window_, kIdOk);
          return TRUE;
        case kIdTerminate:
          data_.TerminateRequested = true;
          ::EndDialog(window_, kIdTerminate);
          return TRUE;
        case kIdDetails:
          if (expanded_) SaveDialogPlacement(band_);
          expanded_ = !expanded_;
          ::InvalidateRect(window_, nullptr, TRUE);
          SetDetailsExpanded(expanded_);
          return TRUE;
        case kIdSend:
          if (HIWORD(wParam) == BN_CLICKED) ::EnableWindow(Item(kIdScreenshot), ::IsDlgButtonChecked(window_, kIdSend));
          return TRUE;
        default:
          return FALSE;
      }
    case WM_DESTROY:
      Destroy();
      return FALSE;
    default:
      return FALSE;
  }
}

void TErrorDialog::Initialise() {
  const TCrashOptionValues& options = data_.Options;
  sendVisible_ = options.SendMode != kSendNone && !data_.Duplicate;
  screenshotAllowed_ = options.AttachScreenshot;
  band_ = CheckBoxBand(sendVisible_, screenshotAllowed_);
  ::SetForegroundWindow(window_);
  expanded_ = false;

  monitor_.reset(::LoadImageA(resources_, "MONITOR", IMAGE_BITMAP, 0, 0, 0));
  fonts_ = CreateDialogFonts(window_);
  look_.Enabled = options.CustomDialogLook;
  look_.Caption = Text(data_, TCrashText::ErrorCaption);
  look_.Frame = TCaptionFrame::Collapsed;

  SetFont(kIdMessage, fonts_.DialogFont());
  ::SetDlgItemTextA(window_, kIdOk, Text(data_, TCrashText::OkButton).c_str());
  ::SetDlgItemTextA(window_, kIdTerminate, Text(data_, options.TerminateAction != 0 ? TCrashText::RestartButton : TCrashText::TerminateButton).c_str());
  for (int id : {kIdOk, kIdTerminate, kIdDetails}) SetFont(id, fonts_.DialogFont());

  ::CheckDlgButton(window_, kIdSend, data_.SendRequested ? BST_CHECKED : BST_UNCHECKED);
  if (!sendVisible_) {
    ::ShowWindow(Item(kIdSend), SW_HIDE);
    ::ShowWindow(Item(kIdScreenshot), SW_HIDE);
  }
  if (!screenshotAllowed_) ::ShowWindow(Item(kIdScreenshot), SW_HIDE);
  ::CheckDlgButton(window_, kIdScreenshot, data_.ScreenshotRequested ? BST_CHECKED : BST_UNCHECKED);
  ::EnableWindow(Item(kIdScreenshot), options.SendMode != kSendNone);
  ::CheckDlgButton(window_, kIdCopy, BST_UNCHECKED);

  // The caption is set while the window is still hidden: setting it later would have the system
  // paint its own caption over the custom one.
  ::SetWindowTextA(window_, Text(data_, TCrashText::ErrorCaption).c_str());
  HWND tabs = Item(kIdTabs);
  ::SetWindowLongA(tabs, GWL_EXSTYLE, ::GetWindowLongA(tabs, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  SetFont(kIdTabs, fonts_.DialogFont());
  for (int i = 0; i < kPageCount; ++i) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(Text(data_, kPageTabTexts[i]).c_str());
    ::SendMessageA(tabs, TCM_INSERTITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  // A page number the dialog does not have shows the first page.
  const int page = options.InitialDialogPage < kPageCount ? options.InitialDialogPage : 0;
  ::SendMessageA(tabs, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
  ::SetFocus(Item(kIdOk));
  ShowPage(page);
  SetDetailsExpanded(false);
  ::SetTimer(window_, kSelfCloseTimer, 1, nullptr);
}

void TErrorDialog::ShowPage(int index) {
  if (page_) ::DestroyWindow(page_);
  page_ = nullptr;
  TPageContext context;
  context.Data = &data_;
  context.Fonts = &fonts_;
  context.Brushes = &brushes_;
  context.CustomLook = look_.Enabled;
  context.Dialog = window_;
  context.Resources = resources_;
  page_ = CreateDetailsPage(Item(kIdTabs), index, context);
}

void TErrorDialog::SetDetailsExpanded(bool expanded) {
  if (!look_.Enabled) {
    for (int id : kButtonIds) {
      HWND button = Item(id);
      ::SetWindowLongA(button, GWL_STYLE, ::GetWindowLongA(button, GWL_STYLE) & ~BS_FLAT);
      ::InvalidateRect(button, nullptr, TRUE);
    }
  }
  LONG styles = kExpandedStyles | (look_.Enabled ? 0 : WS_SYSMENU);
  LONG style = ::GetWindowLongA(window_, GWL_STYLE);
  ::SetWindowLongA(window_, GWL_STYLE, expanded ? style | styles : style & ~styles);
  look_.Frame = expanded ? TCaptionFrame::Expanded : TCaptionFrame::Collapsed;
  ::SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (expanded)
    Expand();
  else
    Collapse();
}

void TErrorDialog::SetPlacement(int showCommand, const RECT& normal) const {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  ::GetWindowPlacement(window_, &placement);
  placement.flags = 0;
  // Before the dialog box shows itself, the placement only sets the rectangle.
  placement.showCmd = ::IsWindowVisible(window_) ? static_cast<UINT>(showCommand) : SW_HIDE;
  placement.rcNormalPosition = normal;
  ::SetWindowPlacement(window_, &placement);
}

void TErrorDialog::Expand() {
  ::SetDlgItemTextA(window_, kIdDetails, ("<< " + Text(data_, TCrashText::DetailsButton)).c_str());
  ::SetDlgItemTextA(window_, kIdMessage, Text(data_, TCrashText::ErrorIntro).c_str());
  const TDialogPlacement placement = LoadDialogPlacement(band_);
  ::ShowWindow(Item(kIdTabs), SW_SHOW);
  SetPlacement(placement.WindowsState, {placement.Left, placement.Top, placement.Left + placement.Width,
                                        placement.Top + placement.Height + band_});
}

void TErrorDialog::Collapse() {
  ::SetDlgItemTextA(window_, kIdDetails, (Text(data_, TCrashText::DetailsButton) + " >>").c_str());
  ::SetDlgItemTextA(window_, kIdMessage, data_.ShortMessage.c_str());

  std::vector<TTextLineSize> sizes;
  {
    HWND message = Item(kIdMessage);
    ScopedGetDC dc(message);
    ScopedSelectObject font(dc.get(), fonts_.DialogFont() ? static_cast<HGDIOBJ>(fonts_.DialogFont())
                                                           : ::GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(dc.get(), &metrics);
    for (const std::string& line : CollapsedMeasureLines(data_.ShortMessage, Text(data_, TCrashText::SendCheck), Text(data_, TCrashText::CopyCheck))) {
      SIZE extent{};
      ::GetTextExtentPoint32A(dc.get(), line.c_str(), static_cast<int>(line.size()), &extent);
      sizes.push_back({static_cast<int>(extent.cx), extent.cy > 0 ? static_cast<int>(extent.cy) : metrics.tmHeight});
    }
  }
  const TSystemFrame frame{::GetSystemMetrics(SM_CXFIXEDFRAME), ::GetSystemMetrics(SM_CYFIXEDFRAME),
                           ::GetSystemMetrics(SM_CYSMCAPTION)};
  const TCollapsedSize size = CollapsedSize(sizes, frame);
  ::MoveWindow(Item(kIdMessage), 48, 8, size.TextWidth, size.TextHeight, TRUE);
  const TScreenSize screen = ScreenSize();
  const int left = (screen.Width - size.WindowWidth) / 2;
  const int top = (screen.Height - size.WindowHeight) / 2;
  ::ShowWindow(Item(kIdTabs), SW_HIDE);
  SetPlacement(SW_SHOWNORMAL, {left, top, left + size.WindowWidth, top + size.WindowHeight + band_});
}

int TErrorDialog::TextWidth(const std::string& text) const {
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;  // "&x" shows x, "&&" one "&"
    shown += text[i];
  }
  ScopedGetDC dc(window_);
  ScopedSelectObject font(dc.get(), fonts_.DialogFont() ? static_cast<HGDIOBJ>(fonts_.DialogFont())
                                                         : ::GetStockObject(DEFAULT_GUI_FONT));
  SIZE extent{};
  ::GetTextExtentPoint32A(dc.get(), shown.c_str(), static_cast<int>(shown.size()), &extent);
  return static_cast<int>(extent.cx);
}

void TErrorDialog::Layout(UINT sizeType, int cw, int ch) {
  // A translated text may be longer than the buttons' usual width.
  const std::string& details = Text(data_, TCrashText::DetailsButton);
  TButtonWidths buttons;
  buttons.Ok = ButtonWidthFor(TextWidth(Text(data_, TCrashText::OkButton)));
  buttons.Terminate = ButtonWidthFor(TextWidth(
      Text(data_, data_.Options.TerminateAction != 0 ? TCrashText::RestartButton : TCrashText::TerminateButton)));
  buttons.Details = ButtonWidthFor(std::max(TextWidth("<< " + details), TextWidth(details + " >>")));
  const TDialogLayout layout = LayoutFor(cw, ch, band_, buttons);
  auto place = [&](int id, const TControlBox& box) {
    ::MoveWindow(Item(id), box.X, box.Y, box.Width, box.Height, TRUE);
  };
  place(kIdTabs, layout.Tabs);
  if (expanded_) place(kIdMessage, layout.Message);
  place(kIdOk, layout.Ok);
  place(kIdTerminate, layout.Terminate);
  const TCrashOptionValues& options = data_.Options;
  ::ShowWindow(Item(kIdTerminate),
               TerminateButtonShown(options.ShowTerminateButton, data_.ErrorCount, options.TerminateAfterErrors)
                   ? SW_SHOW
                   : SW_HIDE);
  ::ShowWindow(Item(kIdLine), SW_HIDE);
  place(kIdSend, layout.Send);
  place(kIdCopy, layout.Copy);
  place(kIdScreenshot, layout.Screenshot);
  ::SetDlgItemTextA(window_, kIdSend, Text(data_, TCrashText::SendCheck).c_str());
  ::SetDlgItemTextA(window_, kIdCopy, Text(data_, TCrashText::CopyCheck).c_str());
  ::SetDlgItemTextA(window_, kIdScreenshot, Text(data_, TCrashText::ScreenshotCheck).c_str());
  for (int id : {kIdSend, kIdCopy, kIdScreenshot}) SetFont(id, fonts_.DialogFont());
  place(kIdDetails, layout.Details);
  ::ShowWindow(Item(kIdDetails), SW_SHOW);

  TRememberedPlacement& remembered = Remembered();
  if (sizeType == SIZE_MAXIMIZED) {
    remembered.State = kShowMaximized;
  } else if (sizeType == SIZE_MINIMIZED) {
    remembered.State = kShowMinimized;
  } else {
    remembered.State = kShowNormal;
    RECT r{};
    ::GetWindowRect(window_, &r);
    remembered.Width = std::abs(r.right - r.left);
    remembered.Height = std::abs(r.bottom - r.top);
  }
  FitDetailsPage(Item(kIdTabs), page_);
}

void TErrorDialog::Paint() {
  PAINTSTRUCT paint{};
  HDC dc = ::BeginPaint(window_, &paint);
  data_.Painted = true;
  BITMAP picture{};
  if (dc && monitor_ && ::GetObjectA(monitor_.get(), sizeof picture, &picture) == sizeof picture) {
    // 8 pixels right of the inner frame and under the caption band, in client coordinates.
    const TCaptionGeometry g = CaptionGeometryOf(window_);
    RECT bounds{};
    ::GetWindowRect(window_, &bounds);
    POINT origin{0, 0};
    ::ClientToScreen(window_, &origin);
    const int x = g.Inner.left + 8 - (origin.x - bounds.left);
    const int y = g.Band.bottom + 8 - (origin.y - bounds.top);
    HDC memory = ::CreateCompatibleDC(dc);
    {
      ScopedSelectObject select(memory, monitor_.get());
      // Pixels of the bottom-left pixel's colour are the background.
      const COLORREF transparent = ::GetPixel(memory, 0, picture.bmHeight - 1);
      ::TransparentBlt(dc, x, y, picture.bmWidth, picture.bmHeight, memory, 0, 0, picture.bmWidth, picture.bmHeight,
                       transparent);
    }
    ::DeleteDC(memory);
  }
  ::EndPaint(window_, &paint);
}

void TErrorDialog::Destroy() {
  ::KillTimer(window_, kSelfCloseTimer);
  data_.SendRequested = ::IsDlgButtonChecked(window_, kIdSend) == BST_CHECKED;
  data_.ScreenshotRequested = ::IsDlgButtonChecked(window_, kIdScreenshot) == BST_CHECKED;
  data_.CopyRequested = ::IsDlgButtonChecked(window_, kIdCopy) == BST_CHECKED;
  if (page_) ::DestroyWindow(page_);
  page_ = nullptr;
  FreeDialogFonts(fonts_);
  monitor_.reset();
  if (expanded_) SaveDialogPlacement(band_);
}

bool IsNtFamily() { return (::GetVersion() & 0x80000000u) == 0; }

void InitDialogControls() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
}

}  // namespace

void SetInitialRequests(TErrorDialogData& data) {
  data.SendRequested = data.Options.SendMode != kSendNone;
  data.ScreenshotRequested = data.Options.AttachScreenshot;
}

TDialogPlacement LoadDialogPlacement(int band) {
  const TDialogPlacement placement = LoadPlacement(
      [](const std::string& key, const std::string& fallback) {
        return ReadIniString(std::string(kPlacementFile), std::string(kPlacementSection), key, fallback);
      },
      ScreenSize(), band);
  TRememberedPlacement& remembered = Remembered();
  remembered.Width = placement.Width;
  remembered.Height = placement.Height + band;
  remembered.Left = placement.Left;
  remembered.Top = placement.Top;
  remembered.State = placement.WindowsState;
  return placement;
}

void SaveDialogPlacement(int band) {
  const TRememberedPlacement& remembered = Remembered();
  if (remembered.Width == 0) return;
  WritePlacementInt("Width", remembered.Width);
  WritePlacementInt("Height", remembered.Height - band);
  WritePlacementInt("Left", remembered.Left);
  WritePlacementInt("Top", remembered.Top);
  WritePlacementInt("WindowsState", remembered.State);
}

bool RunErrorDialog(TErrorDialogData& data) {
  TraceEnter("ShowDialog");
  HWND previous = ::GetForegroundWindow();
  ::MessageBeep(MB_ICONHAND);
  InitDialogControls();
  HINSTANCE resources = data.ResourceModule ? data.ResourceModule : ThisModule();
  for (;;) {
    data.Painted = false;
    {
      TErrorDialog dialog(data, resources);
      ::DialogBoxParamA(resources, kErrorDialogTemplate, nullptr, DialogObjectProc<TErrorDialog>,
                        reinterpret_cast<LPARAM>(&dialog));
    }
    if (!data.Painted && IsNtFamily())
      ::MessageBoxA(nullptr, data.ShortMessage.c_str(), Text(data, TCrashText::ErrorCaption).c_str(), kFallbackBoxFlags);
    bool showAgain = false;
    if (data.TerminateRequested && data.TerminateHandler) {
      ClearLastError();
      try {
        data.TerminateHandler(data.TerminateRequested);
      } catch (...) {
        // a failing handler leaves the request as it was
      }
      showAgain = !data.TerminateRequested;
    }
    if (!data.Painted) ReportWarning(eeShowError, "Cannot show the DialogBox window.");
    if (!showAgain) break;
  }
  // The window that had the foreground gets it back. Asking for it sends nothing to that window's
  // thread and waits for nothing (the thread may be a frozen one).
  if (previous) ::SetForegroundWindow(previous);
  TraceLeave("ShowDialog", {data.Painted});
  return data.Painted;
}

bool SendSourceLocationToIde(const std::string& unit, std::int32_t line) {
  const auto message = IdeSourceLocationMessage(unit, line);
  ScopedFileHandle slot(::CreateFileA("\\\\.\\mailslot\\CrashLog", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!slot) return false;
  DWORD written = 0;
  return ::WriteFile(slot.get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr) &&
         written == message.size();
}

}  // namespace pelloran::crashlog
