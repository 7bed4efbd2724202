#include "runtime/application.h"

#include <atomic>

#include <commctrl.h>

#include "base/exceptions.h"
#include "runtime/thread.h"
#include "runtime/fault_frame.h"

namespace pelloran {

TApplication& Application() {
  static TApplication app;
  return app;
}

TApplication::TApplication() = default;

TApplication::~TApplication() {
  SetSynchronizeWindow(nullptr);
  if (handle_ && ::IsWindow(handle_)) ::DestroyWindow(handle_);
}

namespace {
std::atomic<TInitProc> initProc{nullptr};
std::atomic<bool> initProcRan{false};
}  // namespace

TInitProc SetInitProc(TInitProc proc) noexcept { return initProc.exchange(proc); }

void TApplication::Initialize() {
  if (!initProcRan.exchange(true))
    if (TInitProc proc = initProc.load()) proc();
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES |
                                            ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
  if (handle_) return;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &TApplication::WindowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.hIcon = ::LoadIconA(::GetModuleHandleA(nullptr), "MAINICON");
  wc.lpszClassName = "PelloranApplication";
  ::RegisterClassExA(&wc);
  // No size, centred: only its taskbar button is ever seen.
  handle_ = ::CreateWindowExA(0, wc.lpszClassName, title_.c_str(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                              ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2,
                              0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  // Threads that synchronize wake the main thread through this window, so that their methods
  // also run while a modal loop (a message box, a dialog) pumps.
  SetSynchronizeWindow(handle_);
}

void TApplication::SetTitle(std::string title) {
  title_ = std::move(title);
  if (handle_) ::SetWindowTextA(handle_, title_.c_str());
}

void TApplication::Minimize() {
  if (handle_) ::ShowWindow(handle_, SW_MINIMIZE);
}

LRESULT CALLBACK TApplication::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TApplication& app = Application();
  switch (message) {
    case WM_SETFOCUS:
      // Activated from the taskbar: the main form takes the focus.
      if (app.mainForm_ && ::IsWindowEnabled(app.mainForm_)) {
        ::SetFocus(app.mainForm_);
        return 0;
      }
      break;
    case WM_SIZE:
      // The main form goes and comes back with the application window (done here rather than
      // left to the system, which not every window manager does for owned windows).
      if (app.mainForm_ && wParam == SIZE_MINIMIZED) {
        app.hiddenByMinimize_ = ::IsWindowVisible(app.mainForm_) != FALSE;
        ::ShowWindow(app.mainForm_, SW_HIDE);
      } else if (app.mainForm_ && wParam == SIZE_RESTORED && app.hiddenByMinimize_) {
        app.hiddenByMinimize_ = false;
        ::ShowWindow(app.mainForm_, SW_SHOW);
      }
      break;
    case kSynchronizeMessage:
      CheckSynchronize();
      return 0;
    case WM_CLOSE:
      // Closing from the taskbar closes the main form, which ends the program.
      if (app.mainForm_) ::PostMessageA(app.mainForm_, WM_CLOSE, 0, 0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

bool TApplication::DispatchOne(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return false;
  }
  if (!msg.hwnd && msg.message == kSynchronizeMessage) {  // woken before the application window existed
    CheckSynchronize();
    return true;
  }
  // Dialog-style keyboard navigation (Tab between controls) for the main form.
  if (mainForm_ && ::IsDialogMessageA(mainForm_, &msg)) return true;
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
  return true;
}

void TApplication::Run() {
  MSG msg;
  while (!terminated_) {
    BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      terminated_ = true;
      break;
    }
    DispatchOne(msg);
  }
}

bool TApplication::ProcessMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!DispatchOne(msg)) return false;
  }
  return !terminated_;
}

void TApplication::Terminate() {
  terminated_ = true;
  ::PostQuitMessage(0);
}

std::string ExceptionMessage(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

__attribute__((noinline)) void DispatchEventHandler(TObject* sender, void (*invoke)(void*), void* handler) noexcept {
  TFaultFrame faultFrame;
  try {
    invoke(handler);
  } catch (...) {
    Application().HandleException(sender);
  }
}

void TApplication::HandleException(TObject* sender) {
  std::exception_ptr error = std::current_exception();
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (...) {
  }
  try {
    if (OnException)
      OnException(sender, error);
    else
      ShowException(error);
  } catch (...) {
    // The handler of last resort must not throw back into a window procedure.
  }
}

void TApplication::ShowException(std::exception_ptr error) {
  std::string text = ExceptionMessage(error);
  if (!text.empty() && text.back() != '.') text += '.';
  MessageBox(text, title_, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  HWND owner = ::GetActiveWindow();
  if (!owner) owner = mainForm_;
  return ::MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

}  // namespace pelloran
