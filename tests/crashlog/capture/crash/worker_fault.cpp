// An access violation in a plain worker thread is reported at once, on that thread, with the
// fault's stack followed by the stack of the code that created the thread; the thread ends and the
// program goes on. Its minidump names the worker and its fault: LLDB shows the faulting line.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EAccessViolation\r$
// LOG_FIRST_STACK_ROW: \|worker_fault\.cpp *\| *\|ReadSettings *\| *{@read} *\|
// LOG: \|worker_fault\.cpp *\| *\|StartWorker *\| *{@create} *\|
// STDOUT: ^worker ended$
// DUMP_FRAMES: \bReadSettings\(\) at worker_fault\.cpp:{@read}\b ;; Worker.* at worker_fault\.cpp:\d+
#include <cstdio>

#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) int ReadSettings() {
  return *crashtest::Opaque<volatile int>(nullptr);  // @read
}

DWORD WINAPI Worker(void*) { return static_cast<DWORD>(ReadSettings()); }

__attribute__((noinline)) HANDLE StartWorker() {
  return ::CreateThread(nullptr, 0, &Worker, nullptr, 0, nullptr);  // @create
}

int main() {
  crashlog::InstallReporter();
  HANDLE worker = StartWorker();
  ::WaitForSingleObject(worker, INFINITE);
  ::CloseHandle(worker);
  std::printf("worker ended\n");
  crashlog::UninstallReporter();
  return 0;
}
