#pragma once
// The raise points of the crash reporter: every C++ throw (the C++ runtime's throw entry, wrapped at
// link time, sees throws inside the C++ library too), every rethrow with `throw;`, and every
// processor fault that no library handles itself. At each one the thrower's registers go into the
// thread's capture and the reporter's notification runs; a fault that the program's frames will
// catch then continues as a C++ throw of an EExternal object from the faulting instruction.
// Exceptions that nothing catches end at the last chance: reported, then the main thread halts
// the process with exit code 1 and any other thread ends with exit code 1.
//
// Code that may fault must be compiled with -fnon-call-exceptions: a fault elsewhere cannot be
// continued as a throw and is treated as uncaught.

#include "crashlog/capture/exception_object.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace pelloran::crashlog {

// Where a thread's next report starts: the registers of the raise point and the stack it is on.
struct TThreadCapture {
  const void* StackStart = nullptr;         // where the stack scan of a report begins
  const void* RaiseStackPointer = nullptr;  // stack pointer of the raising code at the raise
  std::uint32_t RaiseEcx = 0;               // ECX of the raising code at the raise
  // ContextFlags 0x10007 (control, integer and segment registers) when captured, 0 when not. For
  // a throw, Eip is the throwing call instruction and Esp the thrower's stack pointer; for a fault,
  // the processor's state at the faulting instruction.
  CONTEXT Context{};
  DWORD ThreadId = 0;               // the thread the capture belongs to
  const void* StackBase = nullptr;  // upper end of that thread's stack
};

// The capture of the calling thread. On the helper thread that reports a stack overflow, the
// capture of the thread that overflowed: use its ThreadId and StackBase for the report.
TThreadCapture& CurrentThreadCapture() noexcept;

// The raise the calling thread saw last (or, on the helper of a stack overflow, the overflowing
// thread's).
struct TRaiseRecord {
  TExceptionObject Object;
  // A throw: the return address of the throwing call (the call instruction is 5 bytes before).
  // A fault: the faulting instruction.
  const void* Address = nullptr;
  bool IsLanguageRaise = false;
  // A processor fault continued as a C++ throw: it was notified at the fault; its throw is not a
  // new raise and is not notified again.
  bool ConvertedFault = false;
  bool Rethrow = false;  // a `throw;` of the exception being handled
};
TRaiseRecord LastRaise() noexcept;
// The raise of the exception the calling thread is handling now (inside a catch block), when it
// is the last one it saw; empty otherwise. What the framework handler needs to name the raise
// address of the exception it received.
TRaiseRecord RaiseOfCurrentException() noexcept;

// The stack of an exception as it stood at its original raise, whatever caught it since and
// however often `throw;` passed it on: the registers of that raise and the stack from its stack
// pointer up to the thread's stack base. The part that the handlers' frames have overwritten since
// comes from what was kept at the raise (and at each rethrow), the rest from the live stack.
struct TRaiseStack {
  CONTEXT Context{};
  const void* Address = nullptr;  // as TRaiseRecord::Address
  bool IsLanguageRaise = false;
  std::vector<std::uint8_t> Bytes;
  std::uintptr_t Origin = 0;  // where Bytes[0] lies in the thread's stack
};
// The calling thread's kept raise of `object` (on the helper of a stack overflow, the overflowing
// thread's), joined to the live stack; false when none is kept. Call while the frame that caught
// it is still running (inside its catch block, or before it is reached).
bool KeptRaiseStack(const TExceptionObject& object, TRaiseStack& stack);

// GoNotify: called at every raise while the interception is installed and a notification is set.
// `address` as in TRaiseRecord. Runs on the raising thread with the raising stack intact (a stack
// overflow: on a helper thread of its own while the overflowing thread waits). Raises inside the
// notification only pass through. Must not throw.
using TRaiseNotify = void (*)(const TExceptionObject& object, const void* address, bool isLanguageRaise);
TRaiseNotify SetRaiseNotify(TRaiseNotify notify) noexcept;

// Called once for an exception that nothing catches, before the thread or process ends.
// `reportedAtRaise`: IsExceptionHandled answered false for it at its raise, so it was reported
// then. The object is empty for std::terminate called without an exception. Must not throw.
using TLastChanceNotify = void (*)(const TExceptionObject& object, const void* address, bool isLanguageRaise,
                                   bool reportedAtRaise);
TLastChanceNotify SetLastChanceNotify(TLastChanceNotify notify) noexcept;

// Installs the fault handling (the runtime's fault frames, the unhandled-exception filter), the
// terminate handler and the runtime's own handler markers, and starts recording raises. Call on
// the main thread (during static initialization or at the start of main). Idempotent.
void InstallInterception();
// Puts the previous filter and terminate handler back; raises only pass through again.
void UninstallInterception();

// True until every static initializer has run (the program's initialization); true once static
// destruction (exit) has begun.
bool UnitsInitializing() noexcept;
bool UnitsFinalizing() noexcept;

// The main thread: the one that ran static initialization.
DWORD MainThreadId() noexcept;

// Puts back the guard page of the calling thread's stack after a stack overflow was caught, when
// the stack has unwound far enough; done by itself when the EStackOverflow object is destroyed.
// True when the guard is in place afterwards.
bool RestoreStackGuard() noexcept;

}  // namespace pelloran::crashlog
