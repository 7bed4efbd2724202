#pragma once
// Freeze detection: a watcher thread sends the program's main window an empty message every
// 50 ms; when it has not answered for FreezeTimeout seconds in a row, the watcher stops the main
// thread, takes its registers and a copy of its stack, lets it run again, and reports an
// EFrozenApplication at the instruction it was executing, through the normal report pipeline,
// from that copy: the report shows where it was stuck.
//
// The main thread may be stopped inside the heap it allocates from, or holding the loader lock;
// a report made while it stays stopped would wait for it for good. So while it is stopped the
// watcher allocates nothing, loads nothing and traces nothing (the copy goes into a buffer made
// beforehand), and it does not take a thread that holds the loader lock, which the report needs:
// that one runs on, and is looked at again after the next unanswered probe.
//
// The frozen main thread answers nothing during the report either: no step of the report may send
// one of its windows a message and wait (BelongsToFrozenThread tells the report which windows
// those are).

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "crashlog/capture/threads.h"

namespace pelloran::crashlog {

// The exception reported for a main thread that stopped answering; its message is FreezeMessage.
PELLORAN_EXCEPTION_CLASS(EFrozenApplication, Exception);

// The main thread as the watcher found it: its registers, and a copy of its stack from ESP up to
// its base (the thread runs on meanwhile).
struct TFrozenThreadSnapshot {
  CONTEXT Context{};
  std::uintptr_t StackStart = 0;   // the copy's first byte
  std::uintptr_t StackEnd = 0;     // one past the copy's last byte
  std::uintptr_t StackOrigin = 0;  // where the copy's first byte lies in the thread's stack (ESP)
};

// What the watcher needs of the exception pipeline; the installation hands it over.
struct TFreezeWatcherSetup {
  HANDLE MainThread = nullptr;      // a real handle of the main thread (suspend, context, resume)
  std::uintptr_t MainStackBase = 0; // the main thread's stack base, recorded at installation
  // Waits while an error is being processed and then claims the pipeline for this thread (Busy,
  // OwnerThread); false when it cannot be claimed. Release gives it back.
  std::function<bool()> ClaimBusy;
  std::function<void()> ReleaseBusy;
  // Reports the freeze (ExceptNotify with the object, address = EIP, not a language raise, the
  // stack copy and the context). Runs on the watcher thread; FrozenThreadId names the main thread
  // meanwhile.
  std::function<void(const EFrozenApplication& error, const TFrozenThreadSnapshot& snapshot)> Notify;
};

// Stores the setup and lets the option setters start and stop the watcher (SetActive and
// SetFreezeDetection of the running module's option set). Does not start it.
void InstallFreezeWatcher(TFreezeWatcherSetup setup);
// StopFreezeWatcher, and the option setters no longer reach the watcher.
void UninstallFreezeWatcher();

// Starts the watcher when the program is not the development environment, none runs, and the
// running module's options have Active and FreezeDetection set.
void StartFreezeWatcher();
// Stops the watcher when one runs: it is told to end and waited for, never killed (it may hold
// the claim on the pipeline). In a library, whose threads cannot end while it unloads, the wait is
// bounded; the library was pinned when the watcher started, so a watcher still running keeps its
// code.
void StopFreezeWatcher();

bool FreezeWatcherRunning();
// The watcher's thread id; 0 when none runs.
DWORD FreezeWatcherThreadId();

// The thread whose freeze is being reported; 0 outside a freeze report.
DWORD FrozenThreadId() noexcept;
// True while a freeze report runs and `window` belongs to the frozen thread: a message sent to
// it would wait as long as that thread does not answer.
bool BelongsToFrozenThread(HWND window) noexcept;

// FreezeTimeout in seconds as the watcher uses it: values below 1 count as 1 (a timeout of 0
// would take every answered round for a freeze).
int EffectiveFreezeTimeout(int configuredSeconds) noexcept;

// The watcher: made suspended, resumed by StartFreezeWatcher, freed by StopFreezeWatcher. A thread
// of the reporter: the stack that created it never joins a report's call stack (a freeze report
// runs on this thread but shows the main thread's stack alone).
class TFreezeThread : public TReporterThread {
 public:
  explicit TFreezeThread(const TFreezeWatcherSetup& setup) : setup_(setup) {}

 protected:
  void Execute() override;

 private:
  enum class TOutcome { Reported, NotFrozen, NotSure };
  // One round of probes; true when the window did not answer for the whole timeout.
  bool WindowStoppedAnswering(HWND window);
  // NotSure: the main thread held a lock the report needs; it was let go without a report.
  TOutcome ReportFreeze(HWND window);
  enum class TSnapshotResult { Taken, NoContext, LockHeld };
  // Stops the main thread, takes its registers and stack into `snapshot` and lets it go.
  TSnapshotResult TakeSnapshot(TFrozenThreadSnapshot& snapshot);

  const TFreezeWatcherSetup& setup_;
  int clampedTimeout_ = 1;  // the last timeout below 1 that the trace was told about
  std::uintptr_t stackLow_ = 0;        // the lowest address of the main thread's stack reserve
  std::vector<std::uint8_t> stackCopy_;  // as large as that reserve, made before the first freeze
};

}  // namespace pelloran::crashlog
