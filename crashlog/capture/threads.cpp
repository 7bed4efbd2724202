#include "crashlog/capture/threads.h"

#include <atomic>

namespace pelloran::crashlog {

namespace {

std::atomic<bool> g_installed{false};

}  // namespace

TCrashThreadsList::TCrashThreadsList() { ::InitializeCriticalSection(&lock_); }

TCrashThreadsList::~TCrashThreadsList() {
  Clear();
  ::DeleteCriticalSection(&lock_);
}

int TCrashThreadsList::IndexOfID(DWORD threadID) const noexcept {
  for (std::size_t i = 0; i < records_.size(); ++i)
    if (records_[i]->ThreadID == threadID) return static_cast<int>(i);
  return -1;
}

int TCrashThreadsList::IndexOfHandle(HANDLE handle) const noexcept {
  for (std::size_t i = 0; i < records_.size(); ++i)
    if (records_[i]->Handle == handle) return static_cast<int>(i);
  return -1;
}

TCrashThreadRecord& TCrashThreadsList::Add() {
  records_.push_back(std::make_unique<TCrashThreadRecord>());
  return *records_.back();
}

void TCrashThreadsList::Delete(int index) {
  records_.erase(records_.begin() + index);
}

void TCrashThreadsList::RemoveCurrent() noexcept {
  TThreadsListLock hold(*this);
  const int index = IndexOfID(::GetCurrentThreadId());
  if (index >= 0) Delete(index);
}

void TCrashThreadsList::Clear() noexcept { records_.clear(); }

TCrashThreadsList& CrashThreads() {
  static TCrashThreadsList* list = new TCrashThreadsList;
  return *list;
}

bool ReporterInstalled() noexcept { return g_installed.load(); }

void SetReporterInstalled(bool installed) noexcept { g_installed.store(installed); }

}  // namespace pelloran::crashlog
