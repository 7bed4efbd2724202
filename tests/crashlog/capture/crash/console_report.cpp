// A console program shows its report on standard output: the page intro, an empty line, the report.
// EXIT: 1
// ENTRIES: 1
// STDOUT: ^An error has occurred during program execution\.
// STDOUT: ^CrashLog 4\.5\.4$
// STDOUT: ^  2\.4 Type *: EInOutError$
#include "base/exceptions.h"
#include "crashlog/flow/install.h"

using namespace pelloran;

__attribute__((noinline)) void OpenSettings() { throw EInOutError("Settings file is locked", 32); }

int main() {
  crashlog::InstallReporter();
  OpenSettings();
  return 0;
}
