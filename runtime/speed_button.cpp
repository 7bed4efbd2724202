#include "runtime/speed_button.h"

#include <commctrl.h>

namespace pelloran {

namespace {

constexpr UINT_PTR kSubclassId = 0x5350;  // "SP"

bool CursorInside(HWND button, LPARAM lParam) {
  RECT r{};
  ::GetClientRect(button, &r);
  POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  return ::PtInRect(&r, p) != FALSE;
}

LRESULT CALLBACK SpeedButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // The button's own handling would take the focus; press it without.
      ::SetCapture(button);
      ::SendMessageA(button, BM_SETSTATE, TRUE, 0);
      return 0;
    case WM_MOUSEMOVE:
      if (::GetCapture() == button)
        ::SendMessageA(button, BM_SETSTATE, CursorInside(button, lParam), 0);
      return 0;
    case WM_LBUTTONUP:
      if (::GetCapture() == button) {
        const bool inside = CursorInside(button, lParam);
        ::ReleaseCapture();
        ::SendMessageA(button, BM_SETSTATE, FALSE, 0);
        if (inside)
          ::SendMessageA(::GetParent(button), WM_COMMAND,
                         MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
      }
      return 0;
    case WM_CAPTURECHANGED:
      ::SendMessageA(button, BM_SETSTATE, FALSE, 0);
      break;
    case WM_SETFOCUS:
      // Focus given some other way goes straight back.
      if (wParam) ::SetFocus(reinterpret_cast<HWND>(wParam));
      return 0;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(button, &SpeedButtonProc, kSubclassId);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(button, message, wParam, lParam);
}

}  // namespace

void MakeSpeedButton(HWND button) {
  ::SetWindowSubclass(button, &SpeedButtonProc, kSubclassId, 0);
}

}  // namespace pelloran
