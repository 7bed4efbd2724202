// A plain progress window: a label over a progress bar, topmost, with a tool-window caption.

#include "crashlog/delivery/smtp_progress.h"

#include "crashlog/infra/diagnostics/error_code.h"
#include "runtime/scoped_handle.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace pelloran::crashlog {

namespace {

constexpr int kLabelId = 100;
constexpr int kBarId = 101;
constexpr char kWindowClass[] = "TCrashLogSmtpProgress";

struct TProgressState {
  std::mutex Lock;
  std::string Caption;
  std::string RecipientLabel;
  std::string Label;
  int Current = 0;
  int Count = 0;
  std::atomic<HWND> Window{nullptr};
  std::atomic<bool> Ready{false};
  ScopedKernelHandle Thread;
};

TProgressState& State() {
  static TProgressState* const state = new TProgressState;  // outlives every thread that uses it
  return *state;
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      const HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
      HWND label = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 12, 10, 300, 16,
                                     window, reinterpret_cast<HMENU>(kLabelId), nullptr, nullptr);
      ::SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      HWND bar = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 12, 30, 300, 16, window,
                                   reinterpret_cast<HMENU>(kBarId), nullptr, nullptr);
      ::SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      return 0;
    }
    case kSmtpProgressCloseMessage:
      ::DestroyWindow(window);
      return 0;
    case WM_CLOSE:  // only the sender closes it
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

DWORD WINAPI ProgressThread(void*) {
  TProgressState& state = State();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ProgressWindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  ::RegisterClassA(&windowClass);  // a second registration fails harmlessly

  std::string caption;
  {
    std::lock_guard guard(state.Lock);
    caption = state.Caption;
  }
  RECT area{0, 0, 324, 56};
  ::AdjustWindowRectEx(&area, WS_POPUP | WS_CAPTION, FALSE, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
  const int width = area.right - area.left, height = area.bottom - area.top;
  HWND window = ::CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kWindowClass, caption.c_str(),
                                  WS_POPUP | WS_CAPTION, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                  (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
  if (window) {
    ::ShowWindow(window, SW_SHOWNOACTIVATE);
    state.Window.store(window);
    SetSmtpProgressOpen(true);
  }
  state.Ready.store(true);
  MSG message;
  while (window && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return 0;
}

void ShowLabel(TProgressState& state) {
  std::string label;
  {
    std::lock_guard guard(state.Lock);
    label = state.Label;
  }
  if (HWND window = state.Window.load()) ::SetDlgItemTextA(window, kLabelId, label.c_str());
}

}  // namespace

void StartSmtpProgress(const TSmtpProgressSetup& setup) {
  TProgressState& state = State();
  CloseSmtpProgress();
  {
    std::lock_guard guard(state.Lock);
    state.Caption = setup.Caption;
    state.RecipientLabel = setup.RecipientLabel;
    state.Label.clear();
    state.Current = 0;
    state.Count = 0;
  }
  state.Ready.store(false);
  if (!setup.Show) return;
  state.Thread.reset(::CreateThread(nullptr, 0, ProgressThread, nullptr, 0, nullptr));
  if (!state.Thread) return;
  while (!state.Ready.load()) ::Sleep(50);
}

void SetSmtpRecipient(int current, int count) {
  TProgressState& state = State();
  std::lock_guard guard(state.Lock);
  state.Current = current;
  state.Count = count;
}

void SetSmtpStatus(const std::string& text) {
  TProgressState& state = State();
  {
    std::lock_guard guard(state.Lock);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, " %d/%d: ", state.Current, state.Count);
    state.Label = state.RecipientLabel + prefix + text;
  }
  ShowLabel(state);
}

void SetSmtpProgress(int percent) {
  if (HWND window = State().Window.load()) ::SendDlgItemMessageA(window, kBarId, PBM_SETPOS, percent, 0);
}

void CloseSmtpProgress() {
  TProgressState& state = State();
  if (HWND window = state.Window.exchange(nullptr)) {
    SetSmtpProgressOpen(false);
    ::SendMessageA(window, kSmtpProgressCloseMessage, 0, 0);
  }
  if (state.Thread) {
    ::WaitForSingleObject(state.Thread.get(), 10000);
    state.Thread.reset();
  }
}

bool SmtpProgressWindowExists() { return State().Window.load() != nullptr; }

std::string SmtpProgressLabel() {
  TProgressState& state = State();
  std::lock_guard guard(state.Lock);
  return state.Label;
}

}  // namespace pelloran::crashlog
