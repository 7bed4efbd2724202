// An exception that nothing catches, with a minidump beside its report: LLDB opens the dump with
// the program's twin and shows the raise as the first frame at its source line, its two callers
// below it, and the value of a local variable of the raising function.
// EXIT: 1
// ENTRIES: 1
// LOG: ^  7\.1 Minidump *: .*\\crash_dump_lldb-\d{8}-\d{6}-\d+-1\.dmp\r$
// LOG_FIRST_STACK_ROW: \|dump_lldb\.cpp *\| *\|CheckQuota *\| *{@throw} *\|
// DUMP_FRAMES: `CheckQuota\(.*\) at dump_lldb\.cpp:{@throw} ;; `Reserve\(.*\) at dump_lldb\.cpp:{@reserve} ;; `RunJob\(.*\) at dump_lldb\.cpp:{@run}
// DUMP_VARIABLES: \(volatile int\) limit = 4096
#include <cstdio>
#include <stdexcept>
#include <string>

#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline, noclone)) int CheckQuota(int wanted) {
  volatile int limit = 4096;
  if (wanted > limit) throw std::runtime_error("quota of " + std::to_string(limit) + " exceeded");  // @throw
  return limit - wanted;
}

__attribute__((noinline, noclone)) int Reserve(int blocks) {
  return CheckQuota(blocks * 512) + 1;  // @reserve
}

__attribute__((noinline, noclone)) int RunJob(int jobs) {
  return Reserve(jobs * 3) + 1;  // @run
}

int main(int argc, char**) {
  crashlog::InstallReporter();
  std::printf("%d\n", RunJob(argc + 3));
  return 0;
}
