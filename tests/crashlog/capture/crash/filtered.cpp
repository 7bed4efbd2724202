// Classes in the exceptions filter are never reported and the framework's own box does not show
// either: an empty filter message swallows the error silently, a message is shown in a box
// (answered here by a watcher that prints the box's text).
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EConvertError\r$
// STDOUT: ^box: The job list is busy, try again\.$
// STDOUT: ^boxes: 1$
#include <atomic>
#include <cstdio>
#include <thread>

#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

PELLORAN_EXCEPTION_CLASS(EJobListBusy, EInOutError);
PELLORAN_EXCEPTION_CLASS(EAbortedByUser, Exception);

std::atomic<int> boxes{0};

// Closes every message box of this process and prints its text.
void WatchBoxes(std::atomic<bool>& stop) {
  while (!stop) {
    // A box is read once it shows: its text is set while it initialises, still hidden.
    if (HWND box = ::FindWindowA("#32770", nullptr); box != nullptr && ::IsWindowVisible(box)) {
      DWORD process = 0;
      ::GetWindowThreadProcessId(box, &process);
      if (process == ::GetCurrentProcessId()) {
        char text[256] = {};
        ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        std::printf("box: %s\n", text);
        std::fflush(stdout);
        ++boxes;
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        ::Sleep(300);
      }
    }
    ::Sleep(20);
  }
}

int main() {
  crashlog::InstallReporter();
  std::atomic<bool> stop{false};
  std::thread watcher(WatchBoxes, std::ref(stop));
  crashtest::RunStepsInTimerTicks({
      [] { throw EAbortedByUser("quiet"); },
      [] { throw EJobListBusy("busy", 32); },
      [] { throw EConvertError("not a number"); },
  });
  stop = true;
  watcher.join();
  std::printf("boxes: %d\n", boxes.load());
  crashlog::UninstallReporter();
  return 0;
}
