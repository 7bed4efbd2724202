// The C++ runtime's throw entries, wrapped at link time (-Wl,--wrap=__cxa_throw,--wrap=__cxa_rethrow,
// and std::rethrow_exception, which raises without either):
// every call to them in the program and in the statically linked C++ library arrives here first.
// The wrapper records the thrower's registers, lets the layer look at the raise, puts every
// register back and jumps on to the real entry, so that the unwinder sees the thrower call the
// C++ runtime directly.

#include <cxxabi.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "crashlog/capture/intercept_state.h"

namespace {

// What the entry stub saves (pushfl, then pushal), lowest address first.
struct TSavedRegisters {
  std::uint32_t Edi, Esi, Ebp, Esp, Ebx, Edx, Ecx, Eax, EFlags;
  // The slot of the return address into the thrower, followed by the call's arguments.
  const std::uint32_t* CallSlot() const noexcept { return reinterpret_cast<const std::uint32_t*>(Esp + 4); }
};

}  // namespace

extern "C" void __cdecl pelloran_intercept_throw(const TSavedRegisters* saved);
extern "C" void __cdecl pelloran_intercept_rethrow(const TSavedRegisters* saved);
extern "C" void __cdecl pelloran_intercept_rethrow_exception(const TSavedRegisters* saved);

// The entry stubs. The unwind information lets a debugger (or a report's stack walk) step through
// them while the layer runs; every register is put back before the jump, so the stub leaves no
// trace once the real entry runs.
#define PELLORAN_THROW_ENTRY(wrapper, real, handler)      \
  ".text\n"                                                \
  ".globl " wrapper "\n"                                   \
  ".def " wrapper "; .scl 2; .type 32; .endef\n" wrapper   \
  ":\n"                                                    \
  ".cfi_startproc\n"                                       \
  "pushfl\n"                                               \
  ".cfi_adjust_cfa_offset 4\n"                             \
  "pushal\n"                                               \
  ".cfi_adjust_cfa_offset 32\n"                            \
  "cld\n"                                                  \
  "pushl %esp\n"                                           \
  ".cfi_adjust_cfa_offset 4\n"                             \
  "call " handler "\n"                                     \
  "addl $4, %esp\n"                                        \
  ".cfi_adjust_cfa_offset -4\n"                            \
  "popal\n"                                                \
  ".cfi_adjust_cfa_offset -32\n"                           \
  "popfl\n"                                                \
  ".cfi_adjust_cfa_offset -4\n"                            \
  "jmp " real "\n"                                         \
  ".cfi_endproc\n"

asm(PELLORAN_THROW_ENTRY("___wrap___cxa_throw", "___real___cxa_throw", "_pelloran_intercept_throw")
        PELLORAN_THROW_ENTRY("___wrap___cxa_rethrow", "___real___cxa_rethrow", "_pelloran_intercept_rethrow")
            PELLORAN_THROW_ENTRY("___wrap__ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE",
                                 "___real__ZSt17rethrow_exceptionNSt15__exception_ptr13exception_ptrE",
                                 "_pelloran_intercept_rethrow_exception"));

namespace pelloran::crashlog::intercept {

namespace {

std::uint16_t SegmentRegister(int which) noexcept {
  std::uint16_t value = 0;
  switch (which) {
    case 0: asm("movw %%cs, %0" : "=r"(value)); break;
    case 1: asm("movw %%ss, %0" : "=r"(value)); break;
    case 2: asm("movw %%ds, %0" : "=r"(value)); break;
    case 3: asm("movw %%es, %0" : "=r"(value)); break;
    case 4: asm("movw %%fs, %0" : "=r"(value)); break;
    default: asm("movw %%gs, %0" : "=r"(value)); break;
  }
  return value;
}

// The thrower's state at its call of the throw entry. Eip is the call instruction: a direct call
// (E8 rel32) is five bytes long; anything else is taken as ending just before the return address.
CONTEXT ThrowerContext(const TSavedRegisters& saved) noexcept {
  const std::uint32_t* slot = saved.CallSlot();
  std::uint32_t returnAddress = slot[0];
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER | CONTEXT_SEGMENTS;
  context.Eip = *reinterpret_cast<const std::uint8_t*>(returnAddress - 5) == 0xE8 ? returnAddress - 5
                                                                                   : returnAddress - 1;
  context.Esp = reinterpret_cast<std::uint32_t>(slot + 1);
  context.Ebp = saved.Ebp;
  context.Ebx = saved.Ebx;
  context.Esi = saved.Esi;
  context.Edi = saved.Edi;
  context.Eax = saved.Eax;
  context.Ecx = saved.Ecx;
  context.Edx = saved.Edx;
  context.EFlags = saved.EFlags;
  context.SegCs = SegmentRegister(0);
  context.SegSs = SegmentRegister(1);
  context.SegDs = SegmentRegister(2);
  context.SegEs = SegmentRegister(3);
  context.SegFs = SegmentRegister(4);
  context.SegGs = SegmentRegister(5);
  return context;
}

void OnRaise(const TSavedRegisters& saved, const TExceptionObject& object, bool rethrow) noexcept {
  if (!Globals().Installed.load(std::memory_order_acquire)) return;
  TThreadState& state = ThisThread();
  if (const TFaultFacts* fault = state.PendingFault; fault != nullptr && !rethrow) {
    // The throw of a fault's object: the fault is its raise.
    state.PendingFault = nullptr;
    ContinueFaultThrow(state, *fault, object);
    return;
  }
  // Raises inside the reporter's own work pass through, and leave the capture it reads alone.
  if (state.NotifyDepth > 0 || state.InLastChance || state.Impersonated != nullptr) return;
  // A stack overflow caught deep down could not put its guard page back then.
  if (state.GuardPending) RestoreStackGuard();
  const CONTEXT here = ThrowerContext(saved);
  const auto* returnAddress = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(saved.CallSlot()[0]));
  // Nobody listening: only the registers are recorded, nothing is searched or kept.
  if (Globals().Notify.load(std::memory_order_acquire) == nullptr) {
    CaptureContext(state, here);
    state.Raise = TRaiseRecord{object, returnAddress, true, false, rethrow};
    return;
  }
  // Where the exception goes from here, searched once: it bounds what is kept, and it is what
  // IsExceptionHandled answers from.
  const THandlerSearch search = SearchHandlers(here, here.Esp, reinterpret_cast<std::uintptr_t>(state.Capture.StackBase),
                                               object);
  // A rethrow of a raise kept here (`throw;`, or std::rethrow_exception inside the catch block
  // that holds it) keeps the original raise: its registers, its address, its stack.
  if (TKeptRaise* kept = rethrow ? FindKeptRaise(state, object) : nullptr; kept != nullptr) {
    // Caught again below the frame that holds it (a function the catch block called rethrows to
    // look at its class): it stays inside that catch block, nothing to notify.
    if (search.Caught() && search.CatchingStackPointer <= kept->High) return;
    ExtendKeptRaise(state, *kept, search);
    CaptureContext(state, kept->Context);
    state.Raise = TRaiseRecord{object, kept->Address, kept->IsLanguageRaise, false, true};
    NotifyWithSearch(state, search, object, kept->Address, kept->IsLanguageRaise);
    return;
  }
  CaptureContext(state, here);
  state.Raise = TRaiseRecord{object, returnAddress, true, false, rethrow};
  KeepRaise(state, object, here, returnAddress, true, search);
  NotifyWithSearch(state, search, object, returnAddress, true);
}

}  // namespace

}  // namespace pelloran::crashlog::intercept

using pelloran::crashlog::TExceptionObject;

extern "C" void __cdecl pelloran_intercept_throw(const TSavedRegisters* saved) {
  const std::uint32_t* slot = saved->CallSlot();
  TExceptionObject object(reinterpret_cast<void*>(slot[1]), reinterpret_cast<const std::type_info*>(slot[2]));
  pelloran::crashlog::intercept::OnRaise(*saved, object, false);
}

extern "C" void __cdecl pelloran_intercept_rethrow(const TSavedRegisters* saved) {
  // `throw;` rethrows the exception being handled; without one the C++ runtime terminates.
  TExceptionObject object = TExceptionObject::Current();
  if (object.Empty()) return;
  pelloran::crashlog::intercept::OnRaise(*saved, object, true);
}

extern "C" void __cdecl pelloran_intercept_rethrow_exception(const TSavedRegisters* saved) {
  // std::rethrow_exception(exception_ptr): the argument is the address of the caller's copy of
  // the pointer (a class passed by value). Inside the catch block of that same exception it is
  // a rethrow; anywhere else (another thread, after the catch block ended) a raise of its own.
  const auto* pointer = reinterpret_cast<const std::exception_ptr*>(saved->CallSlot()[1]);
  if (pointer == nullptr || !*pointer) return;
  TExceptionObject current = TExceptionObject::Current();
  void* object = *reinterpret_cast<void* const*>(pointer);
  const std::type_info* type = pointer->__cxa_exception_type();
  const bool rethrow = !current.Empty() && current.Object() == object;
  pelloran::crashlog::intercept::OnRaise(*saved, TExceptionObject(object, type), rethrow);
}
