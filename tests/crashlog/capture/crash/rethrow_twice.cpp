// An exception that two catch blocks pass on with `throw;` before it reaches the framework's
// handler is reported at its original raise: the raise is the first row, the two functions whose
// catch blocks passed it on sit below it, and no row is a frame of the reporter or of the handler.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG: ^  2\.5 Message *: Cannot write the job list\.\r$
// LOG_FIRST_STACK_ROW: \|crash_rethrow_twice\.exe *\|rethrow_twice\.cpp *\| *\|WriteJobList *\| *{@raise} *\|
// STACK_ROWS: \|WriteJobList *\| *{@raise} *\| ;; \|SaveJobs *\| *{@first} *\| ;; \|SaveAll *\| *{@second} *\| ;; [|:]DispatchEventHandler *\|
// STACK_NONE: \|rethrow_twice\.cpp *\| *\|(SaveJobs|SaveAll) *\| *({@rethrow1}|{@rethrow2}) *\|
// NO_REPORTER_ROWS: TTimer *\|Fire *\|
#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

int saved = 0;

__attribute__((noinline)) void WriteJobList() {
  throw EInOutError("Cannot write the job list", 5);  // @raise
}

__attribute__((noinline)) void SaveJobs() {
  try {
    WriteJobList();  // @first
    ++saved;
  } catch (...) {
    saved = -1;
    throw;  // @rethrow1
  }
}

__attribute__((noinline)) void SaveAll() {
  try {
    SaveJobs();  // @second
    ++saved;
  } catch (...) {
    saved = -2;
    throw;  // @rethrow2
  }
}

int main() {
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks({SaveAll});
  crashlog::UninstallReporter();
  return 0;
}
