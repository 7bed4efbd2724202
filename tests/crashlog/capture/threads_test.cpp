// The thread hooks and the call stack of an exception, in a program that carries its own ELDATA:
// an access violation in a plain thread, caught by a vectored handler of this test, shows the
// fault's stack and then its creator's; a thread resumed twice shows the second resume; runtime
// threads and std::thread show their creator, the reporter's own threads do not; the exception
// address appears once.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crashlog/capture/call_stack.h"
#include "crashlog/capture/threads.h"
#include "crashlog/capture/threads_hooks.h"
#include "crashlog/infra/debuginfo/modules.h"

using pelloran::TThread;
using pelloran::crashlog::BuildCallStack;
using pelloran::crashlog::CrashModules;
using pelloran::crashlog::CrashThreads;
using pelloran::crashlog::TCrashStackList;

// ---- procedures whose lines the stacks must show (outside any namespace, for plain names) -------

static std::uintptr_t StackBase() {
  std::uintptr_t base;
  asm volatile("movl %%fs:4, %0" : "=r"(base));  // NT_TIB.StackBase
  return base;
}

static int g_captureLine = 0;

// The call stack of the calling thread from here up, as the capture pipeline would build it.
__attribute__((noinline, noipa)) TCrashStackList CaptureHere() {
  std::uintptr_t sp;
  asm volatile("movl %%esp, %0" : "=r"(sp));
  // From the slot the call below pushes its return address into.
  g_captureLine = __LINE__ + 1;
  TCrashStackList stack = BuildCallStack(*CrashModules(), 0, false, sp - 4, StackBase() - 4, GetCurrentThreadId());
  return stack;
}

static int g_faultLine = 0, g_faultCallerLine = 0, g_createFaultingLine = 0;
static std::atomic<DWORD> g_faultingThread{0};
static TCrashStackList g_faultStack;

__attribute__((noinline, noipa)) int FaultDeeper(volatile int* target) {
  g_faultLine = __LINE__ + 1;
  *target = 1;
  return 2;
}

DWORD WINAPI FaultingThreadProc(void*) {
  g_faultingThread = GetCurrentThreadId();
  g_faultCallerLine = __LINE__ + 1;
  const int result = FaultDeeper(nullptr);
  return static_cast<DWORD>(result + 1);
}

[[noreturn]] static void EndFaultingThread() { ExitThread(7); }

// Builds the fault's call stack on the faulting thread, then ends that thread.
static LONG CALLBACK CatchFault(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || GetCurrentThreadId() != g_faultingThread)
    return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT& context = *info->ContextRecord;
  g_faultStack = BuildCallStack(*CrashModules(), context.Eip, false, context.Esp, StackBase() - 4, GetCurrentThreadId());
  context.Eip = reinterpret_cast<DWORD>(&EndFaultingThread);
  context.Esp = (context.Esp - 64) & ~15u;
  return EXCEPTION_CONTINUE_EXECUTION;
}

__attribute__((noinline, noipa)) HANDLE CreateFaultingThread() {
  DWORD id = 0;
  g_createFaultingLine = __LINE__ + 1;
  HANDLE thread = CreateThread(nullptr, 0, &FaultingThreadProc, nullptr, 0, &id);
  return thread;
}

static int g_secondResumeLine = 0;

DWORD WINAPI CaptureThreadProc(void* out) {
  *static_cast<TCrashStackList*>(out) = CaptureHere();
  return 0;
}

// The same shape as ResumeSecond, so that the second resume overwrites every slot of the first.
__attribute__((noinline, noipa)) DWORD ResumeFirst(HANDLE thread) {
  const DWORD previous = ResumeThread(thread);
  return previous + 1;
}

__attribute__((noinline, noipa)) DWORD ResumeSecond(HANDLE thread) {
  g_secondResumeLine = __LINE__ + 1;
  const DWORD previous = ResumeThread(thread);
  return previous + 1;
}

static int g_startRuntimeLine = 0;

__attribute__((noinline, noipa)) int StartRuntimeThread(TThread& thread) {
  g_startRuntimeLine = __LINE__ + 1;
  thread.Resume();
  return 1;
}

__attribute__((noinline, noipa)) DWORD StartStandardThread(TCrashStackList& out) {
  DWORD ranOn = 0;
  std::thread worker([&] { out = CaptureHere(), ranOn = GetCurrentThreadId(); });
  worker.join();
  return ranOn;
}

DWORD WINAPI ThrowingThreadProc(void*) { throw std::runtime_error("escapes"); }
DWORD WINAPI ReturningThreadProc(void*) { return 0; }

static int g_raiseLine = 0;
static std::uintptr_t g_raiseAddress = 0;

// As the raise hook sees a language raise: the exception address is the call instruction that
// entered it, and the scan starts at its own stack pointer.
__attribute__((noinline, noipa)) TCrashStackList RaiseHere(bool isLanguageRaise) {
  std::uintptr_t sp;
  asm volatile("movl %%esp, %0" : "=r"(sp));
  g_raiseAddress = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)) - 5;  // call rel32
  return BuildCallStack(*CrashModules(), g_raiseAddress, isLanguageRaise, sp, StackBase() - 4, 0);
}

__attribute__((noinline, noipa)) TCrashStackList Raiser(bool isLanguageRaise) {
  g_raiseLine = __LINE__ + 1;
  TCrashStackList stack = RaiseHere(isLanguageRaise);
  return stack;
}

namespace pelloran::crashlog {
namespace {

struct TFrame {
  std::string Procedure;  // empty: any
  int Line;               // 0: any
  bool NameContains = false;
};

std::string Describe(const TCrashStackList& stack) {
  std::string text;
  for (const TCrashDebugInfo& entry : stack)
    text += std::to_string(entry.LocationKind) + " " + entry.UnitName + ":" + std::to_string(entry.Line) + " " +
            entry.ClassName + "." + entry.ProcedureName + "\n";
  return text;
}

bool IsFrame(const TCrashDebugInfo& entry, const TFrame& frame) {
  if (frame.NameContains) return entry.ProcedureName.find(frame.Procedure) != std::string::npos;
  return entry.LocationKind == kLocationDebugInfo && entry.UnitName == "threads_test.cpp" && entry.Line == frame.Line &&
         (frame.Procedure.empty() || entry.ProcedureName == frame.Procedure);
}

// Where the frames appear in this order (each after the one before); -1 for those not found.
std::vector<int> FindInOrder(const TCrashStackList& stack, const std::vector<TFrame>& frames) {
  std::vector<int> at;
  std::size_t next = 0;
  for (const TFrame& frame : frames) {
    while (next < stack.size() && !IsFrame(stack[next], frame)) ++next;
    at.push_back(next < stack.size() ? static_cast<int>(next++) : -1);
  }
  return at;
}

void ExpectInOrder(const TCrashStackList& stack, const std::vector<TFrame>& frames) {
  const std::vector<int> at = FindInOrder(stack, frames);
  EXPECT_EQ(std::count(at.begin(), at.end(), -1), 0) << Describe(stack);
}

DWORD ExitCodeOf(HANDLE thread) {
  DWORD exitCode = 0xFFFF;
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  GetExitCodeThread(thread, &exitCode);
  CloseHandle(thread);
  return exitCode;
}

bool HasProcedure(const TCrashStackList& stack, const std::string& procedure) {
  for (const TCrashDebugInfo& entry : stack)
    if (entry.ProcedureName == procedure) return true;
  return false;
}

bool HasRecord(DWORD threadID) {
  TThreadsListLock hold(CrashThreads());
  return CrashThreads().IndexOfID(threadID) >= 0;
}

class ThreadHooks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateCrashModules();
    SetReporterInstalled(true);
    hooks_ = InstallThreadHooks();
  }
  static void TearDownTestSuite() {
    UninstallThreadHooks();
    SetReporterInstalled(false);
    DestroyCrashModules();
  }
  static int hooks_;
};
int ThreadHooks::hooks_ = 0;

TEST_F(ThreadHooks, AFaultInAPlainThreadShowsTheFaultsStackThenItsCreators) {
  PVOID handler = AddVectoredExceptionHandler(1, &CatchFault);
  ASSERT_NE(handler, nullptr);
  const int callLine = __LINE__ + 1;
  HANDLE thread = CreateFaultingThread();
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(ExitCodeOf(thread), 7u);
  RemoveVectoredExceptionHandler(handler);

  ASSERT_FALSE(g_faultStack.empty());
  EXPECT_TRUE(IsFrame(g_faultStack[0], {"FaultDeeper", g_faultLine})) << Describe(g_faultStack);
  ExpectInOrder(g_faultStack, {{"FaultDeeper", g_faultLine},
                               {"FaultingThreadProc", g_faultCallerLine},
                               {"CreateFaultingThread", g_createFaultingLine},
                               {"", callLine}});
  // The thread ended through the hooked ExitThread, which forgot it.
  EXPECT_FALSE(HasRecord(g_faultingThread));
}

TEST_F(ThreadHooks, AThreadResumedTwiceShowsTheSecondResume) {
  TCrashStackList stack;
  HANDLE thread = CreateThread(nullptr, 0, &CaptureThreadProc, &stack, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(SuspendThread(thread), 1u);
  EXPECT_EQ(ResumeFirst(thread), 3u);  // still suspended
  const int callLine = __LINE__ + 1;
  EXPECT_EQ(ResumeSecond(thread), 2u);
  EXPECT_EQ(ExitCodeOf(thread), 0u);
  ExpectInOrder(stack, {{"CaptureHere", g_captureLine}, {"ResumeSecond", g_secondResumeLine}, {"", callLine}});
  EXPECT_FALSE(HasProcedure(stack, "ResumeFirst")) << Describe(stack);
}

template <typename Base>
class TCapturing : public Base {
 public:
  explicit TCapturing(bool freeOnTerminate = false, std::atomic<bool>* destroyed = nullptr)
      : Base(freeOnTerminate), destroyed_(destroyed) {}
  ~TCapturing() override {
    if (destroyed_) *destroyed_ = true;
  }
  TCrashStackList Stack;

 protected:
  void Execute() override { Stack = CaptureHere(); }

 private:
  std::atomic<bool>* destroyed_;
};

TEST_F(ThreadHooks, RuntimeThreadsAndStandardThreadsShowTheirCreatorTheReportersOwnDoNot) {
  TCapturing<TThread> owned;
  StartRuntimeThread(owned);
  owned.WaitFor();
  ExpectInOrder(owned.Stack, {{"CaptureHere", g_captureLine}, {"StartRuntimeThread", g_startRuntimeLine}});
  EXPECT_FALSE(HasRecord(owned.ThreadID()));

  TCapturing<TReporterThread> worker;
  StartRuntimeThread(worker);
  worker.WaitFor();
  EXPECT_TRUE(HasProcedure(worker.Stack, "CaptureHere")) << Describe(worker.Stack);
  EXPECT_FALSE(HasProcedure(worker.Stack, "StartRuntimeThread")) << Describe(worker.Stack);

  // A thread that frees itself, made after one that does not, still runs its own procedure.
  std::atomic<bool> destroyed{false};
  (new TCapturing<TThread>(true, &destroyed))->Resume();
  while (!destroyed) Sleep(1);

  TCrashStackList stack;
  const int callLine = __LINE__ + 1;
  const DWORD standard = StartStandardThread(stack);
  // The thread is started from code of std::thread's constructor inlined into the creator, which
  // the debug information names after the constructor (specialised for the creator's lambda).
  ExpectInOrder(stack, {{"CaptureHere", g_captureLine}, {"StartStandardThread", 0, true}, {"", callLine}});
  EXPECT_FALSE(HasRecord(standard));
}

TEST_F(ThreadHooks, WhatEscapesAPlainThreadEndsItWithExitCodeZero) {
  HANDLE thread = CreateThread(nullptr, 0, &ThrowingThreadProc, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(ExitCodeOf(thread), 0u);
}

TEST_F(ThreadHooks, TheExceptionAddressAppearsOnce) {
  auto seen = [](const TCrashStackList& stack) {
    return std::count_if(stack.begin(), stack.end(), [](const auto& entry) { return entry.Address == g_raiseAddress; });
  };
  // A language raise: the scan finds the raising call again after the procedure it called.
  TCrashStackList stack = Raiser(true);
  EXPECT_EQ(seen(stack), 1) << Describe(stack);
  ExpectInOrder(stack, {{"Raiser", g_raiseLine}});
  // Not a language raise, and the next entry is another address: both stay.
  stack = Raiser(false);
  ASSERT_GE(stack.size(), 2u);
  EXPECT_EQ(stack[0].Address, g_raiseAddress);
  EXPECT_EQ(seen(stack), 2) << Describe(stack);

  auto remaining = [](std::vector<std::uint32_t> addresses, bool isLanguageRaise) {
    TCrashStackList list;
    for (std::uint32_t address : addresses) list.push_back(TCrashDebugInfo{.Address = address});
    RemoveTopDuplicate(list, isLanguageRaise);
    addresses.clear();
    for (const auto& entry : list) addresses.push_back(entry.Address);
    return addresses;
  };
  using V = std::vector<std::uint32_t>;
  EXPECT_EQ(remaining({10, 10, 20}, false), V({10, 20}));
  EXPECT_EQ(remaining({10, 30, 10}, true), V({30, 10}));
  EXPECT_EQ(remaining({10, 30, 10}, false), V({10, 30, 10}));
  EXPECT_EQ(remaining({10}, true), V({10}));
}

TEST_F(ThreadHooks, HooksCoverTheProgramAndTheRuntimeLibraryAndComeOff) {
  // CreateThread, ResumeThread and ExitThread, each imported by this program and by msvcrt.dll.
  EXPECT_EQ(hooks_, 6);
  auto created = [] {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &ReturningThreadProc, nullptr, CREATE_SUSPENDED, &id);
    const bool registered = HasRecord(id);
    ResumeThread(thread);
    ExitCodeOf(thread);
    EXPECT_FALSE(HasRecord(id));  // gone with its thread
    return registered;
  };
  EXPECT_TRUE(created());
  SetReporterInstalled(false);  // the hooks only pass calls on
  EXPECT_FALSE(created());
  SetReporterInstalled(true);
  UninstallThreadHooks();
  EXPECT_FALSE(created());
  hooks_ = InstallThreadHooks();
  EXPECT_TRUE(created());
}

}  // namespace
}  // namespace pelloran::crashlog
