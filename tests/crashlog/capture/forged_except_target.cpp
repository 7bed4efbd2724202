// The program whose EXCEPT channel crashlog_forged_channel_tests forges: an error that nothing
// catches in the main thread, reported and logged beside the program.
#include "base/exceptions.h"
#include "crashlog/flow/install.h"

__attribute__((noinline)) void ReadCatalogue() { throw pelloran::EInOutError("The catalogue is missing", 2); }

int main() {
  pelloran::crashlog::InstallReporter();
  ReadCatalogue();
  return 0;
}
