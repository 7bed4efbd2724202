// The SMTP progress dialog: the "SMTP" template run by TSMTPThread, a thread of the reporter that
// frees itself when the dialog has ended.

#include "crashlog/delivery/smtp_progress.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "crashlog/capture/threads.h"
#include "crashlog/delivery/dialog_look.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/process.h"
#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

namespace {

// Posted to itself by the dialog as it initialises; it arrives once the dialog runs its own
// message loop, shown.
constexpr UINT kShownMessage = WM_APP + 0x31;
// How long the close waits for the dialog's thread to end.
constexpr DWORD kCloseWaitMs = 10000;

struct TProgressState {
  std::mutex Lock;  // guards the texts and numbers below
  std::string Caption;
  std::string RecipientLabel;
  std::string Label;
  bool CustomLook = true;
  int Current = 0;
  int Count = 0;
  std::atomic<HWND> Window{nullptr};
  std::atomic<bool> Ready{false};
  // The dialog thread's handle, duplicated: the thread object frees itself when it ends.
  ScopedKernelHandle Thread;
};

TProgressState& State() {
  static TProgressState* const state = new TProgressState;  // outlives every thread that uses it
  return *state;
}

class TProgressDialog {
 public:
  void AttachWindow(HWND window) { window_ = window; }
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Initialise();

  HWND window_ = nullptr;
  TDialogFonts fonts_;
  TDialogBrushes brushes_;
  TCustomLookState look_;
};

INT_PTR TProgressDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = 0;
  if (HandleCustomLookMessage(window_, message, wParam, lParam, look_, fonts_, brushes_, result)) return result;
  switch (message) {
    case WM_INITDIALOG:
      Initialise();
      return TRUE;
    case WM_SETFOCUS:
      State().Ready.store(true);
      return FALSE;
    case kShownMessage:
      State().Ready.store(true);
      return TRUE;
    case kSmtpProgressCloseMessage:
      ::EndDialog(window_, 0);
      return TRUE;
    case WM_COMMAND:
      return TRUE;  // Esc: only the sender closes it
    case WM_DESTROY:
      State().Window.store(nullptr);
      FreeDialogFonts(fonts_);
      return FALSE;
    default:
      return FALSE;
  }
}

void TProgressDialog::Initialise() {
  TProgressState& state = State();
  std::string label;
  {
    std::lock_guard guard(state.Lock);
    look_.Enabled = state.CustomLook;
    look_.Caption = state.Caption;
    label = state.Label;
  }
  fonts_ = CreateDialogFonts(window_);
  // The caption is set while the window is still hidden: later the system would paint its own
  // caption over the custom one.
  ::SetWindowTextA(window_, look_.Caption.c_str());
  if (fonts_.DialogFont())
    ::SendDlgItemMessageA(window_, kSmtpProgressLabelId, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.DialogFont()),
                          FALSE);
  ::SetDlgItemTextA(window_, kSmtpProgressLabelId, label.c_str());
  ::SendDlgItemMessageA(window_, kSmtpProgressBarId, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  state.Window.store(window_);
  SetSmtpProgressOpen(true);
  ::PostMessageA(window_, kShownMessage, 0, 0);
}

class TSMTPThread : public TReporterThread {
 public:
  TSMTPThread() : TReporterThread(true) {}

 protected:
  void Execute() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    TProgressDialog dialog;
    ::DialogBoxParamA(ThisModule(), kSmtpDialogTemplate, nullptr, DialogObjectProc<TProgressDialog>,
                      reinterpret_cast<LPARAM>(&dialog));
    // Also when the dialog could not be made: the sender waits for nothing more.
    State().Window.store(nullptr);
    State().Ready.store(true);
  }
};

void ShowLabel(TProgressState& state) {
  std::string label;
  {
    std::lock_guard guard(state.Lock);
    label = state.Label;
  }
  if (HWND window = state.Window.load()) ::SetDlgItemTextA(window, kSmtpProgressLabelId, label.c_str());
}

}  // namespace

void StartSmtpProgress(const TSmtpProgressSetup& setup) {
  TProgressState& state = State();
  CloseSmtpProgress();
  {
    std::lock_guard guard(state.Lock);
    state.Caption = setup.Caption;
    state.RecipientLabel = setup.RecipientLabel;
    state.CustomLook = setup.CustomLook;
    state.Label.clear();
    state.Current = 0;
    state.Count = 0;
  }
  state.Ready.store(false);
  if (!setup.Show) return;
  HANDLE thread = nullptr;
  try {
    auto* smtpThread = new TSMTPThread;  // frees itself when its dialog has ended
    ::DuplicateHandle(::GetCurrentProcess(), smtpThread->Handle(), ::GetCurrentProcess(), &thread, SYNCHRONIZE,
                      FALSE, 0);
    state.Thread.reset(thread);
    smtpThread->Resume();
  } catch (...) {
    return;  // no thread to be had: the mail goes out without the dialog
  }
  // Until the dialog is up; a thread that ended without it ends the wait too.
  while (!state.Ready.load() && (!thread || ::WaitForSingleObject(thread, 50) == WAIT_TIMEOUT)) {
    if (!thread) ::Sleep(50);
  }
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
  if (HWND window = State().Window.load()) ::SendDlgItemMessageA(window, kSmtpProgressBarId, PBM_SETPOS, percent, 0);
}

void CloseSmtpProgress() {
  TProgressState& state = State();
  if (HWND window = state.Window.exchange(nullptr)) {
    SetSmtpProgressOpen(false);
    ::SendMessageA(window, kSmtpProgressCloseMessage, 0, 0);
  }
  if (state.Thread) {
    ::WaitForSingleObject(state.Thread.get(), kCloseWaitMs);
    state.Thread.reset();
  }
}

bool SmtpProgressWindowExists() { return State().Window.load() != nullptr; }

void* SmtpProgressWindow() { return State().Window.load(); }

std::string SmtpProgressLabel() {
  TProgressState& state = State();
  std::lock_guard guard(state.Lock);
  return state.Label;
}

}  // namespace pelloran::crashlog
