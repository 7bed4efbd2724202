#include "crashlog/capture/log_lock.h"

#include "base/ansi_path.h"
#include "crashlog/infra/diagnostics/trace.h"

#include <windows.h>

#include <cstdio>

namespace pelloran::crashlog {

namespace {

std::string FullPath(const std::string& file) {
  char buffer[MAX_PATH * 2] = {};
  const DWORD length = ::GetFullPathNameA(file.c_str(), sizeof buffer, buffer, nullptr);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : file;
}

}  // namespace

std::string LogLockName(const std::string& file) {
  std::string path = AsciiUpper(FullPath(file));
  for (char& c : path)
    if (c == '/') c = '\\';
  // FNV-1a: a short name of fixed length; a mutex name may not hold "\".
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : path) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ull;
  }
  char name[64];
  std::snprintf(name, sizeof name, "Local\\CrashLog.FileLock.%016llX", static_cast<unsigned long long>(hash));
  return name;
}

TLogLock::TLogLock(const std::string& file, std::uint32_t timeoutMs)
    : mutex_(::CreateMutexA(nullptr, FALSE, LogLockName(file).c_str())) {
  if (!mutex_) {
    Trace("TLogLock.NotCreated", {file, static_cast<unsigned long>(::GetLastError())});
    return;
  }
  const DWORD waited = ::WaitForSingleObject(mutex_.get(), timeoutMs);
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  if (waited == WAIT_ABANDONED) Trace("TLogLock.Abandoned", {file});
  if (!held_) Trace("TLogLock.Timeout", {file, static_cast<unsigned long>(timeoutMs)});
}

TLogLock::~TLogLock() {
  if (held_) ::ReleaseMutex(mutex_.get());
}

}  // namespace pelloran::crashlog
