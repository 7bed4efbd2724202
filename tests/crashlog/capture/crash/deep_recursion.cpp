// A stack overflow through two procedures that call each other fills the stack with thousands of
// their frames; the report shows the pair once with a row saying how often it ran (a row of the
// table like any other, its text in the procedure cell), and the entry stays far below 256 KB.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EStackOverflow\r$
// LOG: ^\|[0-9A-F]{8}\|crash_deep_recursion\.exe *\|deep_recursion\.cpp *\|[^|]*\|(Ping|Pong) *\|[^|]*\|\r\n\|[0-9A-F]{8}\|crash_deep_recursion\.exe *\|deep_recursion\.cpp *\|[^|]*\|(Ping|Pong) *\|[^|]*\|\r\n\| {8}\| +\| +\| +\|\(the 2 rows above, \d{3,} times in all\) *\| *\|\r$
// LOG: \A[\s\S]{1,262143}\Z
// STDOUT: ^worker ended with 0$
#include <windows.h>

#include <cstdio>

#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

int Pong(int depth);
// Called through pointers, so that the compiler sees no recursion to fold.
int (*volatile pong)(int) = &Pong;

__attribute__((noinline)) int Ping(int depth) {
  volatile char frame[200];
  frame[0] = static_cast<char>(depth);
  return pong(depth + 1) + frame[0];
}
int (*volatile ping)(int) = &Ping;

__attribute__((noinline)) int Pong(int depth) {
  volatile char frame[300];
  frame[0] = static_cast<char>(depth);
  return ping(depth + 1) + frame[0];
}

DWORD WINAPI Worker(void*) { return static_cast<DWORD>(Ping(0)); }

int main() {
  crashlog::InstallReporter();
  HANDLE worker = ::CreateThread(nullptr, 0, &Worker, nullptr, 0, nullptr);
  ::WaitForSingleObject(worker, INFINITE);
  DWORD code = 1;
  ::GetExitCodeThread(worker, &code);
  ::CloseHandle(worker);
  std::printf("worker ended with %lu\n", code);
  crashlog::UninstallReporter();
  return 0;
}
