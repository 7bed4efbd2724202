#pragma once
// The look the reporter's dialogs share (the error dialog, the reproduce-steps dialog and the SMTP
// progress dialog): three fonts made for the system's metrics and charset, the grey and white
// brushes, and the custom-painted caption.
//
// Each dialog owns its own set, made when it opens and freed when it is destroyed, so that the
// progress dialog on its own thread never shares a font with a dialog being torn down.

#include <windows.h>

#include <string>

#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

struct TDialogFonts {
  ScopedGdiObject Caption;  // bold, the height of the system's caption font
  ScopedGdiObject Dialog;   // the system's message font
  ScopedGdiObject Fixed;    // fixed pitch, for the report texts
  HFONT CaptionFont() const noexcept { return static_cast<HFONT>(Caption.get()); }
  HFONT DialogFont() const noexcept { return static_cast<HFONT>(Dialog.get()); }
  HFONT FixedFont() const noexcept { return static_cast<HFONT>(Fixed.get()); }
};

// Faces and size by the charset: "Verdana", "Lucida Console", 8 for the ANSI charset; otherwise
// "MS Sans Serif", "Courier New", 10.
struct TDialogFaces {
  const char* DialogFace;
  const char* FixedFace;
  int FixedSize;  // points
};
TDialogFaces DialogFacesFor(BYTE charset) noexcept;

// `window` gives the device the fixed font's height is measured for.
TDialogFonts CreateDialogFonts(HWND window);
void FreeDialogFonts(TDialogFonts& fonts) noexcept;

// The grey of the custom look and the white of read-only texts.
inline constexpr COLORREF kCustomLookGrey = RGB(212, 208, 200);
struct TDialogBrushes {
  ScopedGdiObject Grey{::CreateSolidBrush(kCustomLookGrey)};
  ScopedGdiObject White{::CreateSolidBrush(RGB(255, 255, 255))};
  HBRUSH GreyBrush() const noexcept { return static_cast<HBRUSH>(Grey.get()); }
  HBRUSH WhiteBrush() const noexcept { return static_cast<HBRUSH>(White.get()); }
};

// How the area under the caption is framed: the error dialog draws an inner frame while it is
// expanded and lifts the lower frame by a pixel while collapsed; the other dialogs look collapsed.
enum class TCaptionFrame { Collapsed, Expanded };

// The rectangles of the custom caption, in window coordinates (origin at the window's corner).
struct TCaptionGeometry {
  RECT Window;  // the whole window
  RECT Inner;   // the window inset by the frame less one pixel
  RECT Band;    // the caption band
  RECT Below;   // the inner rectangle from one pixel under the band
};
TCaptionGeometry CaptionGeometryOf(HWND window);

// Paints the frame and caption of `window` (for WM_NCPAINT and WM_NCACTIVATE of a dialog with the
// custom look). Draws through the window's own device context only: it sends nothing to any
// window, so it is safe on a thread while another thread of the process is stopped.
void DrawCustomCaption(HWND window, bool active, const std::string& caption, HFONT captionFont,
                       TCaptionFrame frame = TCaptionFrame::Collapsed);

// The custom look for one dialog procedure: answers WM_NCPAINT and WM_NCACTIVATE with the
// painted caption (true: handled, the result is set) and colours the background and statics.
struct TCustomLookState {
  bool Enabled = false;
  bool Active = true;
  std::string Caption;
  TCaptionFrame Frame = TCaptionFrame::Collapsed;
};
bool HandleCustomLookMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, TCustomLookState& look,
                             const TDialogFonts& fonts, const TDialogBrushes& brushes, INT_PTR& result);

// The dialog procedure of a dialog object passed as the creation parameter: WM_INITDIALOG hands
// the object its window and keeps it in DWLP_USER; every message then goes to T::Handle.
// Nothing may escape into the system's dialog code.
template <class T>
INT_PTR CALLBACK DialogObjectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* dialog = reinterpret_cast<T*>(::GetWindowLongPtrA(window, DWLP_USER));
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<T*>(lParam);
    dialog->AttachWindow(window);
    ::SetWindowLongPtrA(window, DWLP_USER, lParam);
  }
  if (!dialog) return FALSE;
  try {
    return dialog->Handle(message, wParam, lParam);
  } catch (...) {
    return FALSE;
  }
}

}  // namespace pelloran::crashlog
