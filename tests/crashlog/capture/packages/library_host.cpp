// A host program without reporter data of its own, for crash_library_host: loads the reporter
// library from its folder and runs its failing worker.
#include <windows.h>

#include <cstdio>

int main() {
  HMODULE library = ::LoadLibraryA("reporter_library.dll");
  if (library == nullptr) return 2;
  auto install = reinterpret_cast<int (*)()>(::GetProcAddress(library, "InstallLibraryReporter"));
  auto run = reinterpret_cast<DWORD (*)()>(::GetProcAddress(library, "RunFailingWorker"));
  auto uninstall = reinterpret_cast<void (*)()>(::GetProcAddress(library, "UninstallLibraryReporter"));
  if (install == nullptr || run == nullptr || uninstall == nullptr) return 3;
  const int installed = install();
  const DWORD code = run();
  uninstall();
  std::printf("plain host: installed=%d worker=%lu\n", installed, static_cast<unsigned long>(code));
  return 0;
}
