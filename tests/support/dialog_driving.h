#pragma once
// A "user" thread driving the reporter's dialogs from inside the crashing program: it finds a
// dialog once it shows and has painted, and clicks its buttons as the mouse would. Nothing here
// sends a message to the dialog's thread before it is ready, so the user cannot deadlock it.

#include <windows.h>

namespace pelloran::testing {

// The dialog of this caption once it is visible and has painted, or nullptr after 30 s. The
// caption is read without a message to the dialog's thread.
inline HWND WaitForDialog(const char* caption) {
  for (int i = 0; i < 1500; ++i) {
    if (HWND window = ::FindWindowA("#32770", caption)) {
      RECT pending{};
      if (::IsWindowVisible(window) && !::GetUpdateRect(window, &pending, FALSE)) return window;
    }
    ::Sleep(20);
  }
  return nullptr;
}

inline void WaitUntilGone(HWND window) {
  for (int i = 0; i < 1500 && ::IsWindow(window); ++i) ::Sleep(20);
}

// A click with the left button at a point of the window's client area.
inline void ClickAt(HWND window, POINT at) {
  ::SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
  ::SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

// A click in the middle of a dialog's control.
inline void ClickControl(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  RECT r{};
  ::GetClientRect(control, &r);
  ClickAt(control, {r.right / 2, r.bottom / 2});
}

}  // namespace pelloran::testing
