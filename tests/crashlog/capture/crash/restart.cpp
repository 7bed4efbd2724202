// Terminate with restart: the first instance starts a new one with the same command line in its
// start folder and ends with exit code 1. The new instance fails again within a minute: it is not
// restarted again, and its report says so.
// ARGS: --job "a b.rm"
// EXIT: 1
// WAIT_ENTRIES: 2
// LOG_ANY: failed again within a minute of its restart
// STDOUT: ^instance 1 args: --job\|a b\.rm$
#include <cstdio>
#include <cstdlib>

#include "base/exceptions.h"
#include "crashlog/flow/error_in_progress.h"
#include "crashlog/flow/pipeline.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

int main(int argc, char** argv) {
  crashlog::InstallReporter();
  // The test's stand-in for the dialog's terminate button.
  crashlog::CrashLogHandlers().Notify = [](const crashlog::TCrashExceptionRecord&, bool&) {
    crashlog::CurrentError()->TerminateRequested = true;
  };
  const bool restarted = std::getenv("CRASHLOG_TEST_SECOND") != nullptr;
  if (!restarted) {
    std::printf("instance 1 args: %s|%s\n", argc > 1 ? argv[1] : "", argc > 2 ? argv[2] : "");
    std::fflush(stdout);
    ::SetEnvironmentVariableA("CRASHLOG_TEST_SECOND", "1");
  }
  throw EInOutError(restarted ? "Second failure" : "First failure", 5);
}
