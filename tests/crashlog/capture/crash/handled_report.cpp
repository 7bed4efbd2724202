// The program's own reports through the public interface: two exceptions it caught itself are
// reported (the first with the stack of its raise) without a dialog, although the options show
// one, and the program goes on; every report carries the tags set at that moment, escaped, and
// names the attached file.
// EXIT: 0
// ENTRIES: 2
// LOG: ^Tags:\r$
// LOG: ^  6\.1 user *: alice\r$
// LOG: ^  6\.\d document *: a b\.txt\r$
// LOG: ^  7\.1 File *: [A-Z]:\\.*\\handled_notes\.txt\r$
// LOG_NONE: ^  6\.\d session *:
// LOG_ANY: \|handled_report\.cpp *\| *\|LoadSettings *\| *{@throw} *\|
// LOG_ANY: ^  2\.4 Type *: std::runtime_error\r$
// LOG_ANY: ^  2\.4 Type *: int\r$
// STDOUT: ^reported 1 1\nreported 2 1\ncontinued$
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "crashlog/crashlog.h"

__attribute__((noinline)) void LoadSettings(const char* name) {
  throw std::runtime_error(std::string("the setting '") + name + "' is missing");  // @throw
}

int main() {
  crashlog::InstallReporter();
  std::ofstream("handled_notes.txt") << "what the program wrote before\n";
  crashlog::AddFile("handled_notes.txt");
  crashlog::SetTag("user", "bob");
  crashlog::SetTag("user", "alice");
  crashlog::SetTag("session", "7");
  crashlog::RemoveTag("session");
  crashlog::SetTag("document", "a\tb.txt");
  try {
    LoadSettings("width");
  } catch (const std::exception& e) {
    const bool reported = crashlog::Report(e, false);
    std::printf("reported 1 %d\n", reported);
  }
  try {
    throw 42;
  } catch (...) {
    std::printf("reported 2 %d\n", crashlog::ReportCurrentException(false));
  }
  std::printf("continued\n");
  return 0;
}
