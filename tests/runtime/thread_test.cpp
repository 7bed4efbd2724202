// The thread class on real system threads: suspended start, Execute and its exit code, methods
// run on the main thread through the message loop and through a plain loop, their exceptions
// raised again in the calling thread, threads that free themselves, what escapes Execute, and the
// markers the crash reporter looks for.
#include "runtime/thread.h"

#include <gtest/gtest.h>
#include <unwind.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "runtime/application.h"

namespace pelloran {
namespace {

// Runs `step` on a thread of its own; the owner frees it.
class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> step, bool freeOnTerminate = false,
                         std::atomic<bool>* destroyed = nullptr)
      : TThread(freeOnTerminate), step_(std::move(step)), destroyed_(destroyed) {}
  ~TLambdaThread() override {
    if (destroyed_) destroyed_->store(true);
  }
  using TThread::SetReturnValue;

 protected:
  void Execute() override { step_(*this); }

 private:
  std::function<void(TLambdaThread&)> step_;
  std::atomic<bool>* destroyed_;
};

// The return addresses of the calling thread's frames, innermost first.
std::vector<std::uintptr_t> ReturnAddresses() {
  std::vector<std::uintptr_t> addresses;
  _Unwind_Backtrace(
      [](_Unwind_Context* context, void* out) {
        static_cast<std::vector<std::uintptr_t>*>(out)->push_back(_Unwind_GetIP(context));
        return _URC_NO_REASON;
      },
      &addresses);
  return addresses;
}

void LoopUntil(const std::function<bool()>& done, const std::function<void()>& step) {
  while (!done()) {
    step();
    ::Sleep(5);
  }
}

TEST(Thread, StartsSuspendedRunsExecuteOnItsOwnThreadAndEndsWithItsReturnValue) {
  DWORD ranOn = 0;
  TLambdaThread thread([&](TLambdaThread& self) {
    ranOn = ::GetCurrentThreadId();
    self.SetReturnValue(42);
  });
  EXPECT_TRUE(thread.Suspended());
  // The system thread exists and is held at suspend count 1.
  EXPECT_EQ(::SuspendThread(thread.Handle()), 1u);
  EXPECT_EQ(::ResumeThread(thread.Handle()), 2u);
  EXPECT_EQ(thread.ThreadProcedure(), RuntimeThreadProcs()[0]);

  thread.Resume();
  EXPECT_FALSE(thread.Suspended());
  EXPECT_EQ(thread.WaitFor(), 42u);
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(ranOn, thread.ThreadID());
  EXPECT_NE(ranOn, MainThreadID());
  EXPECT_FALSE(thread.FatalException());
}

TEST(Thread, SynchronizeRunsTheMethodOnTheMainThreadThroughTheMessageLoop) {
  Application().Initialize();
  DWORD ranOn = 0;
  bool insideCatchAll = false;
  const TCodeRange catchAll = ProcedureRangeOf(SynchronizeCatchAllProcedure());
  TLambdaThread thread([&](TLambdaThread&) {
    TThread::Synchronize([&] {
      ranOn = ::GetCurrentThreadId();
      for (std::uintptr_t address : ReturnAddresses()) insideCatchAll |= catchAll.Contains(address);
    });
  });
  thread.Resume();
  // Only the application's message loop runs here: the wake-up message does the rest.
  LoopUntil([&] { return thread.Finished(); }, [] { Application().ProcessMessages(); });
  thread.WaitFor();
  EXPECT_EQ(ranOn, MainThreadID());
  EXPECT_TRUE(insideCatchAll) << "the method did not run inside the catch-all marker";
}

TEST(Thread, SynchronizeFromAPlainWaitLoopRaisesTheMethodsExceptionAgainInTheCallingThread) {
  DWORD raisedOn = 0;
  std::string caught;
  TLambdaThread thread([&](TLambdaThread&) {
    try {
      TThread::Synchronize([&] {
        raisedOn = ::GetCurrentThreadId();
        throw EConvertError("'x' is not a number");
      });
    } catch (const EConvertError& e) {
      caught = e.Message();
    }
  });
  thread.Resume();
  LoopUntil([&] { return thread.Finished(); }, [] { CheckSynchronize(); });
  thread.WaitFor();
  EXPECT_EQ(raisedOn, MainThreadID());
  EXPECT_EQ(caught, "'x' is not a number");
  EXPECT_FALSE(thread.FatalException());

  // On the main thread itself the method simply runs.
  EXPECT_THROW(TThread::Synchronize([] { throw EAbort("here"); }), EAbort);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(Thread, WhatEscapesExecuteIsKeptAndTheThreadStillFinishes) {
  TLambdaThread owned([](TLambdaThread& self) {
    self.SetReturnValue(9);
    throw std::runtime_error("worker failed");
  });
  owned.Resume();
  EXPECT_EQ(owned.WaitFor(), 9u);
  EXPECT_TRUE(owned.Finished());
  EXPECT_EQ(ExceptionMessage(owned.FatalException()), "worker failed");

  // A thread that frees itself: OnTerminate first, on the main thread, then the object goes.
  std::atomic<bool> destroyed{false};
  DWORD onTerminateRanOn = 0;
  bool destroyedBeforeOnTerminate = true;
  auto* freeing = new TLambdaThread([](TLambdaThread&) { throw std::runtime_error("again"); }, true, &destroyed);
  EXPECT_EQ(freeing->ThreadProcedure(), RuntimeThreadProcs()[1]);
  freeing->OnTerminate = [&](TThread& self) {
    onTerminateRanOn = ::GetCurrentThreadId();
    destroyedBeforeOnTerminate = destroyed.load();
    EXPECT_TRUE(self.FatalException());
  };
  freeing->Resume();
  LoopUntil([&] { return destroyed.load(); }, [] { CheckSynchronize(); });
  EXPECT_EQ(onTerminateRanOn, MainThreadID());
  EXPECT_FALSE(destroyedBeforeOnTerminate);
}

TEST(Thread, DeletingAThreadThatNeverStartedEndsItWithoutExecute) {
  bool executed = false;
  HANDLE copy = nullptr;
  {
    TLambdaThread thread([&](TLambdaThread&) { executed = true; });
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), thread.Handle(), ::GetCurrentProcess(), &copy, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS));
  }
  ScopedKernelHandle owner(copy);
  EXPECT_EQ(::WaitForSingleObject(copy, INFINITE), WAIT_OBJECT_0);
  EXPECT_FALSE(executed);
}

TEST(Thread, TheMarkersAreWholeProceduresOfTheirOwn) {
  const TCodeRange catchAll = ProcedureRangeOf(SynchronizeCatchAllProcedure());
  EXPECT_EQ(catchAll.Begin, reinterpret_cast<std::uintptr_t>(SynchronizeCatchAllProcedure()));
  EXPECT_GT(catchAll.End, catchAll.Begin);
  EXPECT_EQ(ProcedureRangeOf(reinterpret_cast<const void*>(catchAll.End - 1)).Begin, catchAll.Begin);

  // The re-raise is the call to std::rethrow_exception inside its marker.
  const TCodeRange reRaise = ProcedureRangeOf(SynchronizeReRaiseProcedure());
  EXPECT_EQ(reRaise.Begin, reinterpret_cast<std::uintptr_t>(SynchronizeReRaiseProcedure()));
  const auto rethrow = reinterpret_cast<std::uintptr_t>(static_cast<void (*)(std::exception_ptr)>(&std::rethrow_exception));
  bool callsRethrow = false;
  for (std::uintptr_t at = reRaise.Begin; at + 5 <= reRaise.End; ++at) {
    std::int32_t displacement;
    std::memcpy(&displacement, reinterpret_cast<const void*>(at + 1), 4);
    callsRethrow |= *reinterpret_cast<const std::uint8_t*>(at) == 0xE8 && at + 5 + displacement == rethrow;
  }
  EXPECT_TRUE(callsRethrow);
  EXPECT_FALSE(catchAll.Contains(reRaise.Begin));
  EXPECT_FALSE(reRaise.Contains(catchAll.Begin));
  EXPECT_NE(RuntimeThreadWrapper(), nullptr);
  EXPECT_NE(RuntimeThreadProcs()[0], RuntimeThreadProcs()[1]);
}

}  // namespace
}  // namespace pelloran
