// A program started by a restart (its restart time in the environment, as a restarting instance
// leaves it) fails within a minute, but nobody asks for a restart this time: its report carries no
// note about a refused restart.
// EXIT: 1
// ENTRIES: 1
// LOG: ^  2\.5 Message *: Second failure\.\r$
// LOG_NONE: failed again within a minute of its restart
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

int main() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t seconds = ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000000u;
  ::SetEnvironmentVariableA("CRASHLOG_RESTARTED_AT", std::to_string(seconds).c_str());
  crashlog::InstallReporter();
  throw EInOutError("Second failure", 5);
}
