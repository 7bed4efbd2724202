// A reporter inside a library whose host program carries reporter data of its own: every exception
// of the library counts as handled (the host's reporter deals with it), so the library's worker
// failure, which only its thread wrapper catches, is not reported by the library. The same library
// in a host without reporter data reports it in its own log; there its freeze watcher, switched on
// and off through the options, is stopped without being killed, and the library stays loaded.
// EXIT: 0
// ENTRIES: 0
// STDOUT: ^reporter-enabled host: installed=1 worker=0 library log entries=0$
// STDOUT: ^plain host: installed=1 worker=0$
// STDOUT: ^plain host: watcher stopped with 0, library pinned=1$
// STDOUT: ^after the plain host: library log entries=1$
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "crashlog/flow/install.h"

namespace {

std::string Folder() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text = path;
  return text.substr(0, text.find_last_of('\\') + 1);
}

int LogEntries(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::string text = bytes.str();
  int count = 0;
  for (std::size_t at = 0; (at = text.find("CrashLog ", at)) != std::string::npos; ++at)
    if (at == 0 || text.compare(at - 2, 2, "\r\n") == 0) ++count;
  return count;
}

}  // namespace

int main() {
  pelloran::crashlog::InstallReporter();
  const std::string folder = Folder();
  const std::string libraryLog = folder + "reporter_library.elf";
  ::DeleteFileA(libraryLog.c_str());

  HMODULE library = ::LoadLibraryA((folder + "reporter_library.dll").c_str());
  if (library == nullptr) return 2;
  auto install = reinterpret_cast<int (*)()>(::GetProcAddress(library, "InstallLibraryReporter"));
  auto run = reinterpret_cast<DWORD (*)()>(::GetProcAddress(library, "RunFailingWorker"));
  auto uninstall = reinterpret_cast<void (*)()>(::GetProcAddress(library, "UninstallLibraryReporter"));
  if (install == nullptr || run == nullptr || uninstall == nullptr) return 3;
  const int installed = install();
  const DWORD code = run();
  uninstall();
  std::printf("reporter-enabled host: installed=%d worker=%lu library log entries=%d\n", installed,
              static_cast<unsigned long>(code), LogEntries(libraryLog));
  std::fflush(stdout);

  // The same library in a host without reporter data.
  STARTUPINFOA startup{sizeof startup};
  PROCESS_INFORMATION process{};
  std::string command = "\"" + folder + "plain_library_host.exe\"";
  if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                        &process))
    return 4;
  ::WaitForSingleObject(process.hProcess, 60000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  std::printf("after the plain host: library log entries=%d\n", LogEntries(libraryLog));
  std::fflush(stdout);
  pelloran::crashlog::UninstallReporter();
  return 0;
}
