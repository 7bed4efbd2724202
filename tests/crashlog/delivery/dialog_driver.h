#pragma once
// Runs one of the reporter's modal dialogs on a thread of its own, the way the exception flow
// does, and lets a test find its window and drive it through messages.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace pelloran::testing {

class TDialogThread {
 public:
  explicit TDialogThread(std::function<void()> run)
      : thread_([this, run = std::move(run)] {
          threadId_.store(::GetCurrentThreadId());
          run();
          done_.store(true);
        }) {}
  // A test that stopped half-way leaves its dialog open: close whatever the thread shows.
  ~TDialogThread() {
    while (!done_.load()) {
      if (HWND window = FindWindowOfThread(nullptr)) ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      ::Sleep(50);
    }
    if (thread_.joinable()) thread_.join();
  }
  TDialogThread(const TDialogThread&) = delete;
  TDialogThread& operator=(const TDialogThread&) = delete;

  // The visible top-level dialog window of the thread other than `not`, once it has painted;
  // nullptr when none shows up (or the thread ended) within the safety timeout.
  HWND WaitForWindow(HWND notThis = nullptr) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until && !done_.load()) {
      if (HWND window = FindWindowOfThread(notThis)) {
        RECT pending{};
        if (!::GetUpdateRect(window, &pending, FALSE)) return window;
      }
      ::Sleep(20);
    }
    return nullptr;
  }
  // Waits until `window` is gone.
  bool WaitGone(HWND window) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      if (!::IsWindow(window)) return true;
      ::Sleep(20);
    }
    return false;
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool Done() const { return done_.load(); }

 private:
  struct TSearch {
    HWND NotThis;
    HWND Found;
  };
  static BOOL CALLBACK Visit(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<TSearch*>(parameter);
    char name[16] = {};
    ::GetClassNameA(window, name, sizeof name);
    if (window != search->NotThis && ::IsWindowVisible(window) && std::string(name) == "#32770") {
      search->Found = window;
      return FALSE;
    }
    return TRUE;
  }
  HWND FindWindowOfThread(HWND notThis) const {
    TSearch search{notThis, nullptr};
    ::EnumThreadWindows(threadId_.load(), &TDialogThread::Visit, reinterpret_cast<LPARAM>(&search));
    return search.Found;
  }

  std::atomic<DWORD> threadId_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace pelloran::testing
