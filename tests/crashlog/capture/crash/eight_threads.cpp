// Eight threads failing at the same moment give eight reports, one after another; none is lost and
// nothing deadlocks.
// EXIT: 0
// ENTRIES: 8
// LOG: ^  2\.4 Type *: EAccessViolation\r$
// LOG_FIRST_STACK_ROW: \|eight_threads\.cpp *\| *\|Fail *\| *{@fault} *\|
// STDOUT: ^all ended$
#include <cstdio>

#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

HANDLE start;

__attribute__((noinline)) void Fail(int n) {
  *crashtest::Opaque<volatile int>(nullptr) = n;  // @fault
}

DWORD WINAPI Worker(void* n) {
  ::WaitForSingleObject(start, INFINITE);
  Fail(static_cast<int>(reinterpret_cast<INT_PTR>(n)));
  return 0;
}

int main() {
  crashlog::InstallReporter();
  start = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE workers[8];
  for (int i = 0; i < 8; ++i)
    workers[i] = ::CreateThread(nullptr, 0, &Worker, reinterpret_cast<void*>(static_cast<INT_PTR>(i)), 0, nullptr);
  ::Sleep(100);
  ::SetEvent(start);
  ::WaitForMultipleObjects(8, workers, TRUE, INFINITE);
  std::printf("all ended\n");
  crashlog::UninstallReporter();
  return 0;
}
