// A main thread that stops answering while it allocates and frees through the C runtime's heap
// (new and delete, the heap Wine's C runtime makes for itself) is reported once, however often the
// watcher finds it inside that heap: the watcher allocates nothing while it holds the thread
// stopped, so it never waits on a heap lock the stopped thread holds. The trace is on: the watcher
// lets the thread go through kernel32's own ResumeThread, not the program's hooked import, which
// would trace (and allocate) while the thread is still stopped.
// ARGS: /DEBUG
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EFrozenApplication\r$
// LOG: ^  2\.5 Message *: The application seems to be frozen\.\r$
// STDOUT: ^reported while the main thread allocated; it went on afterwards$
#include <atomic>
#include <cstdio>
#include <thread>

#include "tests/crashlog/capture/crash/crash_support.h"
#include "tests/crashlog/capture/crash/freeze_support.h"

using namespace pelloran;

std::atomic<bool> g_release{false};
std::atomic<long> g_rounds{0};

// Answers nothing: allocates and frees until the report is in the log. Blocks of a few dozen
// kilobytes are served from the heap's free lists under its lock (small ones may come from
// lock-free bins), so the watcher often finds the thread inside that lock.
__attribute__((noinline)) void AllocateUntilReleased() {
  for (unsigned n = 1; !g_release.load(std::memory_order_relaxed); ++n) {
    char* block = new char[20000 + (n * 7919u) % 150000];
    block[0] = static_cast<char>(n);
    char* small = new char[8 + n % 97];
    small[0] = block[0];
    delete[] block;
    delete[] small;
    g_rounds.fetch_add(1, std::memory_order_relaxed);
  }
}

int main() {
  crashlog::InstallReporter();
  std::thread user([] {
    crashtest::WaitForLogEntries(crashtest::OwnLogFile(), 1, 120000);
    g_release = true;
  });
  crashtest::RunStepsInTimerTicks({[] {}, AllocateUntilReleased});
  user.join();
  if (g_rounds.load() > 0)
    std::printf("reported while the main thread allocated; it went on afterwards\n");
  crashlog::UninstallReporter();
  return 0;
}
