#include "crashlog/capture/termination.h"

#include <windows.h>

#include <assert.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "crashlog/capture/intercept_state.h"

extern "C" void __real___cxa_pure_virtual();
extern "C" void __real__ZSt9terminatev();

namespace pelloran::crashlog {

namespace intercept {

namespace {

constexpr UINT kAbortExitCode = 3;  // what the C runtime's abort ends with

using TSignalHandler = void(__cdecl*)(int);
TSignalHandler previousAbortHandler = SIG_DFL;
int previousErrorMode = _OUT_TO_DEFAULT;
bool handlersInstalled = false;

void __cdecl OnAbortSignal(int);

// The length of the call instruction that returns to `returnAddress`: E8 rel32, or FF /2 in the
// forms a compiler emits (through a register, or a slot addressed by registers and a displacement).
std::uintptr_t CallLength(std::uintptr_t returnAddress) noexcept {
  const auto* end = reinterpret_cast<const std::uint8_t*>(returnAddress);
  if (end[-5] == 0xE8) return 5;
  for (std::uintptr_t length : {2u, 3u, 4u, 6u, 7u}) {
    const std::uint8_t* call = end - length;
    if (call[0] != 0xFF || (call[1] >> 3 & 7) != 2) continue;
    const int mod = call[1] >> 6, rm = call[1] & 7;
    std::uintptr_t expected = 2;
    if (mod != 3 && rm == 4) ++expected;  // a SIB byte follows
    if (mod == 1) expected += 1;
    if (mod == 2 || (mod == 0 && rm == 5) || (mod == 0 && rm == 4 && (call[2] & 7) == 5)) expected += 4;
    if (expected == length) return length;
  }
  return 1;
}

}  // namespace

// The registers of the code that called a replacement, as far as they can be known there: the
// call instruction, the stack pointer after the call, the frame pointer. The raise is named by
// the call, as a throw's is (its address is 5 bytes past the call, whatever the call's length).
[[noreturn]] void EndWithReport(const Exception& error, const void* returnAddress, std::uintptr_t callerStack,
                                std::uintptr_t callerFrame, UINT processExitCode) noexcept {
  TThreadState& state = ThisThread();
  const bool quiet = state.NotifyDepth > 0 || state.Impersonated != nullptr || state.InLastChance;
  const TExceptionObject object = TExceptionObject::Of(error);
  const auto ret = reinterpret_cast<std::uintptr_t>(returnAddress);
  const std::uintptr_t call = ret - CallLength(ret);
  const auto address = reinterpret_cast<const void*>(call + 5);
  if (!quiet) {
    CONTEXT context{};
    context.Eip = call;
    context.Esp = callerStack;
    context.Ebp = callerFrame;
    CaptureContext(state, context);
    state.Raise = TRaiseRecord{object, address, true, false, false};
  }
  EndUncaught(object, address, true, quiet, processExitCode);
}

namespace {

// What a replacement knows of its caller; call only from the replacement itself (it keeps a frame
// pointer: it reads its own frame address).
#define PELLORAN_END_WITH_REPORT(error, exitCode)                                                         \
  do {                                                                                                    \
    auto* frame_ = static_cast<std::uintptr_t*>(__builtin_frame_address(0));                              \
    EndWithReport((error), __builtin_return_address(0), reinterpret_cast<std::uintptr_t>(frame_) + 8,     \
                  frame_[0], (exitCode));                                                                 \
  } while (false)

__attribute__((noinline)) void __cdecl OnAbortSignal(int) {
  // Called by the C runtime's raise() (from its abort, or the program's own raise(SIGABRT)).
  const EAbnormalTermination error("SIGABRT raised: abnormal program termination");
  PELLORAN_END_WITH_REPORT(error, kAbortExitCode);
}

}  // namespace

void InstallTerminationHandlers() noexcept {
  if (handlersInstalled) return;
  previousAbortHandler = std::signal(SIGABRT, &OnAbortSignal);
  // The C runtime's abort (reached from inside the runtime itself) would otherwise ask with a box
  // first in a program with windows; the report takes its place.
  previousErrorMode = _set_error_mode(_OUT_TO_STDERR);
  handlersInstalled = true;
}

void UninstallTerminationHandlers() noexcept {
  if (!handlersInstalled) return;
  const TSignalHandler current = std::signal(SIGABRT, previousAbortHandler);
  // A handler the program set since stays.
  if (current != &OnAbortSignal) std::signal(SIGABRT, current);
  if (previousErrorMode >= 0) _set_error_mode(previousErrorMode);
  handlersInstalled = false;
}

}  // namespace intercept

using namespace intercept;

std::string AssertionText(std::string_view expression, std::string_view file, unsigned line) {
  return "Assertion failed: " + std::string(expression) + ", file " + std::string(file) + ", line " +
         std::to_string(line);
}

namespace {

// The C runtime's procedure behind `procedure`: declared without dllimport, its address is the
// program's import thunk (FF 25 [slot]), whose slot holds the procedure.
void* BehindThunk(void (*procedure)()) noexcept {
  const auto* code = reinterpret_cast<const std::uint8_t*>(procedure);
  if (code[0] != 0xFF || code[1] != 0x25) return reinterpret_cast<void*>(procedure);
  void* const* slot = nullptr;
  __builtin_memcpy(&slot, code + 2, sizeof slot);
  return *slot;
}

template <typename F>
void* RuntimeProcedure(F* procedure) noexcept {
  return BehindThunk(reinterpret_cast<void (*)()>(procedure));
}

}  // namespace

void* RuntimeAbort() noexcept { return RuntimeProcedure(&::abort); }
void* RuntimeRaise() noexcept { return RuntimeProcedure(&::raise); }
void* RuntimeAssert() noexcept { return RuntimeProcedure(&::_assert); }
void* RuntimeWideAssert() noexcept { return RuntimeProcedure(&::_wassert); }

__attribute__((noinline)) void __cdecl ReportedAbort() {
  if (!Globals().Installed.load()) reinterpret_cast<void(__cdecl*)()>(RuntimeAbort())();
  // A SIGABRT handler of the program's own runs first, as abort() promises; if it returns, the
  // program still ends here.
  const TSignalHandler current = std::signal(SIGABRT, SIG_DFL);
  if (current != SIG_DFL && current != SIG_IGN && current != SIG_ERR && current != &OnAbortSignal) {
    std::signal(SIGABRT, current);
    std::raise(SIGABRT);
  }
  const EAbnormalTermination error("abort() called: abnormal program termination");
  PELLORAN_END_WITH_REPORT(error, kAbortExitCode);
}

__attribute__((noinline)) int __cdecl ReportedRaise(int signal) {
  if (signal == SIGABRT && Globals().Installed.load()) {
    // Reported here, where the program raised it, when the handler that would run is the
    // reporter's own; a handler of the program's own runs as raise() promises.
    const TSignalHandler current = std::signal(SIGABRT, SIG_DFL);
    std::signal(SIGABRT, current);
    if (current == &OnAbortSignal) {
      const EAbnormalTermination error("SIGABRT raised: abnormal program termination");
      PELLORAN_END_WITH_REPORT(error, kAbortExitCode);
    }
  }
  return reinterpret_cast<int(__cdecl*)(int)>(RuntimeRaise())(signal);
}

__attribute__((noinline)) void __cdecl ReportedAssert(const char* expression, const char* file, unsigned line) {
  if (!Globals().Installed.load())
    reinterpret_cast<void(__cdecl*)(const char*, const char*, unsigned)>(RuntimeAssert())(expression, file, line);
  const EAssertionFailed error(AssertionText(expression != nullptr ? expression : "", file != nullptr ? file : "", line));
  PELLORAN_END_WITH_REPORT(error, kAbortExitCode);
}

namespace {

std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

}  // namespace

__attribute__((noinline)) void __cdecl ReportedWideAssert(const wchar_t* expression, const wchar_t* file,
                                                          unsigned line) {
  if (!Globals().Installed.load())
    reinterpret_cast<void(__cdecl*)(const wchar_t*, const wchar_t*, unsigned)>(RuntimeWideAssert())(expression, file,
                                                                                                    line);
  const EAssertionFailed error(AssertionText(Narrow(expression), Narrow(file), line));
  PELLORAN_END_WITH_REPORT(error, kAbortExitCode);
}

}  // namespace pelloran::crashlog

// std::terminate, wrapped at link time: called by the program with no exception in flight, it is
// reported where the program called it. Anything else goes to the terminate handler as before.
extern "C" __attribute__((noinline)) void __wrap__ZSt9terminatev() {
  using namespace pelloran::crashlog;
  using namespace pelloran::crashlog::intercept;
  if (Globals().Installed.load() && TExceptionObject::Current().Empty()) {
    const ETerminateCalled error("std::terminate called without an exception");
    PELLORAN_END_WITH_REPORT(error, 0);
  }
  __real__ZSt9terminatev();
  __builtin_unreachable();
}

// The pure virtual entry, wrapped at link time; reached from the vtable slot of the function
// called.
extern "C" __attribute__((noinline)) void __wrap___cxa_pure_virtual() {
  using namespace pelloran::crashlog;
  using namespace pelloran::crashlog::intercept;
  if (!Globals().Installed.load()) __real___cxa_pure_virtual();
  const EPureVirtualCall error("Pure virtual function called");
  PELLORAN_END_WITH_REPORT(error, 0);
}
