#include "runtime/thread.h"

#include <deque>
#include <mutex>
#include <string>

// The unwinder's lookup of the frame description that covers a code address (libgcc). `func` is
// the start of the function it describes.
struct dwarf_eh_bases {
  void* tbase;
  void* dbase;
  void* func;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, dwarf_eh_bases* bases);

namespace pelloran {

namespace {

// Dynamic initialisation runs during start-up, on the thread that starts the program.
const DWORD g_mainThreadId = ::GetCurrentThreadId();
std::atomic<HWND> g_synchronizeWindow{nullptr};

std::string SystemErrorText(const char* what) {
  return std::string(what) + " (system error " + std::to_string(::GetLastError()) + ")";
}

}  // namespace

// One method waiting for the main thread; it lives on the waiting thread's stack.
struct TSynchronizeRequest {
  const std::function<void()>* Method;
  std::exception_ptr Error;
  ScopedKernelHandle Done;
};

namespace {

struct TSynchronizeQueue {
  std::mutex Lock;
  std::deque<TSynchronizeRequest*> Waiting;
  // Set whenever a request arrives: WaitFor on the main thread waits for it beside the thread.
  ScopedKernelHandle Arrived{::CreateEventA(nullptr, FALSE, FALSE, nullptr)};
};

TSynchronizeQueue& SynchronizeQueue() {
  static TSynchronizeQueue* queue = new TSynchronizeQueue;  // threads may still synchronize at exit
  return *queue;
}

void WakeMainThread() {
  const HWND window = g_synchronizeWindow.load();
  if (!window || !::PostMessageA(window, kSynchronizeMessage, 0, 0))
    ::PostThreadMessageA(g_mainThreadId, kSynchronizeMessage, 0, 0);
}

std::uintptr_t FunctionStartOf(std::uintptr_t pc) noexcept {
  dwarf_eh_bases bases{};
  if (!_Unwind_Find_FDE(reinterpret_cast<void*>(pc), &bases)) return 0;
  return reinterpret_cast<std::uintptr_t>(bases.func);
}

}  // namespace

// The markers of the header. Not in an anonymous namespace, so that the debug information names
// them plainly; noipa keeps them whole, at one address, with frames of their own.
namespace synchronize_markers {

__attribute__((noinline, noipa)) void SynchronizeCatchAll(TSynchronizeRequest& request) {
  try {
    (*request.Method)();
  } catch (...) {
    request.Error = std::current_exception();
  }
}

[[noreturn]] __attribute__((noinline, noipa)) void ReRaiseSynchronizeException(std::exception_ptr error) {
  std::rethrow_exception(std::move(error));
}

}  // namespace synchronize_markers

// The entry the system runs for every TThread. The only catching frame of the thread: what
// escapes the thread procedure is kept in the object, which is then finished as the procedure
// would have done it.
DWORD WINAPI RuntimeThreadWrapperEntry(void* parameter) {
  auto* start = static_cast<TThreadStartRecord*>(parameter);
  TThread* thread = start->ThreadObject;
  try {
    return start->ThreadFunc(thread);
  } catch (...) {
    thread->fatalException_ = std::current_exception();
  }
  const bool freeIt = thread->freeOnTerminate_;
  const std::uint32_t code = thread->Finish();
  if (freeIt) delete thread;
  return code;
}

TThread::TThread(bool freeOnTerminate)
    : freeOnTerminate_(freeOnTerminate),
      start_{freeOnTerminate ? &FreeOnTerminateThreadProc : &ThreadProc, this} {
  DWORD id = 0;
  // Through the program's own import of CreateThread, on purpose (see the header).
  handle_.reset(::CreateThread(nullptr, 0, &RuntimeThreadWrapperEntry, &start_, CREATE_SUSPENDED, &id));
  if (!handle_) throw EThread(SystemErrorText("Thread creation error"));
  threadId_ = id;
}

TThread::~TThread() {
  if (!handle_ || finished_.load() || ::GetCurrentThreadId() == threadId_) return;
  Terminate();
  if (!started_.load()) {
    // Execute of a derived part that no longer exists must not run: the thread only ends.
    skipExecute_.store(true);
    for (DWORD previous; (previous = ::ResumeThread(handle_.get())) != static_cast<DWORD>(-1) && previous > 1;) {
    }
  }
  try {
    WaitFor();
  } catch (...) {
  }
}

void TThread::Resume() {
  const DWORD previous = ::ResumeThread(handle_.get());
  if (previous == static_cast<DWORD>(-1)) throw EThread(SystemErrorText("Thread resume error"));
  if (previous <= 1) {
    suspended_.store(false);
    started_.store(true);
  }
}

std::uint32_t TThread::WaitFor() {
  const DWORD self = ::GetCurrentThreadId();
  if (self == threadId_) throw EThread("A thread cannot wait for itself.");
  const HANDLE thread = handle_.get();
  if (self == g_mainThreadId) {
    const HANDLE handles[2] = {thread, SynchronizeQueue().Arrived.get()};
    for (;;) {
      const DWORD woken = ::MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE);
      if (woken == WAIT_OBJECT_0) break;
      if (woken == WAIT_OBJECT_0 + 1) {
        CheckSynchronize();
      } else if (woken == WAIT_OBJECT_0 + 2) {
        MSG msg;  // peeking delivers the messages sent to this thread's windows
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
      } else {
        break;
      }
    }
  } else {
    ::WaitForSingleObject(thread, INFINITE);
  }
  DWORD code = 0;
  ::GetExitCodeThread(thread, &code);
  return code;
}

TThreadFunction TThread::ThreadProcedure() const noexcept {
  return freeOnTerminate_ ? &FreeOnTerminateThreadProc : &ThreadProc;
}

void TThread::RunExecute() {
  if (!Terminated()) Execute();
}

std::uint32_t TThread::Finish() noexcept {
  if (OnTerminate) {
    try {
      Synchronize([this] { OnTerminate(*this); });
    } catch (...) {
      // Already seen where it arose, on the main thread.
    }
  }
  const std::uint32_t code = returnValue_;
  finished_.store(true);
  return code;
}

std::uint32_t TThread::ThreadProc(TThread* thread) {
  if (thread->skipExecute_.load()) return 0;  // its owner is deleting it
  thread->RunExecute();
  return thread->Finish();
}

std::uint32_t TThread::FreeOnTerminateThreadProc(TThread* thread) {
  if (thread->skipExecute_.load()) return 0;  // its owner is deleting it: not ours to free
  thread->RunExecute();
  const std::uint32_t code = thread->Finish();
  delete thread;
  return code;
}

void TThread::Synchronize(const std::function<void()>& method) {
  if (::GetCurrentThreadId() == g_mainThreadId) {
    method();
    return;
  }
  TSynchronizeRequest request{&method, nullptr, ScopedKernelHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr))};
  if (!request.Done) throw EThread(SystemErrorText("Synchronize error"));
  auto& queue = SynchronizeQueue();
  {
    std::lock_guard guard(queue.Lock);
    queue.Waiting.push_back(&request);
  }
  ::SetEvent(queue.Arrived.get());
  WakeMainThread();
  ::WaitForSingleObject(request.Done.get(), INFINITE);
  if (request.Error) synchronize_markers::ReRaiseSynchronizeException(request.Error);
}

bool CheckSynchronize() {
  if (::GetCurrentThreadId() != g_mainThreadId) return false;
  auto& queue = SynchronizeQueue();
  bool ran = false;
  for (;;) {
    TSynchronizeRequest* request;
    {
      std::lock_guard guard(queue.Lock);
      if (queue.Waiting.empty()) break;
      request = queue.Waiting.front();
      queue.Waiting.pop_front();
    }
    synchronize_markers::SynchronizeCatchAll(*request);
    ::SetEvent(request->Done.get());  // the request is gone once its thread wakes
    ran = true;
  }
  return ran;
}

DWORD MainThreadID() noexcept { return g_mainThreadId; }

void SetSynchronizeWindow(HWND window) noexcept { g_synchronizeWindow.store(window); }

LPTHREAD_START_ROUTINE RuntimeThreadWrapper() noexcept { return &RuntimeThreadWrapperEntry; }

std::array<TThreadFunction, 2> RuntimeThreadProcs() noexcept {
  return {&TThread::ThreadProc, &TThread::FreeOnTerminateThreadProc};
}

const void* SynchronizeCatchAllProcedure() noexcept {
  return reinterpret_cast<const void*>(&synchronize_markers::SynchronizeCatchAll);
}

const void* SynchronizeReRaiseProcedure() noexcept {
  return reinterpret_cast<const void*>(&synchronize_markers::ReRaiseSynchronizeException);
}

TCodeRange ProcedureRangeOf(const void* address) noexcept {
  const auto pc = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t begin = FunctionStartOf(pc);
  if (begin == 0) return {};
  // Addresses from `begin` up to the end belong to the function, none after it does: widen the
  // step until it leaves the function, then halve the gap.
  std::uintptr_t inside = pc;
  std::uintptr_t outside = 0;
  for (std::uintptr_t step = 16; outside == 0; step *= 2) {
    if (step > (1u << 24)) return {};
    if (FunctionStartOf(inside + step) == begin) inside += step;
    else outside = inside + step;
  }
  while (outside - inside > 1) {
    const std::uintptr_t middle = inside + (outside - inside) / 2;
    if (FunctionStartOf(middle) == begin) inside = middle;
    else outside = middle;
  }
  return {begin, outside};
}

}  // namespace pelloran
