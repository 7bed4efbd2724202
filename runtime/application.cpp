#include "runtime/application.h"

#include <commctrl.h>

#include "runtime/exceptions.h"

namespace pelloran {

TApplication& Application() {
  static TApplication app;
  return app;
}

TApplication::TApplication() = default;

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES |
                                            ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);
}

bool TApplication::DispatchOne(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return false;
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
