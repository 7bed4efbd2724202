// The search for the frame that will catch an exception, checked in place: RaiseHere() is a raise
// point that does not throw. It records its caller's registers the way the throw wrapper does and
// asks the layer what would happen to an exception thrown at that call, then returns. So the
// answers for frames that would end the program (noexcept, nothing catching) can be checked too.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/exceptions.h"
#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/fault.h"
#include "crashlog/capture/intercept.h"
#include "crashlog/infra/diagnostics/diagnostics.h"
#include "runtime/application.h"
#include "runtime/safecall.h"

extern "C" void __cdecl probe_raise_here();
extern "C" void __cdecl probe_inspect_raise(const std::uint32_t* saved);

// pushal leaves edi, esi, ebp, esp (at the return slot), ebx, edx, ecx, eax.
asm(".text\n"
    ".globl _probe_raise_here\n"
    "_probe_raise_here:\n"
    "pushal\n"
    "pushl %esp\n"
    "call _probe_inspect_raise\n"
    "addl $4, %esp\n"
    "popal\n"
    "ret\n");

namespace pelloran::crashlog {
namespace {

struct TInspection {
  TExceptionObject Object;
  THandlerSearch Search;
  bool Handled = false;
  int Count = 0;
};
TInspection* inspection = nullptr;

// A raise at the caller's call of probe_raise_here: every frame above is the caller's.
__attribute__((noinline)) void RaiseHere() {
  probe_raise_here();
  asm volatile("");  // no tail call: the raise stays inside this frame
}

}  // namespace
}  // namespace pelloran::crashlog

extern "C" void __cdecl probe_inspect_raise(const std::uint32_t* saved) {
  using namespace pelloran::crashlog;
  const auto* slot = reinterpret_cast<const std::uint32_t*>(saved[3]);
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
  context.Eip = slot[0] - 5;
  context.Esp = reinterpret_cast<std::uint32_t>(slot + 1);
  context.Edi = saved[0];
  context.Esi = saved[1];
  context.Ebp = saved[2];
  context.Ebx = saved[4];
  TThreadCapture& capture = CurrentThreadCapture();
  capture.Context = context;
  inspection->Search = SearchHandlers(context, inspection->Object);
  inspection->Handled = IsExceptionHandled(inspection->Object, reinterpret_cast<const void*>(slot[0]));
  ++inspection->Count;
}

namespace pelloran::crashlog {
namespace {

// Runs `body` (which calls RaiseHere once) with `object` as the exception that would be raised.
template <typename Body>
TInspection Inspect(TExceptionObject object, Body body) {
  TInspection result;
  result.Object = object;
  inspection = &result;
  body();
  inspection = nullptr;
  EXPECT_EQ(result.Count, 1);
  return result;
}

template <typename Body>
struct TThreadJob {
  TInspection* Result;
  TExceptionObject Object;
  Body* Run;
};

template <typename Body>
DWORD WINAPI RunThreadJob(void* parameter) {
  auto& job = *static_cast<TThreadJob<Body>*>(parameter);
  *job.Result = Inspect(job.Object, *job.Run);
  return 0;
}

// The same on a thread of its own, where no frame of the test framework catches anything.
template <typename Body>
TInspection InspectOnThread(TExceptionObject object, Body body) {
  TInspection result;
  TThreadJob<Body> job{&result, object, &body};
  HANDLE thread = CreateThread(nullptr, 0, &RunThreadJob<Body>, &job, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return result;
}

EInOutError diskFull("Disk full", 112);
std::runtime_error standardError("standard");
int thrownNumber = 7;

TExceptionObject DiskFull() { return TExceptionObject::Of(diskFull); }
TExceptionObject StandardError() { return TExceptionObject::Of(standardError); }
TExceptionObject Number() { return TExceptionObject::Of(thrownNumber); }

__attribute__((noinline)) void TypedBaseCatch() {
  try {
    RaiseHere();
  } catch (const Exception&) {
  }
}

__attribute__((noinline)) void TypedCatchAboveAMismatch() {
  try {
    try {
      RaiseHere();
    } catch (const EConvertError&) {
    }
  } catch (const std::exception&) {
  }
}

__attribute__((noinline)) void CatchAll() {
  try {
    RaiseHere();
  } catch (...) {
  }
}

__attribute__((noinline)) void RefusesExceptions() noexcept { RaiseHere(); }

__attribute__((noinline)) void NoexceptInsideCatchAll() {
  try {
    RefusesExceptions();
  } catch (...) {
  }
}

__attribute__((noinline)) void CleanupOnly() {
  std::string text(40, 'x');
  RaiseHere();
}

// Stand-ins for the runtime's thread wrapper and Synchronize catch-all.
__attribute__((noinline)) void ThreadWrapperLike(void (*body)()) {
  try {
    body();
  } catch (...) {
  }
}
__attribute__((noinline)) void SynchronizeLike(void (*body)()) {
  try {
    body();
  } catch (...) {
  }
}

class ExceptionHandled : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InstallInterception();
    // The runtime's catching frames, as the reporter's installation registers them.
    ASSERT_TRUE(RegisterHandlerMarker(THandlerRole::EventHandler, reinterpret_cast<const void*>(&DispatchEventHandler)));
    ASSERT_TRUE(RegisterHandlerMarker(THandlerRole::SafeCall, reinterpret_cast<const void*>(&SafeCallInvoke)));
    ASSERT_TRUE(RegisterSafeCallCheck(reinterpret_cast<const void*>(&CheckSafeCallResult)));
    ASSERT_TRUE(RegisterHandlerMarker(THandlerRole::ThreadWrapper, reinterpret_cast<const void*>(&ThreadWrapperLike)));
    ASSERT_TRUE(RegisterHandlerMarker(THandlerRole::Synchronize, reinterpret_cast<const void*>(&SynchronizeLike)));
  }
};

TEST_F(ExceptionHandled, TypedCatchOfABaseClassTakesTheException) {
  TInspection r = Inspect(DiskFull(), TypedBaseCatch);
  EXPECT_EQ(r.Search.End, THandlerSearch::TEnd::Caught);
  EXPECT_EQ(r.Search.Kind, 2);
  EXPECT_EQ(r.Search.Role, THandlerRole::Program);
  EXPECT_TRUE(r.Handled);
  // The frame that takes it is TypedBaseCatch, right above RaiseHere.
  auto function = reinterpret_cast<std::uintptr_t>(&TypedBaseCatch);
  EXPECT_GE(r.Search.CatchingIp, function);
  EXPECT_LT(r.Search.CatchingIp, function + 0x40);
}

TEST_F(ExceptionHandled, AMismatchingCatchIsPassedOver) {
  TInspection r = Inspect(DiskFull(), TypedCatchAboveAMismatch);
  EXPECT_EQ(r.Search.Kind, 2);
  EXPECT_TRUE(r.Handled);
  // Not taken by catch (const std::exception&) either way: an int is no class.
  TInspection n = InspectOnThread(Number(), TypedCatchAboveAMismatch);
  EXPECT_NE(n.Search.End, THandlerSearch::TEnd::Caught);
  EXPECT_FALSE(n.Handled);
}

TEST_F(ExceptionHandled, CatchAllIsKind1) {
  TInspection r = InspectOnThread(Number(), CatchAll);
  EXPECT_EQ(r.Search.End, THandlerSearch::TEnd::Caught);
  EXPECT_EQ(r.Search.Kind, 1);
  EXPECT_TRUE(r.Handled);
}

TEST_F(ExceptionHandled, CleanupsDoNotCatchAndNothingElseDoesOnABareThread) {
  TInspection r = InspectOnThread(StandardError(), CleanupOnly);
  // Above the thread's entry lies the system's thread start, without unwind information.
  EXPECT_EQ(r.Search.End, THandlerSearch::TEnd::NoUnwindInfo);
  EXPECT_FALSE(r.Handled);
  EXPECT_TRUE(WasReportedAtRaise(StandardError()));
}

TEST_F(ExceptionHandled, ANoexceptFrameEndsTheSearchBeforeAnOuterCatchAll) {
  TInspection r = Inspect(StandardError(), NoexceptInsideCatchAll);
  EXPECT_EQ(r.Search.End, THandlerSearch::TEnd::Terminates);
  EXPECT_FALSE(r.Handled);
}

TEST_F(ExceptionHandled, TheEventHandlerCatchCountsAsHandled) {
  TInspection r = Inspect(DiskFull(), [] { CallEventHandler(nullptr, [] { RaiseHere(); }); });
  EXPECT_EQ(r.Search.Role, THandlerRole::EventHandler);
  EXPECT_EQ(r.Search.Kind, 1);
  EXPECT_TRUE(r.Handled);
  EXPECT_FALSE(WasReportedAtRaise(DiskFull()));
}

TEST_F(ExceptionHandled, TheSafecallWrapperIsReportedAndSetsTheSafecallFlag) {
  ASSERT_TRUE(OpenSafecallFlag());
  TakeSafecallFlag();
  TInspection r = Inspect(DiskFull(), [] { SafeCall([] { RaiseHere(); }); });
  EXPECT_EQ(r.Search.Role, THandlerRole::SafeCall);
  EXPECT_EQ(r.Search.Kind, 3);
  EXPECT_FALSE(r.Handled);
  EXPECT_TRUE(TakeSafecallFlag());
  CloseSafecallFlag();
}

TEST_F(ExceptionHandled, SynchronizeCatchIsReportedWhereTheExceptionArose) {
  TInspection r = Inspect(DiskFull(), [] { SynchronizeLike([] { RaiseHere(); }); });
  EXPECT_EQ(r.Search.Role, THandlerRole::Synchronize);
  EXPECT_FALSE(r.Handled);
}

TEST_F(ExceptionHandled, ThreadWrapperCountsOnlyInTheMainThread) {
  auto wrapped = [] { ThreadWrapperLike([] { RaiseHere(); }); };
  TInspection main = Inspect(DiskFull(), wrapped);
  EXPECT_EQ(main.Search.Role, THandlerRole::ThreadWrapper);
  EXPECT_TRUE(main.Handled);
  TInspection worker = InspectOnThread(DiskFull(), wrapped);
  EXPECT_EQ(worker.Search.Role, THandlerRole::ThreadWrapper);
  EXPECT_FALSE(worker.Handled);
  // A catch of the worker's own inside the wrapper does count.
  TInspection inner = InspectOnThread(DiskFull(), [] { ThreadWrapperLike(TypedBaseCatch); });
  EXPECT_EQ(inner.Search.Role, THandlerRole::Program);
  EXPECT_TRUE(inner.Handled);
}

TEST(ExceptionObject, NamesMessagesAndAncestors) {
  EXPECT_EQ(DiskFull().ClassName(), "EInOutError");
  EXPECT_EQ(DiskFull().Message(), "Disk full");
  EXPECT_TRUE(DiskFull().InheritsFrom("Exception"));
  EXPECT_FALSE(DiskFull().InheritsFrom("EAbort"));
  EXPECT_FALSE(DiskFull().IsAbort());

  std::out_of_range range("index 9");
  TExceptionObject standard = TExceptionObject::Of(range);
  EXPECT_EQ(standard.ClassName(), "std::out_of_range");
  EXPECT_EQ(standard.Message(), "index 9");
  EXPECT_TRUE(standard.InheritsFrom("std::logic_error"));
  EXPECT_TRUE(standard.InheritsFrom("std::exception"));
  EXPECT_FALSE(standard.InheritsFrom("std::runtime_error"));
  EXPECT_FALSE(standard.Describe().IsException);

  EXPECT_EQ(Number().ClassName(), "int");
  EXPECT_EQ(Number().Message(), "");

  PELLORAN_EXCEPTION_CLASS(ESilentLeaf, EAbort);
  ESilentLeaf silent("quiet");
  EXPECT_TRUE(TExceptionObject::Of(silent).IsAbort());
  EXPECT_EQ(TExceptionObject::Of(silent).ClassName(), "ESilentLeaf");
}

TEST(ExceptionObject, CurrentIsTheThrownObjectItself) {
  EXPECT_TRUE(TExceptionObject::Current().Empty());
  const void* thrownAt = nullptr;
  try {
    throw EConvertError("bad");
  } catch (const EConvertError& e) {
    thrownAt = &e;
    TExceptionObject current = TExceptionObject::Current();
    EXPECT_EQ(current.Object(), thrownAt);
    EXPECT_EQ(current.ClassName(), "EConvertError");
    EXPECT_TRUE(current.CaughtBy(&typeid(Exception)));
    EXPECT_FALSE(current.CaughtBy(&typeid(EAbort)));
  }
  EXPECT_NE(thrownAt, nullptr);
}

TEST(FaultText, MessagesAndClassesFollowTheExceptionCode) {
  TFaultDescription fault;
  fault.Code = 0xC0000005;
  fault.Address = 0x0040123A;
  fault.ModuleName = "Pelloran.exe";
  fault.HasAccessDetails = true;
  EXPECT_EQ(ExternalMessage(fault),
            "Access violation at address 0040123A in module 'Pelloran.exe'. Read of address 00000000.");
  fault.AccessKind = 1;
  fault.AccessAddress = 0xDEADBEEF;
  EXPECT_EQ(ExternalMessage(fault),
            "Access violation at address 0040123A in module 'Pelloran.exe'. Write of address DEADBEEF.");
  fault.AccessKind = 8;
  fault.ModuleName = {};
  EXPECT_EQ(ExternalMessage(fault), "Access violation at address 0040123A. Execution of address DEADBEEF.");

  EXPECT_EQ(ExternalClassOf(0xC0000094), TExternalClass::DivByZero);
  EXPECT_EQ(ExternalClassOf(0xC00000FD), TExternalClass::StackOverflow);
  EXPECT_EQ(ExternalClassOf(0xC000008E), TExternalClass::ZeroDivide);
  fault.Code = 0xC000001D;
  EXPECT_EQ(ExternalMessage(fault), "External exception C000001D");
  fault.Code = 0xC0000096;
  EXPECT_EQ(ExternalMessage(fault), "Privileged instruction");

  EXPECT_EQ(ClassifyExceptionCode(0xC0000005), TSystemExceptionKind::ProcessorFault);
  EXPECT_EQ(ClassifyExceptionCode(0xE06D7363), TSystemExceptionKind::Software);
  EXPECT_EQ(ClassifyExceptionCode(0x406D1388), TSystemExceptionKind::Notification);
  EXPECT_EQ(ClassifyExceptionCode(0x40010006), TSystemExceptionKind::Notification);
}

}  // namespace
}  // namespace pelloran::crashlog
