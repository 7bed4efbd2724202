// An error of a timer tick shown in the real error dialog, on the reporter's worker thread while
// the main thread only repaints. A "user" (a thread of the program) reads the dialog, opens the
// call stack page, ticks the copy box and presses the terminate button, then describes the steps
// in the request dialog: the steps go into the log and the program ends with exit code 1.
// EXIT: 1
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG: \r\nRequest:\r\n-{40}\r\nDropped a file, pressed start\.\r$
// STDOUT: ^dialog: Cannot read the job list\.$
// STDOUT: ^first row: ReadJobList \(dialog_shown\.cpp, line {@throw}\)$
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <thread>

#include "base/exceptions.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;
using crashlog::kIdDetails;

__attribute__((noinline)) void ReadJobList() {
  throw EInOutError("Cannot read the job list", 5);  // @throw
}

namespace {

HWND WaitForDialog(const char* caption) {
  for (int i = 0; i < 1500; ++i) {
    if (HWND window = ::FindWindowA("#32770", caption)) {
      RECT pending{};
      if (::IsWindowVisible(window) && !::GetUpdateRect(window, &pending, FALSE)) return window;
    }
    ::Sleep(20);
  }
  return nullptr;
}

std::string Text(HWND window) {
  char text[512] = {};
  ::GetWindowTextA(window, text, sizeof text);
  return text;
}

void Click(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  RECT r{};
  ::GetClientRect(control, &r);
  ::SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(r.right / 2, r.bottom / 2));
  ::SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(r.right / 2, r.bottom / 2));
}

std::string Cell(HWND list, int column) {
  char text[256] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  ::SendMessageA(list, LVM_GETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&item));
  return text;
}

void User() {
  HWND dialog = WaitForDialog("Error.");
  if (!dialog) return;
  std::printf("dialog: %s\n", Text(::GetDlgItem(dialog, crashlog::kIdMessage)).c_str());
  Click(dialog, kIdDetails);
  HWND tabs = ::GetDlgItem(dialog, crashlog::kIdTabs);
  RECT r{};
  ::SendMessageA(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
  ::SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  ::SendMessageA(tabs, WM_LBUTTONUP, 0, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  HWND list = ::GetDlgItem(::GetWindow(tabs, GW_CHILD), crashlog::kIdPageContent);
  std::printf("first row: %s (%s, line %s)\n", Cell(list, 4).c_str(), Cell(list, 2).c_str(), Cell(list, 5).c_str());
  std::fflush(stdout);
  Click(dialog, crashlog::kIdCopy);
  Click(dialog, crashlog::kIdTerminate);
  HWND request = WaitForDialog("Request");
  if (!request) return;
  for (const char c : std::string("Dropped a file, pressed start."))
    ::SendDlgItemMessageA(request, crashlog::kIdRequestEdit, WM_CHAR, static_cast<unsigned char>(c), 1);
  Click(request, crashlog::kIdOk);
}

}  // namespace

int main() {
  crashlog::InstallReporter();
  std::thread user(User);
  user.detach();  // the terminate button ends the process under it
  crashtest::RunStepsInTimerTicks({ReadJobList});
  crashlog::UninstallReporter();
  return 0;
}
