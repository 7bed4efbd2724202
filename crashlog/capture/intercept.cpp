#include "crashlog/capture/intercept.h"

#include <new>

#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/intercept_state.h"
#include "runtime/fault_frame.h"

namespace pelloran::crashlog {

namespace intercept {

namespace {

DWORD ThreadSlot() noexcept {
  static const DWORD slot = TlsAlloc();
  return slot;
}

TThreadState* NewThreadState() noexcept {
  void* memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TThreadState));
  if (memory == nullptr) return nullptr;
  auto* state = new (memory) TThreadState;
  state->Capture.ThreadId = GetCurrentThreadId();
  state->Capture.StackBase = CurrentThreadInformationBlock()->StackBase;
  TlsSetValue(ThreadSlot(), state);
  return state;
}

// A thread that cannot get a block of its own (no memory) shares this one: captures may mix, but
// raises still pass through.
TThreadState& SpareState() noexcept {
  static TThreadState spare;
  return spare;
}

void NTAPI OnThreadEvent(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH) {
    // Made here, on a fresh stack, rather than inside a fault with little stack left.
    if (TThreadState* state = NewThreadState(); state != nullptr && Globals().Installed.load())
      state->EmergencyStack = AllocateEmergencyStack();
  } else if (reason == DLL_THREAD_DETACH) {
    auto* state = static_cast<TThreadState*>(TlsGetValue(ThreadSlot()));
    if (state == nullptr) return;
    TlsSetValue(ThreadSlot(), nullptr);
    // A thread that ends on its emergency stack (an uncaught stack overflow) is still using it.
    char here;
    auto* stack = static_cast<char*>(state->EmergencyStack);
    if (stack != nullptr && !(&here >= stack && &here < stack + kEmergencyStackSize))
      VirtualFree(stack, 0, MEM_RELEASE);
    state->~TThreadState();
    HeapFree(GetProcessHeap(), 0, state);
  }
}

}  // namespace

TThreadState& ThisThread() noexcept {
  auto* state = static_cast<TThreadState*>(TlsGetValue(ThreadSlot()));
  if (state == nullptr) state = NewThreadState();
  return state != nullptr ? *state : SpareState();
}

TThreadState& EffectiveThread() noexcept {
  TThreadState& own = ThisThread();
  return own.Impersonated != nullptr ? *own.Impersonated : own;
}

TGlobals& Globals() noexcept {
  static TGlobals globals;
  return globals;
}

void Notify(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept {
  TRaiseNotify notify = Globals().Notify.load(std::memory_order_acquire);
  if (notify == nullptr) return;
  TThreadState& state = ThisThread();
  DWORD lastError = GetLastError();
  ++state.NotifyDepth;
  try {
    notify(object, address, isLanguageRaise);
  } catch (...) {
    // The notification must not throw; what it lets out ends here, not in the raise.
  }
  --state.NotifyDepth;
  SetLastError(lastError);
}

void CaptureContext(TThreadState& state, const CONTEXT& context) noexcept {
  TThreadCapture& capture = state.Capture;
  capture.Context = context;
  capture.Context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
  capture.RaiseStackPointer = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(context.Esp));
  capture.StackStart = capture.RaiseStackPointer;
  capture.RaiseEcx = context.Ecx;
}

}  // namespace intercept

using namespace intercept;

// Thread events reach the layer through the program's TLS callback list (.CRT$XL*, between the C
// runtime's __xl_a and __xl_z).
extern "C" __attribute__((section(".CRT$XLP"), used)) const PIMAGE_TLS_CALLBACK pelloranInterceptThreadEvent =
    &OnThreadEvent;

TThreadCapture& CurrentThreadCapture() noexcept { return EffectiveThread().Capture; }

TRaiseRecord LastRaise() noexcept { return EffectiveThread().Raise; }

TRaiseRecord RaiseOfCurrentException() noexcept {
  TExceptionObject current = TExceptionObject::Current();
  const TRaiseRecord& raise = EffectiveThread().Raise;
  if (current.Empty() || current.Object() != raise.Object.Object()) return {};
  return raise;
}

TRaiseNotify SetRaiseNotify(TRaiseNotify notify) noexcept {
  return Globals().Notify.exchange(notify, std::memory_order_acq_rel);
}

TLastChanceNotify SetLastChanceNotify(TLastChanceNotify notify) noexcept {
  return Globals().LastChance.exchange(notify, std::memory_order_acq_rel);
}

DWORD MainThreadId() noexcept { return Globals().MainThread.load(); }

void InstallInterception() {
  if (Globals().Installed.load()) return;
  DWORD expected = 0;
  Globals().MainThread.compare_exchange_strong(expected, GetCurrentThreadId());
  TThreadState& state = ThisThread();
  if (state.EmergencyStack == nullptr) state.EmergencyStack = AllocateEmergencyStack();
  InstallFaultHandling();
  InstallLastChance();
  Globals().Installed.store(true);
}

void UninstallInterception() {
  if (!Globals().Installed.exchange(false)) return;
  UninstallLastChance();
  UninstallFaultHandling();
}

}  // namespace pelloran::crashlog
