#include "crashlog/capture/freeze.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/options.h"

namespace pelloran::crashlog {

namespace {

constexpr UINT kProbeTimeoutMs = 50;
constexpr DWORD kFullContext = 0x10007;  // control, integer and segment registers

struct TFreezeWatcherState {
  std::mutex Lock;  // guards Setup and Watcher; never held while waiting for the thread
  TFreezeWatcherSetup Setup;
  std::unique_ptr<TFreezeThread> Watcher;
  std::atomic<DWORD> WatcherThreadId{0};
  std::atomic<DWORD> FrozenThread{0};
};

TFreezeWatcherState& State() {
  static TFreezeWatcherState* const state = new TFreezeWatcherState;  // outlives the watcher thread
  return *state;
}

void SwitchFreezeWatcher(bool run) {
  if (run)
    StartFreezeWatcher();
  else
    StopFreezeWatcher();
}

bool RunsInLibrary() { return ThisModule() != ::GetModuleHandleA(nullptr); }

// How long stopping waits for the watcher of a library (it looks at its stop flag every 50 ms
// while it watches).
constexpr DWORD kLibraryStopWaitMs = 2000;

// A watcher thread runs the library's code until it ends, and it cannot always be waited for (see
// StopFreezeWatcher): from its start on, the library is never unloaded.
bool PinThisModule() {
  HMODULE pinned = nullptr;
  return ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCSTR>(&RunsInLibrary), &pinned) != 0;
}

// Sends the window an empty message and waits at most 50 ms; SMTO_BLOCK: this thread handles
// nothing else meanwhile.
bool WindowAnswers(HWND window) {
  DWORD_PTR answer = 0;
  return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, kProbeTimeoutMs, &answer) != 0;
}

using TResumeThreadCall = DWORD(WINAPI*)(HANDLE thread);

// kernel32's own ResumeThread. The program's import of it leads to the reporter's hook, which
// traces and takes the thread registry's lock: nothing the watcher may call while the main thread
// is stopped. Resolved once, before any thread is stopped (resolving takes the loader lock).
TResumeThreadCall RealResumeThread() {
  static const TResumeThreadCall resume = reinterpret_cast<TResumeThreadCall>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "ResumeThread")));
  return resume;
}

// While alive, the main thread is stopped. Nothing done meanwhile may take a lock that thread
// could hold: no allocation, no loading, no trace, no hooked call.
class TSuspendedThread {
 public:
  TSuspendedThread(HANDLE thread, TResumeThreadCall resume) noexcept
      : thread_(thread), resume_(resume),
        suspended_(resume != nullptr && ::SuspendThread(thread) != static_cast<DWORD>(-1)) {}
  TSuspendedThread(const TSuspendedThread&) = delete;
  TSuspendedThread& operator=(const TSuspendedThread&) = delete;
  ~TSuspendedThread() {
    if (suspended_) resume_(thread_);
  }
  bool Suspended() const noexcept { return suspended_; }

 private:
  HANDLE thread_;
  TResumeThreadCall resume_;
  bool suspended_;
};

// While alive, the thread whose freeze is being reported is named by FrozenThreadId.
class TFrozenMark {
 public:
  explicit TFrozenMark(DWORD thread) noexcept { State().FrozenThread.store(thread); }
  TFrozenMark(const TFrozenMark&) = delete;
  TFrozenMark& operator=(const TFrozenMark&) = delete;
  ~TFrozenMark() { State().FrozenThread.store(0); }
};

// ntdll's loader lock, tried without waiting.
using TLdrLockLoaderLock = LONG(NTAPI*)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
using TLdrUnlockLoaderLock = LONG(NTAPI*)(ULONG flags, ULONG_PTR cookie);
constexpr ULONG kLoaderLockTryOnly = 0x2;
constexpr ULONG kLoaderLockAcquired = 1;

struct TLoaderLockCalls {
  TLdrLockLoaderLock Lock = nullptr;
  TLdrUnlockLoaderLock Unlock = nullptr;
};

// Resolved once, before any thread is stopped (resolving takes the loader lock itself).
const TLoaderLockCalls& LoaderLockCalls() {
  static const TLoaderLockCalls calls = [] {
    TLoaderLockCalls found;
    if (HMODULE ntdll = ::GetModuleHandleA("ntdll.dll")) {
      found.Lock = reinterpret_cast<TLdrLockLoaderLock>(
          reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrLockLoaderLock")));
      found.Unlock = reinterpret_cast<TLdrUnlockLoaderLock>(
          reinterpret_cast<void*>(::GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    }
    return found;
  }();
  return calls;
}

// True when some thread holds the loader lock (or the test fails). Never waits.
bool LoaderLockHeld(const TLoaderLockCalls& calls) noexcept {
  if (calls.Lock == nullptr || calls.Unlock == nullptr) return false;  // nothing to test it with
  ULONG disposition = 0;
  ULONG_PTR cookie = 0;
  if (calls.Lock(kLoaderLockTryOnly, &disposition, &cookie) != 0) return true;
  if (disposition != kLoaderLockAcquired) return true;
  calls.Unlock(0, cookie);
  return false;
}

// The lowest address of the stack reserve whose base is `stackBase`; 0 when unknown.
std::uintptr_t StackReserveLow(std::uintptr_t stackBase) {
  MEMORY_BASIC_INFORMATION info{};
  if (stackBase == 0 || ::VirtualQuery(reinterpret_cast<const void*>(stackBase - 1), &info, sizeof info) == 0)
    return 0;
  return reinterpret_cast<std::uintptr_t>(info.AllocationBase);
}

}  // namespace

int EffectiveFreezeTimeout(int configuredSeconds) noexcept { return configuredSeconds < 1 ? 1 : configuredSeconds; }

void TFreezeThread::Execute() {
  TraceEnter("TFreezeThread.Execute");
  HWND window = nullptr;
  const DWORD process = ::GetCurrentProcessId();
  LoaderLockCalls();
  RealResumeThread();
  while (!Terminated() && (window = FindMainWindow(process)) == nullptr) ::Sleep(50);
  // The window found first is watched until the end, even when it goes away.
  while (!Terminated()) {
    if (!WindowStoppedAnswering(window)) continue;
    // A main thread that held a lock the report needs is looked at again after the next probe,
    // for as long as the window does not answer.
    bool toldNotSure = false;
    while (!Terminated() && ReportFreeze(window) == TOutcome::NotSure) {
      if (!toldNotSure) Trace("TFreezeThread.MainThreadHoldsTheLoaderLock");
      toldNotSure = true;
    }
  }
  TraceLeave("TFreezeThread.Execute");
}

bool TFreezeThread::WindowStoppedAnswering(HWND window) {
  const TCrashModuleOptionsEx* options = FindCurrentCrashLogOptions();
  const int configured = options ? options->FreezeTimeout() : 60;
  const int seconds = EffectiveFreezeTimeout(configured);
  if (seconds != configured && configured != clampedTimeout_) {
    Trace("TFreezeThread.FreezeTimeout below 1 taken as 1", {configured});
    clampedTimeout_ = configured;
  }
  const int timeoutMs = seconds * 1000;
  int waited = 0;
  while (!Terminated() && waited < timeoutMs) {
    if (!WindowAnswers(window) && ::IsWindow(window)) {
      waited += kProbeTimeoutMs;
    } else {
      // It answered (or is gone): the count starts again after a rest of up to 250 ms.
      for (int i = 0; i < 5 && !Terminated(); ++i) ::Sleep(50);
      waited = 0;
    }
  }
  return !Terminated() && waited >= timeoutMs;
}

TFreezeThread::TOutcome TFreezeThread::ReportFreeze(HWND window) {
  // The pipeline is claimed before the main thread is stopped: the report in progress may still
  // need the main thread (a message to one of its windows), and would never end while this thread
  // held it stopped and waited for that report.
  if (!setup_.ClaimBusy || !setup_.ClaimBusy()) return TOutcome::NotFrozen;
  struct TRelease {
    const TFreezeWatcherSetup& Setup;
    ~TRelease() {
      if (Setup.ReleaseBusy) Setup.ReleaseBusy();
    }
  } release{setup_};
  // The wait for the pipeline may have been long: a window that answers now is not frozen.
  if (WindowAnswers(window) || !::IsWindow(window)) return TOutcome::NotFrozen;

  // Made before the main thread is stopped: the exception object and the buffer for its stack.
  const TCrashModuleOptionsEx* options = FindCurrentCrashLogOptions();
  const EFrozenApplication error(options ? options->FreezeMessage() : std::string(kDefaultFreezeMessage));
  if (stackCopy_.empty()) {
    stackLow_ = StackReserveLow(setup_.MainStackBase);
    if (stackLow_ == 0 || stackLow_ >= setup_.MainStackBase) return TOutcome::NotFrozen;
    stackCopy_.assign(setup_.MainStackBase - stackLow_, 0);
  }
  TFrozenThreadSnapshot snapshot;
  switch (TakeSnapshot(snapshot)) {
    case TSnapshotResult::LockHeld:
      return TOutcome::NotSure;
    case TSnapshotResult::NoContext:
      Trace("TFreezeThread.NoContext");
      return TOutcome::NotFrozen;
    case TSnapshotResult::Taken:
      break;
  }

  TraceEnter("TFreezeThread.ReportFreeze", {reinterpret_cast<const void*>(snapshot.StackOrigin)});
  if (setup_.Notify) {
    const TFrozenMark frozen(::GetThreadId(setup_.MainThread));
    try {
      setup_.Notify(error, snapshot);
    } catch (...) {
      // the pipeline reports its own failures
    }
  }
  TraceLeave("TFreezeThread.ReportFreeze");
  return TOutcome::Reported;
}

TFreezeThread::TSnapshotResult TFreezeThread::TakeSnapshot(TFrozenThreadSnapshot& snapshot) {
  const TLoaderLockCalls& loaderLock = LoaderLockCalls();
  const TSuspendedThread suspended(setup_.MainThread, RealResumeThread());
  if (!suspended.Suspended()) return TSnapshotResult::NoContext;
  CONTEXT& context = snapshot.Context;
  context.ContextFlags = kFullContext;
  // Once the context is read, the thread has really stopped.
  if (!::GetThreadContext(setup_.MainThread, &context) || context.Eip == 0 || context.Esp == 0)
    return TSnapshotResult::NoContext;
  if (LoaderLockHeld(loaderLock)) return TSnapshotResult::LockHeld;
  const std::uintptr_t esp = context.Esp;
  if (esp < stackLow_ || esp >= setup_.MainStackBase) return TSnapshotResult::NoContext;
  // From ESP up to the base, all committed; the buffer is as large as the whole reserve.
  const std::size_t size = setup_.MainStackBase - esp;
  std::memcpy(stackCopy_.data(), reinterpret_cast<const void*>(esp), size);
  snapshot.StackStart = reinterpret_cast<std::uintptr_t>(stackCopy_.data());
  snapshot.StackEnd = snapshot.StackStart + size;
  snapshot.StackOrigin = esp;
  return TSnapshotResult::Taken;
}

void InstallFreezeWatcher(TFreezeWatcherSetup setup) {
  TFreezeWatcherState& state = State();
  {
    std::lock_guard guard(state.Lock);
    if (state.Watcher) return;  // a running watcher keeps the setup it was started with
    state.Setup = std::move(setup);
  }
  SetFreezeWatcherSwitch(&SwitchFreezeWatcher);
}

void UninstallFreezeWatcher() {
  SetFreezeWatcherSwitch(nullptr);
  StopFreezeWatcher();
}

void StartFreezeWatcher() {
  if (IsIDEHost()) return;
  TraceEnter("StartFreezeWatcher");
  TFreezeWatcherState& state = State();
  const TCrashModuleOptionsEx* options = FindCurrentCrashLogOptions();
  bool started = false;
  std::unique_ptr<TFreezeThread> retired;  // one that was told to stop from inside its own report
  {
    std::lock_guard guard(state.Lock);
    if (state.Watcher && state.Watcher->Terminated() && state.Watcher->ThreadID() != ::GetCurrentThreadId()) {
      retired = std::move(state.Watcher);
      state.WatcherThreadId.store(0);
    }
  }
  if (retired) retired->WaitFor();
  retired.reset();
  if (options && options->Active() && options->FreezeDetection()) {
    std::lock_guard guard(state.Lock);
    // Without the pin a library's watcher could outlive the library's code.
    if (!state.Watcher && (!RunsInLibrary() || PinThisModule())) {
      try {
        state.Watcher = std::make_unique<TFreezeThread>(state.Setup);
        ::SetThreadPriority(state.Watcher->Handle(), THREAD_PRIORITY_NORMAL);
        state.WatcherThreadId.store(state.Watcher->ThreadID());
        state.Watcher->Resume();
        started = true;
      } catch (...) {
        state.Watcher.reset();  // no thread to be had: the program runs without the watcher
        state.WatcherThreadId.store(0);
      }
    }
  }
  TraceLeave("StartFreezeWatcher", {started});
}

void StopFreezeWatcher() {
  if (IsIDEHost()) return;
  TFreezeWatcherState& state = State();
  std::unique_ptr<TFreezeThread> watcher;
  {
    std::lock_guard guard(state.Lock);
    if (!state.Watcher) return;
    if (state.Watcher->ThreadID() == ::GetCurrentThreadId()) {
      // Asked from inside its own report (an event handler switched the options): it cannot wait
      // for itself. It ends after the report; the object stays until the next start or stop.
      state.Watcher->Terminate();
      return;
    }
    watcher = std::move(state.Watcher);
    state.WatcherThreadId.store(0);
  }
  TraceEnter("StopFreezeWatcher");
  // Never killed: it may hold the one-error-at-a-time claim, or a lock of the heap, and a killed
  // thread never gives them back. It is asked to stop and waited for.
  watcher->Terminate();
  if (!RunsInLibrary()) {
    watcher->WaitFor();
    watcher.reset();
    TraceLeave("StopFreezeWatcher", {"ended"});
    return;
  }
  // In a library the wait is bounded: when the library is being unloaded, the loader lock is held
  // and a thread cannot end. One that has not ended runs on in the pinned module; its object
  // stays with it.
  if (::WaitForSingleObject(watcher->Handle(), kLibraryStopWaitMs) == WAIT_OBJECT_0) {
    watcher.reset();
    TraceLeave("StopFreezeWatcher", {"ended"});
  } else {
    (void)watcher.release();
    TraceLeave("StopFreezeWatcher", {"left running"});
  }
}

bool FreezeWatcherRunning() { return FreezeWatcherThreadId() != 0; }

DWORD FreezeWatcherThreadId() {
  TFreezeWatcherState& state = State();
  std::lock_guard guard(state.Lock);
  if (!state.Watcher || state.Watcher->Terminated()) return 0;
  return state.WatcherThreadId.load();
}

DWORD FrozenThreadId() noexcept { return State().FrozenThread.load(); }

bool BelongsToFrozenThread(HWND window) noexcept {
  const DWORD frozen = FrozenThreadId();
  return frozen != 0 && window != nullptr && ::GetWindowThreadProcessId(window, nullptr) == frozen;
}

}  // namespace pelloran::crashlog
