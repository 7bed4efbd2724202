// A main thread that stops answering its window is reported by the freeze watcher through the
// whole pipeline, with the main thread as the watcher found it: each report's first stack row is
// the procedure it spins in. The error dialog of each report is shown while the main thread still
// answers nothing; a "user" (a thread of the program) reads it and presses OK. A main thread still stuck
// after the first report is reported once more after another timeout; after the second report the
// user lets it go on, and the program ends normally.
// EXIT: 0
// ENTRIES: 2
// LOG: ^  2\.4 Type *: EFrozenApplication\r$
// LOG: ^  2\.5 Message *: The application seems to be frozen\.\r$
// The stack that created the watcher thread is none of the frozen thread's:
// LOG: (?s)\A(?!.*StartFreezeWatcher)
// LOG_FIRST_STACK_ROW: \|crash_freeze_reported\.exe *\|freeze_reported\.cpp *\| *\|SpinInFrozenProcedure *\|{@spin} *\|
// Each report's minidump names the stopped main thread, where it spins:
// DUMP_FRAMES: `SpinInFrozenProcedure\b
// STDOUT: ^dialog 1: The application seems to be frozen\.\ndialog 2: The application seems to be frozen\.\nanswering again\n
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "crashlog/delivery/error_dialog_window.h"
#include "tests/crashlog/capture/crash/crash_support.h"
#include "tests/support/window_test_support.h"

using namespace pelloran;
using namespace pelloran::testing;

// The flag is read through the compiler's builtin rather than std::atomic's inline functions: a
// freeze stops the spinning thread at any instruction of its loop, and each must belong to the
// spinning procedure's own line, not to an inlined library function (the report names the
// innermost inlined function, atomic_base.h, when the thread stops on the load).
bool g_release = false;
void SetRelease(bool value) { __atomic_store_n(&g_release, value, __ATOMIC_RELAXED); }

// Answers nothing and calls nothing until the user lets it go.
__attribute__((noinline)) void SpinInFrozenProcedure() {
  while (!__atomic_load_n(&g_release, __ATOMIC_RELAXED)) asm volatile("");  // @spin
}

namespace {

void User() {
  for (int report = 1; report <= 2; ++report) {
    HWND dialog = WaitForDialog("Error.");
    if (!dialog) break;
    char text[256] = {};
    ::GetDlgItemTextA(dialog, crashlog::kIdMessage, text, sizeof text);
    std::printf("dialog %d: %s\n", report, text);
    std::fflush(stdout);
    if (report == 2) SetRelease(true);  // the main thread goes on once the report has ended
    ClickControl(dialog, crashlog::kIdOk);
    WaitUntilGone(dialog);
  }
  SetRelease(true);
}

}  // namespace

int main() {
  crashlog::InstallReporter();
  std::thread user(User);
  crashtest::RunStepsInTimerTicks({[] {}, SpinInFrozenProcedure, [] {
                                     std::printf("answering again\n");
                                     std::fflush(stdout);
                                   }});
  user.join();
  crashlog::UninstallReporter();
  return 0;
}
