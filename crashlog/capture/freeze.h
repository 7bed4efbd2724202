#pragma once
// Freeze detection: a watcher thread sends the program's main window an empty message every
// 50 ms; when it has not answered for FreezeTimeout seconds in a row, the watcher stops the main
// thread, takes its registers and reports an EFrozenApplication at the instruction it was
// executing, through the normal report pipeline. The main thread stays stopped until the report
// (dialog, log, mail) is finished, so the report shows where it was stuck.
//
// While the main thread is stopped, its windows answer nothing: no step of the report may send
// one of them a message and wait (BelongsToFrozenThread tells the report which windows those are).

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "base/exceptions.h"
#include "crashlog/capture/threads.h"

namespace pelloran::crashlog {

// The exception reported for a main thread that stopped answering; its message is FreezeMessage.
PELLORAN_EXCEPTION_CLASS(EFrozenApplication, Exception);

// What the watcher needs of the exception pipeline; the installation hands it over.
struct TFreezeWatcherSetup {
  HANDLE MainThread = nullptr;      // a real handle of the main thread (suspend, context, resume)
  std::uintptr_t MainStackBase = 0; // the main thread's stack base, recorded at installation
  // Waits while an error is being processed and then claims the pipeline for this thread (Busy,
  // OwnerThread); false when it cannot be claimed. Release gives it back.
  std::function<bool()> ClaimBusy;
  std::function<void()> ReleaseBusy;
  // Reports the freeze (ExceptNotify with the object, address = EIP, not a language raise,
  // stackEnd, stackStart = ESP, the context). Runs on the watcher thread with the main thread
  // stopped.
  std::function<void(const EFrozenApplication& error, const CONTEXT& context, std::uintptr_t stackEnd)> Notify;
};

// Stores the setup and lets the option setters start and stop the watcher (SetActive and
// SetFreezeDetection of the running module's option set). Does not start it.
void InstallFreezeWatcher(TFreezeWatcherSetup setup);
// StopFreezeWatcher, and the option setters no longer reach the watcher.
void UninstallFreezeWatcher();

// Starts the watcher when the program is not the development environment, none runs, and the
// running module's options have Active and FreezeDetection set.
void StartFreezeWatcher();
// Stops the watcher when one runs: it is told to end and waited for (killed with exit code 1 when
// the reporter lives in a library, whose threads cannot be waited for while it unloads).
void StopFreezeWatcher();

bool FreezeWatcherRunning();
// The watcher's thread id; 0 when none runs.
DWORD FreezeWatcherThreadId();

// The thread that the watcher holds stopped for a freeze report; 0 outside one.
DWORD FrozenThreadId() noexcept;
// True while a freeze report runs and `window` belongs to the stopped thread: a message sent to
// it would wait until the report has ended.
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
  // One round of probes; true when the window did not answer for the whole timeout.
  bool WindowStoppedAnswering(HWND window);
  void ReportFreeze(HWND window);

  const TFreezeWatcherSetup& setup_;
  int clampedTimeout_ = 1;  // the last timeout below 1 that the trace was told about
};

}  // namespace pelloran::crashlog
