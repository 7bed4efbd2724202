// A stack overflow is reported (the report is built on a stack of its own). In an event handler
// it reaches the framework's handler and the program goes on; the main thread's guard page is back,
// so a second overflow in a later tick is reported too. An overflow that nothing catches in a
// worker is reported at once and ends that thread.
// EXIT: 0
// ENTRIES: 3
// LOG: ^  2\.4 Type *: EStackOverflow\r$
// LOG_FIRST_STACK_ROW: \|stack_overflow\.cpp *\| *\|Recurse *\|
// STDOUT: ^worker ended with 1$
#include <cstdio>

#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) int Recurse(volatile int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return Recurse(depth + 1) + frame[0];
}

DWORD WINAPI Worker(void*) { return static_cast<DWORD>(Recurse(0)); }

void OverflowInWorker() {
  HANDLE worker = ::CreateThread(nullptr, 0, &Worker, nullptr, 0, nullptr);
  ::WaitForSingleObject(worker, INFINITE);
  DWORD code = 0;
  ::GetExitCodeThread(worker, &code);
  ::CloseHandle(worker);
  std::printf("worker ended with %lu\n", code);
  std::fflush(stdout);
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({[] { Recurse(0); }, [] { Recurse(0); }, OverflowInWorker});
  crashlog::UninstallReporter();
  return 0;
}
