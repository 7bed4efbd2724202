// A main thread that holds the loader lock while it stops answering is not reported while it holds
// it (the report needs that lock, and the watcher would wait for a thread it holds stopped): the
// watcher lets it run and looks again at its next probe. Once it has let go and freezes elsewhere,
// that freeze is reported, once, and nothing deadlocks.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EFrozenApplication\r$
// LOG_FIRST_STACK_ROW: \|crash_freeze_loader_lock\.exe *\|freeze_loader_lock\.cpp *\| *\|SpinElsewhere *\|{@spin} *\|
// STDOUT: ^the watcher let the main thread run while it held the loader lock$
// STDOUT: ^reported after the main thread let go of the loader lock$
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "crashlog/infra/diagnostics/trace.h"
#include "tests/crashlog/capture/crash/crash_support.h"
#include "tests/crashlog/capture/crash/freeze_support.h"

using namespace pelloran;

constexpr DWORD kFreezeTimeoutMs = 2000;  // as in freeze_loader_lock.options

// The flag is read through the compiler's builtin rather than std::atomic's inline functions: a
// freeze stops the spinning thread at any instruction of its loop, and each must belong to the
// spinning procedure's own line, not to an inlined library function (the report names the
// innermost inlined function, atomic_base.h, when the thread stops on the load).
bool g_release = false;
void SetRelease(bool value) { __atomic_store_n(&g_release, value, __ATOMIC_RELAXED); }
std::atomic<DWORD> g_letGoAt{0};
std::atomic<DWORD> g_reportSeenAt{0};

using LdrLockLoaderLockCall = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
using LdrUnlockLoaderLockCall = LONG(NTAPI*)(ULONG, ULONG_PTR);

// Answers nothing and calls nothing until the report is in the log.
__attribute__((noinline)) void SpinElsewhere() {
  while (!__atomic_load_n(&g_release, __ATOMIC_RELAXED)) asm volatile("");  // @spin
}

// Holds the loader lock, without answering, for three freeze timeouts; then freezes elsewhere.
void HoldTheLoaderLockThenFreeze() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  const auto lock = reinterpret_cast<LdrLockLoaderLockCall>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrLockLoaderLock")));
  const auto unlock =
      reinterpret_cast<LdrUnlockLoaderLockCall>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
  ULONG_PTR cookie = 0;
  if (lock == nullptr || unlock == nullptr || lock(0, nullptr, &cookie) != 0) {
    std::printf("cannot take the loader lock\n");
    return;
  }
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < 3 * kFreezeTimeoutMs) asm volatile("");
  unlock(0, cookie);
  g_letGoAt = ::GetTickCount();
  SpinElsewhere();
}

int main() {
  crashlog::SetTraceEnabled(true);
  crashlog::InstallReporter();
  std::thread user([] {
    if (crashtest::WaitForLogEntries(crashtest::OwnLogFile(), 1, 120000)) g_reportSeenAt = ::GetTickCount();
    SetRelease(true);
  });
  crashtest::RunStepsInTimerTicks({[] {}, HoldTheLoaderLockThenFreeze});
  user.join();
  bool letRun = false;
  for (const std::string& line : crashlog::TraceLog().Lines())
    letRun = letRun || line.find("TFreezeThread.MainThreadHoldsTheLoaderLock") != std::string::npos;
  if (letRun) std::printf("the watcher let the main thread run while it held the loader lock\n");
  if (g_letGoAt.load() != 0 && g_reportSeenAt.load() != 0 &&
      static_cast<LONG>(g_reportSeenAt.load() - g_letGoAt.load()) >= 0)
    std::printf("reported after the main thread let go of the loader lock\n");
  crashlog::UninstallReporter();
  return 0;
}
