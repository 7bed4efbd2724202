// A framework handler that is not in the program's own debug information is found as the export
// of the framework's run-time package and hooked there.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.5 Message *: Package request failed\.\r$
// STDOUT: ^done$
#include <windows.h>

#include <cstdio>

#include "base/exceptions.h"
#include "crashlog/flow/install.h"

using namespace pelloran;

using THandleException = void(__attribute__((thiscall)) *)(void* self, void* sender);

int main() {
  // The package is loaded before the reporter looks for it, as a program's packages are.
  HMODULE package = ::LoadLibraryA("VCL70.BPL");
  if (package == nullptr) return 3;
  crashlog::InstallReporter();
  auto handler = reinterpret_cast<THandleException>(reinterpret_cast<void*>(
      ::GetProcAddress(package, "@Forms@TApplication@HandleException$qqrp14System@TObject")));
  if (handler == nullptr) return 4;
  try {
    throw EInOutError("Package request failed", 5);
  } catch (...) {
    int application = 0;
    handler(&application, nullptr);
  }
  std::printf("done\n");
  crashlog::UninstallReporter();
  return 0;
}
