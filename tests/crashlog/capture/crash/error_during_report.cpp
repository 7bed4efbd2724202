// An error raised while a report is in progress is not reported, and when it reaches the
// framework's handler, that handler does not run either. The first report's action handler runs
// on the main thread (the thread of the error) while the report is processed: there an event
// handler faults, which the framework catches, and an exception escapes the action handler itself.
// Neither is reported; a later error of its own is.
// EXIT: 0
// ENTRIES: 2
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG_FIRST_STACK_ROW: \|error_during_report\.cpp *\| *\|SaveJobList *\| *{@throw} *\|
// STDOUT: ^during the report, on the main thread: an event handler faulted, the action handler threw$
// STDOUT: ^framework handler ran 0 times$
// WINDOWS: its timer ticks run in a window of its own (the test holds the display lock)
#include <cstdio>

#include "base/exceptions.h"
#include "crashlog/capture/intercept.h"
#include "crashlog/flow/pipeline.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) void SaveJobList() {
  throw EInOutError("Cannot write the job list", 5);  // @throw
}

namespace {

int reports = 0;
int frameworkHandlerRuns = 0;

struct TCounter {
  int padding[4];
  int count;
};

__attribute__((noinline)) void StoreCount() {
  TCounter* counter = crashtest::Opaque<TCounter>(nullptr);
  counter->count = 1;
}

void OnAction(const crashlog::TCrashExceptionRecord&, crashlog::TCrashAction action, bool&) {
  if (action != crashlog::TCrashAction::BeforeLog || ++reports != 1) return;
  const bool mainThread = ::GetCurrentThreadId() == crashlog::MainThreadId();
  // An event handler that faults: the framework catches the fault and hands it to its handler.
  CallEventHandler(nullptr, [] { StoreCount(); });
  std::printf("during the report, on the %s thread: an event handler faulted, the action handler threw\n",
              mainThread ? "main" : "other");
  std::fflush(stdout);
  throw EConvertError("Cannot convert the count");
}

}  // namespace

int main() {
  crashlog::InstallReporter();
  crashlog::CrashLogHandlers().Action = &OnAction;
  Application().OnException = [](TObject*, std::exception_ptr) { ++frameworkHandlerRuns; };
  crashtest::RunStepsInTimerTicks({SaveJobList, SaveJobList});
  crashlog::UninstallReporter();
  std::printf("framework handler ran %d times\n", frameworkHandlerRuns);
  return 0;
}
