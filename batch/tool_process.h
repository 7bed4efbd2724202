#pragma once
// The running events tool, kept by its process handle from its start to the end of its job, and
// the lock that keeps two windows from sharing one program folder's control files and log.

#include <cstdint>
#include <string>

#include "runtime/scoped_handle.h"

namespace pelloran {

class ToolProcess {
 public:
  ToolProcess() = default;
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;
  // A tool still running when its owner goes is ended.
  ~ToolProcess() { End(); }

  // Starts ExeDir's events tool in ExeDir with these parameters, hidden unless `show`; 0 or the
  // system's error code.
  unsigned long Start(const std::wstring& parameters, bool show);
  // True once the started process has ended, with its exit status.
  bool Ended(uint32_t& exitStatus) const;
  // Ends the process (if it still runs) and waits until it is gone, so its files are closed.
  void End();

 private:
  ScopedKernelHandle process_;
  // Its processes end with it: should the window itself die, so does the tool.
  ScopedKernelHandle job_;
};

// One batch at a time per program folder: every window started from that folder shares its
// control files and the tool's log. The lock is a file in that folder held open without sharing
// and deleted on close: unlike a mutex it is not owned by a thread, so two windows of one process
// exclude each other too, and a window that dies lets it go with its handles.
inline constexpr char kBatchLockFileName[] = "Pelloran.batch.lock";

class FolderBatchLock {
 public:
  // True when this window holds the lock now (it may hold it already).
  bool TryTake();
  void Release() { file_.reset(); }
  bool Held() const noexcept { return file_.valid(); }

 private:
  ScopedFileHandle file_;
};

// Milliseconds of a steady clock.
uint64_t SteadyMilliseconds();

}  // namespace pelloran
