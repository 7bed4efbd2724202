// The log keeps MaxLoggedErrors reports and its folder as many minidumps: the oldest dump goes
// with the oldest report. Three reports of one process in the same second get three names.
// EXIT: 0
// ENTRIES: 2
// DUMPS: 2
// LOG_ANY: ^  7\.1 Minidump *: .*\\crash_dump_retention-\d{8}-\d{6}-\d+-2\.dmp\r$
// LOG_ANY: ^  7\.1 Minidump *: .*\\crash_dump_retention-\d{8}-\d{6}-\d+-3\.dmp\r$
// LOG_NONE: -1\.dmp\r$
#include <stdexcept>

#include "crashlog/crashlog.h"

int main() {
  crashlog::InstallReporter();
  for (int i = 0; i < 3; ++i) {
    try {
      throw std::runtime_error("report " + std::to_string(i));
    } catch (...) {
      crashlog::ReportCurrentException(false);
    }
  }
  return 0;
}
