#include "crashlog/delivery/dialog_look.h"

#include <cstddef>

#include "crashlog/delivery/error_dialog_rules.h"
#include "crashlog/infra/diagnostics/process.h"

namespace pelloran::crashlog {

namespace {

// The metrics structure as systems before Vista know it (340 bytes): newer ones accept it too.
constexpr UINT kClassicMetricsSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);

// The window's own device context, covering frame and caption.
class ScopedWindowDC {
 public:
  explicit ScopedWindowDC(HWND window) noexcept : window_(window), dc_(::GetWindowDC(window)) {}
  ScopedWindowDC(const ScopedWindowDC&) = delete;
  ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
  ~ScopedWindowDC() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  HDC get() const noexcept { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  ScopedGdiObject brush(::CreateSolidBrush(colour));
  ::FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

void Frame(HDC dc, const RECT& r, COLORREF colour) {
  ScopedGdiObject brush(::CreateSolidBrush(colour));
  ::FrameRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

void CaptionText(HDC dc, const RECT& band, int indent, COLORREF colour, const std::string& caption) {
  RECT r = band;
  r.left += indent;
  ::SetTextColor(dc, colour);
  ::DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &r,
              DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS);
}

}  // namespace

TDialogFaces DialogFacesFor(BYTE charset) noexcept {
  if (charset != ANSI_CHARSET) return {"MS Sans Serif", "Courier New", 10};
  return {"Verdana", "Lucida Console", 8};
}

TDialogFonts CreateDialogFonts(HWND window) {
  TDialogFonts fonts;
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = kClassicMetricsSize;
  const bool haveMetrics = ::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, kClassicMetricsSize, &metrics, 0) != 0;
  const TDialogFaces faces = DialogFacesFor(DefaultCharset());
  if (haveMetrics) {
    fonts.Caption.reset(::CreateFontA(metrics.lfCaptionFont.lfHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                      DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DRAFT_QUALITY,
                                      VARIABLE_PITCH | FF_ROMAN, faces.DialogFace));
    fonts.Dialog.reset(::CreateFontIndirectA(&metrics.lfMessageFont));
  }
  ScopedGetDC dc(window);
  const int pixelsPerInch = dc.get() ? ::GetDeviceCaps(dc.get(), LOGPIXELSY) : 96;
  fonts.Fixed.reset(::CreateFontA(-::MulDiv(faces.FixedSize, pixelsPerInch, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                  FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, DRAFT_QUALITY,
                                  FIXED_PITCH | FF_MODERN, faces.FixedFace));
  return fonts;
}

void FreeDialogFonts(TDialogFonts& fonts) noexcept {
  fonts.Caption.reset();
  fonts.Dialog.reset();
  fonts.Fixed.reset();
}

TCaptionGeometry CaptionGeometryOf(HWND window) {
  RECT bounds{};
  ::GetWindowRect(window, &bounds);
  const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  const bool sizing = (::GetWindowLongA(window, GWL_STYLE) & WS_THICKFRAME) != 0;
  const int frameWidth = ::GetSystemMetrics(sizing ? SM_CXSIZEFRAME : SM_CXFIXEDFRAME);
  const int frameHeight = ::GetSystemMetrics(sizing ? SM_CYSIZEFRAME : SM_CYFIXEDFRAME);
  const int captionHeight = ::GetSystemMetrics(SM_CYSMCAPTION);
  TCaptionGeometry g;
  g.Window = {0, 0, width, height};
  g.Inner = {frameWidth - 1, frameHeight - 1, width - frameWidth + 1, height - frameHeight + 1};
  g.Band = {frameWidth, frameHeight, width - frameWidth, frameHeight + captionHeight - 1};
  g.Below = g.Inner;
  g.Below.top = g.Band.bottom + 1;
  return g;
}

void DrawCustomCaption(HWND window, bool active, const std::string& caption, HFONT captionFont, TCaptionFrame frame) {
  ScopedWindowDC dc(window);
  if (!dc.get()) return;
  const TCaptionGeometry g = CaptionGeometryOf(window);
  const TCaptionColors colours = CaptionColors(active);

  // The pixels between the frame and the band belong to no rule below; give them the border fill.
  Fill(dc.get(), {g.Inner.left, g.Inner.top, g.Inner.right, g.Below.top}, colours.Border);
  RECT step = g.Band;
  for (const std::uint32_t colour : CaptionGradient(colours.GradientStart, g.Band.bottom - g.Band.top)) {
    Fill(dc.get(), step, colour);
    step.top += 2;
    step.bottom -= 2;
  }

  Frame(dc.get(), g.Window, colours.Frame);
  RECT below = g.Below;
  if (frame == TCaptionFrame::Collapsed) below.top -= 1;
  Frame(dc.get(), below, colours.Frame);
  if (frame == TCaptionFrame::Expanded) Frame(dc.get(), g.Inner, colours.Frame);
  const RECT& w = g.Window;
  const RECT& in = g.Inner;
  Fill(dc.get(), {w.left + 1, w.top + 1, w.right - 1, in.top}, colours.Border);
  Fill(dc.get(), {w.left + 1, in.bottom, w.right - 1, w.bottom - 1}, colours.Border);
  Fill(dc.get(), {w.left + 1, in.top, in.left, in.bottom}, colours.Border);
  Fill(dc.get(), {in.right, in.top, w.right - 1, in.bottom}, colours.Border);

  ScopedSelectObject font(dc.get(), captionFont ? static_cast<HGDIOBJ>(captionFont) : ::GetStockObject(SYSTEM_FONT));
  ::SetBkMode(dc.get(), TRANSPARENT);
  if (active) {
    CaptionText(dc.get(), g.Band, 5, RGB(34, 34, 34), caption);
    CaptionText(dc.get(), g.Band, 4, RGB(255, 255, 255), caption);
  } else {
    CaptionText(dc.get(), g.Band, 4, RGB(224, 224, 224), caption);
  }
}

bool HandleCustomLookMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, TCustomLookState& look,
                             const TDialogFonts& fonts, const TDialogBrushes& brushes, INT_PTR& result) {
  (void)lParam;
  if (!look.Enabled) return false;
  switch (message) {
    case WM_NCPAINT:
      DrawCustomCaption(dialog, look.Active, look.Caption, fonts.CaptionFont(), look.Frame);
      ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
      result = TRUE;
      return true;
    case WM_NCACTIVATE:
      look.Active = wParam != FALSE;
      DrawCustomCaption(dialog, look.Active, look.Caption, fonts.CaptionFont(), look.Frame);
      ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);  // let the activation change
      result = TRUE;
      return true;
    case WM_ACTIVATE:
      // The system may tell the frame it is inactive before the window became the foreground
      // one, and not tell it again: the activation itself decides the caption's colours.
      look.Active = LOWORD(wParam) != WA_INACTIVE;
      DrawCustomCaption(dialog, look.Active, look.Caption, fonts.CaptionFont(), look.Frame);
      return false;  // the dialog's own handling (the focus) goes on
    case WM_CTLCOLORDLG:
      result = reinterpret_cast<INT_PTR>(brushes.GreyBrush());
      return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, RGB(0, 0, 0));
      result = reinterpret_cast<INT_PTR>(brushes.GreyBrush());
      return true;
    }
    default:
      return false;
  }
}

}  // namespace pelloran::crashlog
