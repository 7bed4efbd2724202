#pragma once
// The interception layer's own state, shared by its parts: one block per thread and a few values
// for the process. Not for users of the layer (they use intercept.h).

#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/intercept.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <typeinfo>

namespace pelloran::crashlog::intercept {

// The facts of one fault, handed from the fault handler to the code that continues it.
struct TFaultFacts {
  std::uint32_t Code = 0;
  const void* Address = nullptr;
  std::uintptr_t Information[2] = {};  // access violation: read (0), write (1) or execute (8), and the address
  std::uint32_t InformationCount = 0;
  CONTEXT Context{};                   // the processor's state at the fault
};

// What a raise leaves for its report once the handler's frames have overwritten its stack: the
// registers of the original raise and the stack bytes from there up to the frame that catches it
// (a rethrow of the same object adds the bytes up to its new catcher). The stack above `High` is
// still in place while that frame runs, so the report joins the two.
struct TKeptRaise {
  TKeptRaise() = default;
  TKeptRaise(const TKeptRaise&) = delete;
  TKeptRaise& operator=(const TKeptRaise&) = delete;
  ~TKeptRaise();

  void* Object = nullptr;  // none: the slot is free
  const std::type_info* Type = nullptr;
  CONTEXT Context{};
  const void* Address = nullptr;  // as TRaiseRecord::Address
  bool IsLanguageRaise = false;
  std::uintptr_t Low = 0;   // the raise's stack pointer: where Bytes starts in the stack
  std::uintptr_t High = 0;  // the catching frame's stack pointer: Bytes ends here
  std::uint8_t* Bytes = nullptr;
  std::size_t Capacity = 0;
  unsigned Serial = 0;  // when it was kept: the oldest slot goes first
};
inline constexpr int kKeptRaises = 4;

struct TThreadState {
  TThreadCapture Capture;
  TRaiseRecord Raise;
  // The raises whose stacks are kept, a few per thread (an exception handled while another waits
  // for its rethrow); memory stays bounded (see intercept_kept_raise.cpp).
  TKeptRaise Kept[kKeptRaises];
  unsigned KeptSerial = 0;
  // The handler search of the raise being notified (from where it travels now), which
  // IsExceptionHandled answers from; valid only while that notification runs.
  THandlerSearch RaiseSearch;
  bool RaiseSearchValid = false;
  // The helper that reports a stack overflow stands in for the overflowing thread.
  TThreadState* Impersonated = nullptr;
  int NotifyDepth = 0;      // inside a notification: raises only pass through
  bool InLastChance = false;
  // A fault on its way to becoming a throw: set by the landing just before it throws the fault's
  // object, taken by the throw wrapper, which then treats that throw as the fault's raise.
  const TFaultFacts* PendingFault = nullptr;
  bool GuardPending = false;  // a stack overflow was continued; the guard page is to go back
  void* EmergencyStack = nullptr;  // where a stack overflow is continued
  // Written by the fault handler, read (and copied) by the landing as the first thing it does.
  TFaultFacts FaultSlot;
};

// The calling thread's block (made on first use); never null.
TThreadState& ThisThread() noexcept;
// The block whose capture and raise the calling thread speaks for: the overflowing thread's on
// the helper of a stack overflow, else its own.
TThreadState& EffectiveThread() noexcept;

struct TGlobals {
  std::atomic<bool> Installed{false};
  std::atomic<TRaiseNotify> Notify{nullptr};
  std::atomic<TLastChanceNotify> LastChance{nullptr};
  std::atomic<DWORD> MainThread{0};
};
TGlobals& Globals() noexcept;

// Calls the notification (when one is set) with the thread's last-error value kept, counting the
// calling thread as inside a notification meanwhile.
void Notify(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept;

// Fills a thread's capture from a register state.
void CaptureContext(TThreadState& state, const CONTEXT& context) noexcept;

// The end of an exception that nothing catches: the last-chance notification (unless `quiet`),
// then the main thread ends the process with exit code 1, any other thread ends itself; with a
// `processExitCode`, the process ends with that code whichever thread it is.
[[noreturn]] void EndUncaught(const TExceptionObject& object, const void* address, bool isLanguageRaise,
                              bool quiet, UINT processExitCode = 0) noexcept;
// The same for an end that no throw announced (termination.h): `error` is reported as raised by
// the code that called the runtime (the return address of its call, its stack pointer after the
// call, its frame pointer), with that code's registers as far as they are known.
[[noreturn]] void EndWithReport(const Exception& error, const void* returnAddress, std::uintptr_t callerStack,
                                std::uintptr_t callerFrame, UINT processExitCode) noexcept;

// Continues a fault whose object is being thrown: notifies (on a helper thread for a stack
// overflow) and returns when a frame will catch the throw; ends the thread or process otherwise.
void ContinueFaultThrow(TThreadState& state, const TFaultFacts& fault, const TExceptionObject& object) noexcept;

// Sends a thread that faulted to the landing that continues the fault (the unhandled-exception
// filter's way in; the runtime's fault frames have their own). False when it cannot be continued.
bool TakeUnhandledFault(EXCEPTION_RECORD* record, CONTEXT* context) noexcept;

// Keeps the stack of a fresh raise at `context` (a throw's call or a fault), up to the frame the
// search found (the catching frame, or the frame that refuses the exception); only while a
// notification is set. Then notifies with the search at hand for IsExceptionHandled.
void KeepRaise(TThreadState& state, const TExceptionObject& object, const CONTEXT& context, const void* address,
               bool isLanguageRaise, const THandlerSearch& search) noexcept;
// The kept raise of `object` on this thread, or null.
TKeptRaise* FindKeptRaise(TThreadState& state, const TExceptionObject& object) noexcept;
// A rethrow of a kept raise: adds the bytes between the old catching frame and the new one.
void ExtendKeptRaise(TThreadState& state, TKeptRaise& kept, const THandlerSearch& search) noexcept;
// Notify, with `search` as the answer's basis for IsExceptionHandled meanwhile.
void NotifyWithSearch(TThreadState& state, const THandlerSearch& search, const TExceptionObject& object,
                      const void* address, bool isLanguageRaise) noexcept;

// Installs and removes the fault handling and the last-chance handlers.
void InstallFaultHandling() noexcept;
void UninstallFaultHandling() noexcept;
void InstallLastChance() noexcept;
void UninstallLastChance() noexcept;

// The stack that a thread continues a stack overflow on (allocated once per thread).
inline constexpr std::size_t kEmergencyStackSize = 64 * 1024;
void* AllocateEmergencyStack() noexcept;

}  // namespace pelloran::crashlog::intercept
