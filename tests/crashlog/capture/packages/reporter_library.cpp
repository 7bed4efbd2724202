// A library that carries a reporter of its own (linked in, with its own ELDATA), for
// crash_library_host: its worker thread fails, and only the thread wrapper of the library's thread
// hooks catches the exception. Whether the library reports it depends on its host program.
#include <windows.h>

#include "base/exceptions.h"
#include "crashlog/flow/install.h"

namespace {

__attribute__((noinline)) void FailInLibrary() { throw pelloran::EInOutError("The library's worker failed", 5); }

DWORD WINAPI Worker(void*) {
  FailInLibrary();
  return 7;
}

}  // namespace

extern "C" {

__declspec(dllexport) int InstallLibraryReporter() { return pelloran::crashlog::InstallReporter() ? 1 : 0; }

__declspec(dllexport) void UninstallLibraryReporter() { pelloran::crashlog::UninstallReporter(); }

// Runs the failing worker (created through the library's own import of CreateThread) and returns
// its exit code: 0 once the wrapper swallowed the exception.
__declspec(dllexport) DWORD RunFailingWorker() {
  HANDLE thread = ::CreateThread(nullptr, 0, &Worker, nullptr, 0, nullptr);
  if (thread == nullptr) return 99;
  ::WaitForSingleObject(thread, INFINITE);
  DWORD code = 98;
  ::GetExitCodeThread(thread, &code);
  ::CloseHandle(thread);
  return code;
}
}
