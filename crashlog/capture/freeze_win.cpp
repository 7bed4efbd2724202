#include "crashlog/capture/freeze.h"

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

// Sends the window an empty message and waits at most 50 ms; SMTO_BLOCK: this thread handles
// nothing else meanwhile.
bool WindowAnswers(HWND window) {
  DWORD_PTR answer = 0;
  return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, kProbeTimeoutMs, &answer) != 0;
}

// While alive, the main thread is stopped and marked as the frozen one.
class TSuspendedThread {
 public:
  explicit TSuspendedThread(HANDLE thread) noexcept
      : thread_(thread), suspended_(::SuspendThread(thread) != static_cast<DWORD>(-1)) {
    if (suspended_) State().FrozenThread.store(::GetThreadId(thread));
  }
  TSuspendedThread(const TSuspendedThread&) = delete;
  TSuspendedThread& operator=(const TSuspendedThread&) = delete;
  ~TSuspendedThread() {
    if (!suspended_) return;
    State().FrozenThread.store(0);
    ::ResumeThread(thread_);
  }
  bool Suspended() const noexcept { return suspended_; }

 private:
  HANDLE thread_;
  bool suspended_;
};

}  // namespace

int EffectiveFreezeTimeout(int configuredSeconds) noexcept { return configuredSeconds < 1 ? 1 : configuredSeconds; }

void TFreezeThread::Execute() {
  TraceEnter("TFreezeThread.Execute");
  HWND window = nullptr;
  const DWORD process = ::GetCurrentProcessId();
  while (!Terminated() && (window = FindMainWindow(process)) == nullptr) ::Sleep(50);
  // The window found first is watched until the end, even when it goes away.
  while (!Terminated()) {
    if (WindowStoppedAnswering(window)) ReportFreeze(window);
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

void TFreezeThread::ReportFreeze(HWND window) {
  // The pipeline is claimed before the main thread is stopped: the report in progress may still
  // need the main thread (a message to one of its windows), and would never end while this thread
  // held it stopped and waited for that report.
  if (!setup_.ClaimBusy || !setup_.ClaimBusy()) return;
  struct TRelease {
    const TFreezeWatcherSetup& Setup;
    ~TRelease() {
      if (Setup.ReleaseBusy) Setup.ReleaseBusy();
    }
  } release{setup_};
  // The wait for the pipeline may have been long: a window that answers now is not frozen.
  if (WindowAnswers(window) || !::IsWindow(window)) return;

  TraceEnter("TFreezeThread.ReportFreeze");
  {
    TSuspendedThread suspended(setup_.MainThread);
    CONTEXT context{};
    context.ContextFlags = kFullContext;
    const bool haveContext = suspended.Suspended() && ::GetThreadContext(setup_.MainThread, &context) &&
                             context.Eip != 0 && context.Esp != 0;
    if (haveContext && setup_.Notify) {
      const TCrashModuleOptionsEx* options = FindCurrentCrashLogOptions();
      try {
        const EFrozenApplication error(options ? options->FreezeMessage() : std::string(kDefaultFreezeMessage));
        setup_.Notify(error, context, setup_.MainStackBase);
      } catch (...) {
        // the pipeline reports its own failures; the main thread is resumed in any case
      }
    }
  }
  TraceLeave("TFreezeThread.ReportFreeze");
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
    if (!state.Watcher) {
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
  watcher->Terminate();
  if (RunsInLibrary())
    ::TerminateThread(watcher->Handle(), 1);
  else
    watcher->WaitFor();
  watcher.reset();
  TraceLeave("StopFreezeWatcher");
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
