// Processor faults become C++ exceptions. The handler (the runtime's fault frame, or the
// unhandled-exception filter) runs in the first pass with the faulting stack intact; it only copies
// the fault and sends the thread to a landing, which continues below the fault (a stack overflow:
// on a stack of its own) and throws the fault's EExternal object from there. Unwind information
// that says "my caller is the faulting frame, with these registers" lets that throw, the search for
// a catching frame and every stack walk step from the landing straight into the faulting frame.
// Whether the throw happens, and what is notified, is decided where the throw wrapper receives it.

#include <windows.h>

#include <cstring>
#include <string>

#include "base/ansi_path.h"
#include "base/exceptions.h"
#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/exception_handled_frames.h"
#include "crashlog/capture/fault.h"
#include "crashlog/capture/intercept_state.h"
#include "runtime/fault_frame.h"

extern "C" void __cdecl pelloran_call_from_context(const CONTEXT* context, void (*fn)(void*), void* arg);
extern "C" void __cdecl pelloran_fault_trampoline();
extern "C" void __cdecl pelloran_fault_landing(void* facts);

// Where the handler sends the faulting thread: EAX holds the fault's CONTEXT, EDX its facts, ESP
// the stack to continue on (below the fault, or the emergency stack). Copies the CONTEXT onto that
// stack (the handler's copy lives in the thread's fault slot, which the next fault reuses) and runs
// the landing under pelloran_call_from_context, so that unwinding steps from the landing into the
// faulting frame. Never returns.
asm(".text\n"
    ".globl _pelloran_fault_trampoline\n"
    ".def _pelloran_fault_trampoline; .scl 2; .type 32; .endef\n"
    "_pelloran_fault_trampoline:\n"
    "subl $0x2D0, %esp\n"
    "andl $-16, %esp\n"
    "movl %esp, %edi\n"
    "movl %eax, %esi\n"
    "movl $0xB3, %ecx\n"  // sizeof(CONTEXT) / 4
    "cld\n"
    "rep movsl\n"
    "movl %esp, %ebx\n"
    "pushl %edx\n"
    "pushl $_pelloran_fault_landing\n"
    "pushl %ebx\n"
    "call _pelloran_call_from_context\n"
    "ud2\n");
static_assert(sizeof(CONTEXT) == 0xB3 * 4 && sizeof(CONTEXT) <= 0x2D0);

namespace pelloran::crashlog::intercept {

namespace {

constexpr DWORD kStackOverflow = 0xC00000FD;
constexpr std::size_t kPage = 4096;

// The object thrown for a stack overflow: when it is destroyed (the catch block is done and the
// stack has unwound), the guard page of its thread goes back.
class TStackOverflowFault : public EStackOverflow {
 public:
  TStackOverflowFault(std::string message, std::uint32_t code, const void* address)
      : EStackOverflow(std::move(message), code, address), thread_(GetCurrentThreadId()) {}
  TStackOverflowFault(const TStackOverflowFault&) = default;
  ~TStackOverflowFault() override {
    if (GetCurrentThreadId() == thread_) RestoreStackGuard();
  }

 private:
  DWORD thread_;
};

std::string ModuleFileNameAt(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module))
    return {};
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(module, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};
  return std::string(AnsiFileNamePart(std::string_view(path, length)));
}

// Throws the fault's object; the throw wrapper recognises it by the pending fault (set last, so
// that no throw made while building the message is taken for it).
[[noreturn]] void ThrowFaultObject(TThreadState& state, const TFaultFacts& fault) {
  std::string module = ModuleFileNameAt(fault.Address);
  TFaultDescription description;
  description.Code = fault.Code;
  description.Address = reinterpret_cast<std::uintptr_t>(fault.Address);
  description.ModuleName = module;
  description.HasAccessDetails = fault.InformationCount >= 2;
  description.AccessKind = fault.Information[0];
  description.AccessAddress = fault.Information[1];
  std::string message = ExternalMessage(description);
  const std::uint32_t code = fault.Code;
  const void* at = fault.Address;
  state.PendingFault = &fault;
  switch (ExternalClassOf(code)) {
    case TExternalClass::AccessViolation: throw EAccessViolation(message, code, at);
    case TExternalClass::DivByZero: throw EDivByZero(message, code, at);
    case TExternalClass::RangeError: throw ERangeError(message, code, at);
    case TExternalClass::IntOverflow: throw EIntOverflow(message, code, at);
    case TExternalClass::InvalidOp: throw EInvalidOp(message, code, at);
    case TExternalClass::ZeroDivide: throw EZeroDivide(message, code, at);
    case TExternalClass::Overflow: throw EOverflow(message, code, at);
    case TExternalClass::Underflow: throw EUnderflow(message, code, at);
    case TExternalClass::Privilege: throw EPrivilege(message, code, at);
    case TExternalClass::StackOverflow: throw TStackOverflowFault(message, code, at);
    case TExternalClass::ControlC: throw EControlC(message, code, at);
    case TExternalClass::ExternalException: break;
  }
  throw EExternalException(message, code, at);
}

struct TOverflowNotice {
  TThreadState* Overflowing;
  const TExceptionObject* Object;
  const void* Address;
};

DWORD WINAPI RunOverflowNotice(void* parameter) {
  auto& notice = *static_cast<TOverflowNotice*>(parameter);
  TThreadState& helper = ThisThread();
  helper.Impersonated = notice.Overflowing;
  Notify(*notice.Object, notice.Address, false);
  helper.Impersonated = nullptr;
  return 0;
}

// The report of a stack overflow is built on a thread with a stack of its own; the overflowing
// thread waits for it on its emergency stack.
void NotifyOverflow(TThreadState& state, const TExceptionObject& object, const void* address) noexcept {
  TOverflowNotice notice{&state, &object, address};
  HANDLE helper = CreateThread(nullptr, 0, &RunOverflowNotice, &notice, 0, nullptr);
  if (helper == nullptr) {
    Notify(object, address, false);
    return;
  }
  ++state.NotifyDepth;
  WaitForSingleObject(helper, INFINITE);
  --state.NotifyDepth;
  CloseHandle(helper);
}

// Sends the faulting thread to the landing. Called with little stack left after an overflow:
// copies and arithmetic only (the thread's block and emergency stack exist already, normally).
bool TakeFault(EXCEPTION_RECORD* record, CONTEXT* context) noexcept {
  if (!Globals().Installed.load(std::memory_order_acquire)) return false;
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return false;
  TThreadState& state = ThisThread();
  TFaultFacts& facts = state.FaultSlot;
  facts.Code = record->ExceptionCode;
  facts.Address = record->ExceptionAddress;
  facts.InformationCount = record->NumberParameters;
  for (int i = 0; i < 2; ++i)
    facts.Information[i] = i < static_cast<int>(record->NumberParameters) ? record->ExceptionInformation[i] : 0;
  std::memcpy(&facts.Context, context, sizeof(CONTEXT));
  std::uintptr_t stackTop = context->Esp;
  if (record->ExceptionCode == kStackOverflow) {
    if (state.EmergencyStack == nullptr) state.EmergencyStack = AllocateEmergencyStack();
    if (state.EmergencyStack == nullptr) return false;
    stackTop = reinterpret_cast<std::uintptr_t>(state.EmergencyStack) + kEmergencyStackSize;
    // A second overflow while the first is still being continued on the same stack.
    if (context->Esp > reinterpret_cast<std::uintptr_t>(state.EmergencyStack) && context->Esp <= stackTop)
      return false;
  }
  context->Eax = reinterpret_cast<DWORD>(&facts.Context);
  context->Edx = reinterpret_cast<DWORD>(&facts);
  context->Esp = static_cast<DWORD>(stackTop);
  context->Eip = reinterpret_cast<DWORD>(&pelloran_fault_trampoline);
  context->EFlags &= ~0x400u;  // direction flag: the trampoline copies upward
  return true;
}

bool OnFaultFrame(EXCEPTION_RECORD* record, CONTEXT* context) noexcept {
  // A fault frame takes processor faults only; exceptions raised by foreign code go on outward,
  // where their raiser may expect a handler of its own.
  if (ClassifyExceptionCode(record->ExceptionCode) != TSystemExceptionKind::ProcessorFault) return false;
  return TakeFault(record, context);
}

}  // namespace

bool TakeUnhandledFault(EXCEPTION_RECORD* record, CONTEXT* context) noexcept { return TakeFault(record, context); }

void* AllocateEmergencyStack() noexcept {
  return VirtualAlloc(nullptr, kEmergencyStackSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ContinueFaultThrow(TThreadState& state, const TFaultFacts& fault, const TExceptionObject& object) noexcept {
  // A fault inside the reporter's own work is not notified again; its throw still goes to the
  // reporter's catch blocks when there are any.
  const bool quiet = state.NotifyDepth > 0 || state.InLastChance || state.Impersonated != nullptr;
  const bool overflow = fault.Code == kStackOverflow;
  TWalkLimits stack = CurrentThreadStack();
  THandlerSearch search = SearchHandlers(fault.Context, fault.Context.Esp, stack.StackHigh, object);
  if (!quiet) {
    CaptureContext(state, fault.Context);
    state.Raise = TRaiseRecord{object, fault.Address, false, search.Caught(), false};
    if (Globals().Notify.load(std::memory_order_acquire) != nullptr)
      KeepRaise(state, object, fault.Context, fault.Address, false, search);
    state.RaiseSearch = search;
    state.RaiseSearchValid = true;
    if (overflow)
      NotifyOverflow(state, object, fault.Address);
    else
      Notify(object, fault.Address, false);
    state.RaiseSearchValid = false;
  }
  if (search.Caught()) {
    if (overflow) state.GuardPending = true;
    return;
  }
  EndUncaught(object, fault.Address, false, quiet);
}

void InstallFaultHandling() noexcept { SetFaultFrameHandler(&OnFaultFrame); }

void UninstallFaultHandling() noexcept { SetFaultFrameHandler(nullptr); }

}  // namespace pelloran::crashlog::intercept

extern "C" void __cdecl pelloran_fault_landing(void* facts) {
  using namespace pelloran::crashlog::intercept;
  TFaultFacts fault;
  std::memcpy(static_cast<void*>(&fault), facts, sizeof fault);
  // No catch block here: the throw must go straight on into the faulting frame.
  ThrowFaultObject(ThisThread(), fault);
}

namespace pelloran::crashlog {

bool RestoreStackGuard() noexcept {
  using namespace intercept;
  TThreadState& state = ThisThread();
  if (!state.GuardPending) return true;
  auto* tib = CurrentThreadInformationBlock();
  auto* limit = static_cast<char*>(tib->StackLimit);
  // The guard goes back on the lowest committed page, the one the overflow took; only once the
  // stack pointer is well above it, or the first call would fault on it at once.
  char here;
  if (&here < limit + 4 * kPage) return false;
  MEMORY_BASIC_INFORMATION page{};
  if (VirtualQuery(limit, &page, sizeof page) == 0 || page.State != MEM_COMMIT) return false;
  if ((page.Protect & PAGE_GUARD) == 0) {
    DWORD previous = 0;
    if (!VirtualProtect(limit, kPage, PAGE_READWRITE | PAGE_GUARD, &previous)) return false;
    tib->StackLimit = limit + kPage;
  }
  state.GuardPending = false;
  return true;
}

}  // namespace pelloran::crashlog
