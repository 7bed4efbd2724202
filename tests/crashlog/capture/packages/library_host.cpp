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
  auto watcher = reinterpret_cast<DWORD (*)()>(::GetProcAddress(library, "SwitchFreezeWatcherOnAndOff"));
  if (watcher == nullptr) return 3;
  const int installed = install();
  const DWORD code = run();
  // The watcher's thread ran the library's code: the library stays loaded from then on.
  const DWORD watcherCode = watcher();
  uninstall();
  ::FreeLibrary(library);
  const bool pinned = ::GetModuleHandleA("reporter_library.dll") != nullptr;
  std::printf("plain host: installed=%d worker=%lu\n", installed, static_cast<unsigned long>(code));
  std::printf("plain host: watcher stopped with %lu, library pinned=%d\n", static_cast<unsigned long>(watcherCode),
              pinned ? 1 : 0);
  return 0;
}
