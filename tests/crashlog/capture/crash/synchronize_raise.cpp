// A method that a worker runs on the main thread through Synchronize raises: one report, made in
// the main thread at the raise (the main thread's catch in Synchronize does not count as the
// program handling it), with the raise first and the main thread's frames that ran it below.
// The worker raises the same exception again when Synchronize returns and lets it end the thread
// (only the thread wrapper catches it there): that is not reported again.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG: ^  2\.5 Message *: Cannot show the progress\.\r$
// LOG_FIRST_STACK_ROW: \|crash_synchronize_raise\.exe *\|synchronize_raise\.cpp *\| *\|ShowProgress *\| *{@raise} *\|
// STACK_ROWS: \|ShowProgress *\| *{@raise} *\| ;; [|:]SynchronizeCatchAll *\| ;; \|RunLoader *\| *{@wait} *\|
// STACK_NONE: [|:]ReRaiseSynchronizeException *\|
// NO_REPORTER_ROWS: [|:]RunLoader *\|
// STDOUT: ^the worker ended with: Cannot show the progress$
#include <cstdio>

#include "base/exceptions.h"
#include "runtime/thread.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) void ShowProgress() {
  throw EInOutError("Cannot show the progress", 5);  // @raise
}

class TLoader : public TThread {
 protected:
  void Execute() override { Synchronize([] { ShowProgress(); }); }
};

__attribute__((noinline)) void RunLoader() {
  TLoader loader;
  loader.Resume();
  loader.WaitFor();  // @wait
  std::printf("the worker ended with: %s\n", ExceptionMessage(loader.FatalException()).c_str());
  std::fflush(stdout);
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({RunLoader});
  crashlog::UninstallReporter();
  return 0;
}
