#include "crashlog/flow/exception_thread.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "crashlog/flow/flow_state.h"
#include "crashlog/capture/threads.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

namespace {

// The single pending-call slot. The main thread holds the lock while it runs the posted call.
std::mutex pendingLock;
const std::function<void()>* pendingCall = nullptr;

// The waits below wake every 10 ms, and at once when there is something to see: the main thread
// when a call was posted or the worker ended, the worker when its posted call has run.
HANDLE MainThreadWake() {
  static const ScopedKernelHandle event(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  return event.get();
}
HANDLE PostedCallDone() {
  static const ScopedKernelHandle event(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  return event.get();
}
constexpr DWORD kWaitStep = 10;

constexpr UINT kPrivatePaint1 = 0x8002;
constexpr UINT kPrivatePaint2 = 0x8003;

bool IsPaintMessage(UINT message) {
  switch (message) {
    case WM_SETREDRAW: case WM_PAINT: case WM_ERASEBKGND: case WM_PAINTICON: case WM_ICONERASEBKGND:
    case WM_DISPLAYCHANGE: case WM_NCPAINT: case WM_PRINT: case WM_PRINTCLIENT:
    case kPrivatePaint1: case kPrivatePaint2:
      return true;
    default:
      return false;
  }
}

bool IsUserInput(UINT message) {
  return message == WM_CHAR || message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
}

void RunPendingCall() {
  std::lock_guard<std::mutex> hold(pendingLock);
  if (pendingCall == nullptr) return;
  try {
    (*pendingCall)();
  } catch (...) {
    // An event handler's failure is ignored; the slot is cleared all the same.
  }
  pendingCall = nullptr;
  ::SetEvent(PostedCallDone());
}

// Processes one exception of the main thread. Created suspended, freed by its creator; as one of
// the reporter's own threads it never contributes a creation stack.
class TExceptionThread : public TReporterThread {
 public:
  explicit TExceptionThread(const std::function<bool()>& work) : TReporterThread(false), work_(work) {}
  std::atomic<bool> Running{true};
  bool Result = false;

 protected:
  void Execute() override {
    TraceEnter("TExceptionThread.Execute");
    try {
      Result = work_();
    } catch (...) {
      Result = false;
    }
    TraceLeave("TExceptionThread.Execute", {Result});
    Running = false;
    ::SetEvent(MainThreadWake());
  }

 private:
  const std::function<bool()>& work_;
};

}  // namespace

void PumpWhileProcessing() {
  MSG msg;
  for (int n = 0; n < 11 && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (IsPaintMessage(msg.message)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    } else if (IsUserInput(msg.message)) {
      ::MessageBeep(0);
    }
    // Everything else is dropped: the program must not act while its error is shown.
  }
  RunPendingCall();
}

bool RunOnExceptionThreadWorker(const std::function<bool()>& work) {
  std::unique_ptr<TExceptionThread> thread;
  try {
    thread = std::make_unique<TExceptionThread>(work);
  } catch (...) {
    return false;
  }
  // Its identifier is known before it runs: the worker's own errors are recognised by it.
  Flow().WorkerThread = thread->ThreadID();
  thread->Resume();
  const HANDLE wake = MainThreadWake();
  while (thread->Running) {
    PumpWhileProcessing();
    ::MsgWaitForMultipleObjects(1, &wake, FALSE, kWaitStep, QS_ALLINPUT);
  }
  thread->WaitFor();
  Flow().WorkerThread = 0;
  return thread->Result;
}

void RunOnExceptionThread(std::uint32_t exceptionThread, const std::function<void()>& call) {
  if (exceptionThread != 0 && exceptionThread != ::GetCurrentThreadId()) {
    {
      std::lock_guard<std::mutex> hold(pendingLock);
      pendingCall = &call;
    }
    ::SetEvent(MainThreadWake());
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(pendingLock);
        if (pendingCall == nullptr) break;
      }
      ::WaitForSingleObject(PostedCallDone(), kWaitStep);
    }
    return;
  }
  try {
    call();
  } catch (...) {
  }
}

}  // namespace pelloran::crashlog
