#pragma once
// A lock between processes for one log file (or pending file): a named mutex whose name comes
// from the file's full path, held only while a process reads the file, merges its entries and puts
// the new file in its place. Without it two processes saving one log at once would each replace
// the other's list, and one report would be lost.

#include <cstdint>
#include <string>

#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

// How long a report waits for another process to finish with the log before it goes to the
// pending file instead.
inline constexpr std::uint32_t kLogLockTimeoutMs = 5000;

class TLogLock {
 public:
  // Waits at most `timeoutMs` for the lock of `file`. A lock left by a process that ended
  // while holding it is taken over.
  TLogLock(const std::string& file, std::uint32_t timeoutMs);
  ~TLogLock();
  TLogLock(const TLogLock&) = delete;
  TLogLock& operator=(const TLogLock&) = delete;

  bool Held() const noexcept { return held_; }

 private:
  ScopedKernelHandle mutex_;
  bool held_ = false;
};

// The lock's name for `file`: the same for every spelling of one path (full path, case of ASCII
// letters, "/" or "\").
std::string LogLockName(const std::string& file);

}  // namespace pelloran::crashlog
