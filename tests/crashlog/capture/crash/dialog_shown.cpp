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
#include "tests/support/window_test_support.h"

using namespace pelloran;
using namespace pelloran::testing;
using crashlog::kIdDetails;

__attribute__((noinline)) void ReadJobList() {
  throw EInOutError("Cannot read the job list", 5);  // @throw
}

namespace {

std::string Text(HWND window) {
  char text[512] = {};
  ::GetWindowTextA(window, text, sizeof text);
  return text;
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
  ClickControl(dialog, kIdDetails);
  HWND tabs = ::GetDlgItem(dialog, crashlog::kIdTabs);
  RECT r{};
  ::SendMessageA(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
  ::SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  ::SendMessageA(tabs, WM_LBUTTONUP, 0, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  HWND list = ::GetDlgItem(::GetWindow(tabs, GW_CHILD), crashlog::kIdPageContent);
  std::printf("first row: %s (%s, line %s)\n", Cell(list, 4).c_str(), Cell(list, 2).c_str(), Cell(list, 5).c_str());
  std::fflush(stdout);
  ClickControl(dialog, crashlog::kIdCopy);
  ClickControl(dialog, crashlog::kIdTerminate);
  HWND request = WaitForDialog("Request");
  if (!request) return;
  for (const char c : std::string("Dropped a file, pressed start."))
    ::SendDlgItemMessageA(request, crashlog::kIdRequestEdit, WM_CHAR, static_cast<unsigned char>(c), 1);
  ClickControl(request, crashlog::kIdOk);
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
