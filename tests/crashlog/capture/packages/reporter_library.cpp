// A library that carries a reporter of its own (linked in, with its own ELDATA), for
// crash_library_host: its worker thread fails, and only the thread wrapper of the library's thread
// hooks catches the exception. Whether the library reports it depends on its host program.
#include <windows.h>

#include "base/exceptions.h"
#include "crashlog/capture/freeze.h"
#include "crashlog/flow/install.h"
#include "crashlog/infra/options/options.h"

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

// Switches the freeze watcher on and off again through the options, as an application may, and
// returns the watcher thread's exit code once it was stopped: 1 would mean it was killed, which
// could leave the pipeline's claim held for good. 97: no watcher started; 96: still running.
__declspec(dllexport) DWORD SwitchFreezeWatcherOnAndOff() {
  using namespace pelloran::crashlog;
  CurrentCrashLogOptions().SetFreezeDetection(true);
  const DWORD id = FreezeWatcherThreadId();
  if (id == 0) return 97;
  HANDLE thread = ::OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, id);
  ::Sleep(200);  // watching
  CurrentCrashLogOptions().SetFreezeDetection(false);
  DWORD code = 96;
  if (thread != nullptr && ::WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0) ::GetExitCodeThread(thread, &code);
  if (thread != nullptr) ::CloseHandle(thread);
  return code;
}
}
