#include "crashlog/capture/watcher_thread.h"

#include <system_error>

namespace pelloran::crashlog {

TWatcherThread::TWatcherThread() {
  handle_.reset(::CreateThread(nullptr, 0, &TWatcherThread::Entry, this, CREATE_SUSPENDED, &threadId_));
  if (!handle_) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateThread");
  ::SetThreadPriority(handle_.get(), THREAD_PRIORITY_NORMAL);
}

TWatcherThread::~TWatcherThread() {
  if (!handle_) return;
  if (!started_.load()) {
    // Let the suspended thread run to its end without Execute.
    skipExecute_.store(true);
    Resume();
  }
  Terminate();
  ::WaitForSingleObject(handle_.get(), INFINITE);
}

void TWatcherThread::Resume() {
  started_.store(true);
  ::ResumeThread(handle_.get());
}

std::uint32_t TWatcherThread::WaitFor() {
  ::WaitForSingleObject(handle_.get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeThread(handle_.get(), &code);
  return code;
}

void TWatcherThread::Kill(std::uint32_t exitCode) noexcept { ::TerminateThread(handle_.get(), exitCode); }

DWORD WINAPI TWatcherThread::Entry(void* parameter) {
  auto* thread = static_cast<TWatcherThread*>(parameter);
  if (thread->skipExecute_.load()) return 0;
  try {
    thread->Execute();
  } catch (...) {
    return 1;  // the watcher's own failure ends the watcher, never the program
  }
  return 0;
}

}  // namespace pelloran::crashlog
