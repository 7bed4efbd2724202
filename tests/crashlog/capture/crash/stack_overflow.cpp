// A stack overflow is reported (the report is built on a stack of its own). In an event handler
// it reaches the framework's handler and the program goes on; the main thread's guard page is back,
// so a second overflow in a later tick is reported too. In a worker, an overflow that nothing
// catches is reported at once and ends that thread (the thread entry swallows it: exit code 0);
// a second worker overflows the same way.
// EXIT: 0
// ENTRIES: 4
// LOG: ^  2\.4 Type *: EStackOverflow\r$
// LOG: ^  2\.5 Message *: Stack overflow\.\r$
// LOG_FIRST_STACK_ROW: \|stack_overflow\.cpp *\| *\|Recurse *\|
// Below the recursion, the code that started it: the tick's step, whose frame the framework's
// handler overwrites once it runs (the stack was kept at the fault), or the worker's function.
// LOG: \|stack_overflow\.cpp *\|[^|]*\|[^|]*\| *({@tick}|{@worker}) *\|
// LOG: ^ECX: [0-9A-F]{8}   ESP: ([0-9A-F]{8})\r$[\s\S]*^Stack: +Memory Dump:\r\n-+ +-+\r\n\1: 
// STDOUT: ^worker ended with 0, worker ended with 0$
#include <cstdio>

#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

int Recurse(int depth);
// Called through a pointer, so that the compiler sees no recursion to fold.
int (*volatile recurse)(int) = &Recurse;

__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return recurse(depth + 1) + frame[0];
}

DWORD WINAPI Worker(void*) {
  return static_cast<DWORD>(Recurse(0));  // @worker
}

DWORD OverflowInWorker() {
  HANDLE worker = ::CreateThread(nullptr, 0, &Worker, nullptr, 0, nullptr);
  ::WaitForSingleObject(worker, INFINITE);
  DWORD code = 0;
  ::GetExitCodeThread(worker, &code);
  ::CloseHandle(worker);
  return code;
}

int main() {
  crashlog::InstallReporter();
  const auto overflow = [] {
    volatile int depth = Recurse(0);  // @tick
    (void)depth;
  };
  crashtest::RunStepsInTimerTicks({overflow, overflow});
  const DWORD first = OverflowInWorker();
  const DWORD second = OverflowInWorker();
  std::printf("worker ended with %lu, worker ended with %lu\n", first, second);
  crashlog::UninstallReporter();
  return 0;
}
