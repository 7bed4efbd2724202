#pragma once
// What the freeze programs share: their own log file, and waiting until it holds reports.

#include <windows.h>

#include <string>

namespace pelloran::crashtest {

// The log beside this program.
inline std::string OwnLogFile() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string log = path;
  return log.substr(0, log.find_last_of('.')) + ".elf";
}

// The reports in a log (entries start with "CrashLog " at the start of a line).
inline int CountLogEntries(const std::string& log) {
  HANDLE file = ::CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  ::CloseHandle(file);
  int count = bytes.rfind("CrashLog ", 0) == 0 ? 1 : 0;
  for (std::size_t at = bytes.find("\r\nCrashLog "); at != std::string::npos; at = bytes.find("\r\nCrashLog ", at + 1))
    ++count;
  return count;
}

// Waits until the log holds `count` reports; false after `timeoutMs`.
inline bool WaitForLogEntries(const std::string& log, int count, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    if (CountLogEntries(log) >= count) return true;
    ::Sleep(20);
  }
  return false;
}

}  // namespace pelloran::crashtest
