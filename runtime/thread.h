#pragma once
// The program's thread class. A TThread owns one system thread that runs its Execute. The system
// thread is made in the constructor, suspended; Resume starts it. A thread that frees itself
// (FreeOnTerminate) deletes its object when Execute and OnTerminate are done; any other thread's
// object belongs to its creator, who deletes it after WaitFor.
//
// How a thread starts, and what the crash reporter recognises of it:
//   the system runs RuntimeThreadWrapper(start record)
//     -> start.ThreadFunc(start.ThreadObject), one of the two thread procedures of the class
//        (RuntimeThreadProcs(): [0] for threads their creator frees, [1] for FreeOnTerminate)
//        -> Execute
// The system thread is created by calling CreateThread from the program itself (its own import),
// so that an import hook on CreateThread sees every TThread. The wrapper is the only frame that
// catches what escapes Execute: it keeps the exception as FatalException, finishes the object as
// the thread procedure would have, and ends the thread.
//
// Synchronize(method) runs a method on the main thread: the calling thread queues it and waits;
// the main thread runs it in CheckSynchronize, which the application's message loop calls when a
// wake-up message arrives (also inside modal loops, since the message goes to the application
// window) and which any loop of the main thread may call itself. The method's exception is caught
// on the main thread and raised again in the calling thread. Two procedures mark these points for
// the crash reporter:
//   SynchronizeCatchAllProcedure(): the function whose catch-all block runs the method on the main
//     thread. A catching frame in this function means "the main thread runs this on behalf of
//     another thread": such an exception is to be reported where it arose, in the main thread.
//   SynchronizeReRaiseProcedure(): the function in which the calling thread raises the method's
//     exception again (its call to std::rethrow_exception). A raise from inside it was already
//     reported in the main thread.
// Both are separate, never inlined or cloned; ProcedureRangeOf gives the code range of either.

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>

#include "base/exceptions.h"
#include "runtime/application.h"
#include "runtime/scoped_handle.h"

namespace pelloran {

// A thread could not be created, or was asked to wait for itself.
PELLORAN_EXCEPTION_CLASS(EThread, Exception);

class TThread;

// A thread procedure of the class: runs the thread object, returns the thread's exit code.
using TThreadFunction = std::uint32_t (*)(TThread* thread);

// The parameter the system hands to RuntimeThreadWrapper.
struct TThreadStartRecord {
  TThreadFunction ThreadFunc;  // what the wrapper calls
  TThread* ThreadObject;       // with this argument
};

class TThread : public TObject {
 public:
  // Creates the system thread, suspended. With freeOnTerminate the thread deletes this object
  // itself after Execute and OnTerminate; nobody else may then delete it or wait for it.
  // Raises EThread when the system refuses the thread.
  explicit TThread(bool freeOnTerminate = false);
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // A thread that never started ends without running Execute. A running one is told to terminate
  // and waited for; since a derived part is already gone by then, owners of running threads
  // should call Terminate and WaitFor before deleting.
  ~TThread() override;

  // Decrements the suspend count; the thread runs when it reaches 0.
  void Resume();
  bool Suspended() const noexcept { return suspended_.load(); }

  // Asks Execute to stop; Execute looks at Terminated() and returns.
  void Terminate() noexcept { terminated_.store(true); }
  bool Terminated() const noexcept { return terminated_.load(); }

  // Waits until the thread has ended and returns its exit code (ReturnValue). On the main thread
  // it keeps running Synchronize calls and sent messages meanwhile, so a thread that synchronizes
  // while ending cannot dead-lock with its waiter.
  std::uint32_t WaitFor();

  bool FreeOnTerminate() const noexcept { return freeOnTerminate_; }
  // Execute has returned (or failed) and OnTerminate has run.
  bool Finished() const noexcept { return finished_.load(); }
  // What escaped Execute, if anything.
  std::exception_ptr FatalException() const { return fatalException_; }

  HANDLE Handle() const noexcept { return handle_.get(); }
  DWORD ThreadID() const noexcept { return threadId_; }
  std::uint32_t ReturnValue() const noexcept { return returnValue_; }

  // Runs on the main thread (through Synchronize) after Execute; not for threads that never
  // started. Its exception is dropped after the main thread has seen it.
  std::function<void(TThread& thread)> OnTerminate;

  // The thread procedure this thread was created with (one of RuntimeThreadProcs()).
  TThreadFunction ThreadProcedure() const noexcept;

  // Runs `method` on the main thread and returns when it has run. Called on the main thread it
  // simply calls it. An exception of the method is raised again here.
  static void Synchronize(const std::function<void()>& method);

 protected:
  virtual void Execute() = 0;
  void SetReturnValue(std::uint32_t value) noexcept { returnValue_ = value; }

 private:
  friend DWORD WINAPI RuntimeThreadWrapperEntry(void* parameter);
  static std::uint32_t ThreadProc(TThread* thread);
  static std::uint32_t FreeOnTerminateThreadProc(TThread* thread);
  friend std::array<TThreadFunction, 2> RuntimeThreadProcs() noexcept;

  void RunExecute();
  // Marks the thread finished and runs OnTerminate; never raises. Returns the exit code.
  std::uint32_t Finish() noexcept;

  const bool freeOnTerminate_;
  TThreadStartRecord start_;
  ScopedKernelHandle handle_;
  DWORD threadId_ = 0;
  std::atomic<bool> suspended_{true};
  std::atomic<bool> started_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> skipExecute_{false};
  std::uint32_t returnValue_ = 0;
  std::exception_ptr fatalException_;
};

// Runs the methods waiting for the main thread. Does nothing (false) on any other thread; true
// when at least one method ran.
bool CheckSynchronize();
// The thread that ran the program's start-up (the main thread).
DWORD MainThreadID() noexcept;
// The private message that wakes the main thread for CheckSynchronize: posted to the window
// SetSynchronizeWindow named (the application window), else to the main thread itself.
inline constexpr UINT kSynchronizeMessage = WM_APP + 2;
void SetSynchronizeWindow(HWND window) noexcept;

// What the crash reporter recognises (see the top of this file).
LPTHREAD_START_ROUTINE RuntimeThreadWrapper() noexcept;
std::array<TThreadFunction, 2> RuntimeThreadProcs() noexcept;
const void* SynchronizeCatchAllProcedure() noexcept;
const void* SynchronizeReRaiseProcedure() noexcept;

// The code range [Begin, End) of the function that holds `address`, from the unwinder's tables;
// empty (0, 0) for code without unwind information.
struct TCodeRange {
  std::uintptr_t Begin = 0;
  std::uintptr_t End = 0;
  bool Contains(std::uintptr_t address) const noexcept { return address >= Begin && address < End; }
};
TCodeRange ProcedureRangeOf(const void* address) noexcept;

}  // namespace pelloran
