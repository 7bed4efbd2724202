#pragma once
// A small thread object for the freeze watcher with the interface of the program's thread class
// (made suspended, Resume, Terminate / Terminated, WaitFor, Handle, ThreadID, Execute overridden),
// built on CreateThread alone. The watcher derives from it; moving it onto the runtime's thread
// class changes only the base named in freeze.h.

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

class TWatcherThread {
 public:
  // Creates the system thread, suspended, at normal priority. Raises std::system_error when the
  // system refuses it.
  TWatcherThread();
  TWatcherThread(const TWatcherThread&) = delete;
  TWatcherThread& operator=(const TWatcherThread&) = delete;
  // A thread that never started ends without running Execute; a running one is told to
  // terminate and waited for (owners should do both before deleting: the derived part is gone by
  // the time this destructor runs).
  virtual ~TWatcherThread();

  void Resume();
  void Terminate() noexcept { terminated_.store(true); }
  bool Terminated() const noexcept { return terminated_.load(); }
  // Waits until the thread has ended; returns its exit code.
  std::uint32_t WaitFor();
  // Ends the thread at once with `exitCode` (for a library being unloaded, whose threads cannot
  // be waited for).
  void Kill(std::uint32_t exitCode) noexcept;

  HANDLE Handle() const noexcept { return handle_.get(); }
  DWORD ThreadID() const noexcept { return threadId_; }

 protected:
  virtual void Execute() = 0;

 private:
  static DWORD WINAPI Entry(void* parameter);

  ScopedKernelHandle handle_;
  DWORD threadId_ = 0;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> skipExecute_{false};
};

}  // namespace pelloran::crashlog
