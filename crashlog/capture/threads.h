#pragma once
// The thread registry: one record per thread created through the hooked CreateThread, with a copy
// of the creating thread's stack taken when the thread is resumed, so that a report of a fault in
// a worker thread can show where the worker was started.
//
// Records are removed when their thread ends: through the hooked ExitThread, or when its thread
// function returns into the hooks' entry procedures. A thread identifier can therefore name only
// a live thread (the system reuses identifiers of ended threads).

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/thread.h"

namespace pelloran::crashlog {

struct TCrashThreadRecord {
  DWORD ThreadID = 0;
  HANDLE Handle = nullptr;  // as the creation returned it; owned by the creator, not by the record
  LPTHREAD_START_ROUTINE StartAddress = nullptr;  // the thread function the creator asked for
  void* Parameter = nullptr;                      // and its parameter
  // The creator's stack from the resume call up to its stack base; empty when none was taken.
  std::vector<std::uint8_t> CreationStack;
  // The runtime thread object that runs in this thread, when it was recognised.
  TThread* ThreadObject = nullptr;
  // Set when the thread starts: a thread of the reporter itself, whose creation stack never goes
  // into a report (the thread object is not looked at again after its start).
  bool ReporterThread = false;
};

// Owns its records; every operation other than Lock/Unlock expects the lock to be held by the
// caller, except RemoveCurrent, which takes it itself.
class TCrashThreadsList {
 public:
  TCrashThreadsList();
  ~TCrashThreadsList();
  TCrashThreadsList(const TCrashThreadsList&) = delete;
  TCrashThreadsList& operator=(const TCrashThreadsList&) = delete;

  void Lock() noexcept { ::EnterCriticalSection(&lock_); }
  void Unlock() noexcept { ::LeaveCriticalSection(&lock_); }

  int Count() const noexcept { return static_cast<int>(records_.size()); }
  TCrashThreadRecord& operator[](int index) const { return *records_.at(static_cast<std::size_t>(index)); }

  // Index of the record, or -1.
  int IndexOfID(DWORD threadID) const noexcept;
  int IndexOfHandle(HANDLE handle) const noexcept;
  // Appends a zeroed record and returns it.
  TCrashThreadRecord& Add();
  // Frees the record with its creation stack.
  void Delete(int index);
  // Under the lock: deletes the calling thread's record, if it has one.
  void RemoveCurrent() noexcept;
  void Clear() noexcept;

 private:
  CRITICAL_SECTION lock_;
  std::vector<std::unique_ptr<TCrashThreadRecord>> records_;
};

// Holds the registry's lock for one scope.
class TThreadsListLock {
 public:
  explicit TThreadsListLock(TCrashThreadsList& list) noexcept : list_(list) { list_.Lock(); }
  ~TThreadsListLock() { list_.Unlock(); }
  TThreadsListLock(const TThreadsListLock&) = delete;
  TThreadsListLock& operator=(const TThreadsListLock&) = delete;

 private:
  TCrashThreadsList& list_;
};

// The registry of this process. It is never destroyed: hooked threads may start, end or fault
// while the reporter is being removed, and at process exit.
TCrashThreadsList& CrashThreads();

// Whether the reporter is installed. While false, the thread hooks only pass calls on. (The
// reporter's installation sets and clears it.)
bool ReporterInstalled() noexcept;
void SetReporterInstalled(bool installed) noexcept;

// Threads of the reporter itself (the worker that processes the main thread's exceptions):
// their creation stack never appears in a report.
class TReporterThread : public TThread {
 public:
  using TThread::TThread;
};

}  // namespace pelloran::crashlog
