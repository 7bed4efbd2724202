// The trampoline of a code hook, the two routines it calls, the executable memory it lives in,
// and its unwind information.
#include <windows.h>
#include <unwind.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "crashlog/infra/hooks/hook_code.h"

namespace pelloran::crashlog::hook_detail {
namespace {

void Put32(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, 4); }
std::uint32_t Address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

}  // namespace
}  // namespace pelloran::crashlog::hook_detail

using pelloran::crashlog::TCodeHookBlock;

// Called (cdecl) by the assembly routines below with the registers of the hooked call saved.
// The system calls inside must not change what the hooked procedure sees or leaves behind: its
// last-error value included.
extern "C" void PelloranHookWriteSaved(TCodeHookBlock* block) {
  const DWORD lastError = GetLastError();
  pelloran::crashlog::hook_detail::WriteCodeBytes(block->Target, block->Saved, 5);
  SetLastError(lastError);
}

extern "C" void PelloranHookWritePatch(TCodeHookBlock* block) {
  const DWORD lastError = GetLastError();
  pelloran::crashlog::hook_detail::WriteCodeBytes(block->Target, block->Patch, 5);
  SetLastError(lastError);
}

// RestoreTarget(block) and Reinstall(block): one stack argument, removed on return; eax, ecx and
// edx kept (they carry the hooked call's register arguments, then its result). Reinstall also
// keeps the x87 state, where a procedure returns a floating-point result.
asm(R"(
  .text
  .globl _PelloranHookRestoreTarget
_PelloranHookRestoreTarget:
  pushl %eax
  pushl %ecx
  pushl %edx
  pushl 16(%esp)
  call _PelloranHookWriteSaved
  addl $4, %esp
  popl %edx
  popl %ecx
  popl %eax
  ret $4

  .globl _PelloranHookReinstall
_PelloranHookReinstall:
  pushl %eax
  pushl %ecx
  pushl %edx
  subl $108, %esp
  fnsave (%esp)
  pushl 124(%esp)
  call _PelloranHookWritePatch
  addl $4, %esp
  frstor (%esp)
  addl $108, %esp
  popl %edx
  popl %ecx
  popl %eax
  ret $4
)");

extern "C" void PelloranHookRestoreTarget();
extern "C" void PelloranHookReinstall();

// libgcc's registry of frame descriptions (the DWARF unwinder of this toolchain).
extern "C" void __register_frame(void* begin);
extern "C" void __deregister_frame(void* begin);

namespace pelloran::crashlog::hook_detail {

namespace {

// One lock for every write over code or import slots. Two writers to one page would otherwise
// interleave their protection changes, and the later restore would leave the page writable. A
// critical section: recursive, safe to take in the unwinder's cleanup phase (an ordinary call on
// the throwing thread), and never destroyed, so finalization code can still unhook.
CRITICAL_SECTION& CodeWriteSection() noexcept {
  static CRITICAL_SECTION* section = [] {
    auto* created = new CRITICAL_SECTION;
    InitializeCriticalSection(created);
    return created;
  }();
  return *section;
}

}  // namespace

TCodeWriteLock::TCodeWriteLock() noexcept { EnterCriticalSection(&CodeWriteSection()); }
TCodeWriteLock::~TCodeWriteLock() { LeaveCriticalSection(&CodeWriteSection()); }

bool WriteCodeBytes(std::uintptr_t address, const void* bytes, std::size_t size) noexcept {
  TCodeWriteLock lock;
  void* at = reinterpret_cast<void*>(address);
  DWORD previous = 0;
  if (!VirtualProtect(at, size, PAGE_EXECUTE_READWRITE, &previous)) return false;
  std::memcpy(at, bytes, size);
  DWORD ignored = 0;
  VirtualProtect(at, size, previous, &ignored);
  FlushInstructionCache(GetCurrentProcess(), at, size);
  return true;
}

// ---- executable memory: pages of block-sized slots ---------------------------------------------

namespace {

constexpr std::size_t kSlotSize = 68;  // 67 bytes, kept 4-byte aligned
constexpr std::size_t kPoolSize = 64 * 1024;

struct TBlockPool {
  std::mutex Lock;
  std::vector<TCodeHookBlock*> Free;
};

TBlockPool& Pool() {
  static TBlockPool* pool = new TBlockPool;  // outlives every static destructor that may unhook
  return *pool;
}

}  // namespace

TCodeHookBlock* AllocateBlock() {
  auto& pool = Pool();
  std::lock_guard guard(pool.Lock);
  if (pool.Free.empty()) {
    auto* page = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, kPoolSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    if (!page) return nullptr;
    for (std::size_t at = kPoolSize / kSlotSize; at-- > 0;)
      pool.Free.push_back(reinterpret_cast<TCodeHookBlock*>(page + at * kSlotSize));
  }
  TCodeHookBlock* block = pool.Free.back();
  pool.Free.pop_back();
  std::memset(block, 0xCC, sizeof *block);
  return block;
}

// A released block stays allocated and is never handed out again: a thread may still be inside
// the target, called through the trampoline, and must return into intact code. Its jump becomes
// the saved bytes, so that thread's reinstall (or an exception's cleanup) writes the target's own
// bytes, which the unhook already put back.
void ReleaseBlock(TCodeHookBlock* block) noexcept {
  if (!block) return;
  TCodeWriteLock lock;
  std::memcpy(block->Patch, block->Saved, sizeof block->Patch);
}

// ---- the trampoline ------------------------------------------------------------------------------

// Offsets inside Code[] (the trampoline starts at block + 22).
enum : std::size_t {
  kAfterRestoreCall = 24,  // return address of the call to RestoreTarget
  kAfterTargetCall = 29,   // return address of the call to the target
  kAfterReinstallCall = 39,
};

void FillTrampoline(TCodeHookBlock& block) noexcept {
  std::uint8_t* c = block.Code;
  const std::uint32_t self = Address(&block);
  const std::uint32_t code = self + kTrampolineOffset;
  const std::uint32_t slot = self + offsetof(TCodeHookBlock, ReturnSlot);
  c[0] = 0x50;                                        // push eax
  c[1] = 0x8B, c[2] = 0x44, c[3] = 0x24, c[4] = 0x04;  // mov eax, [esp+4]   (the return address)
  c[5] = 0xA3, Put32(c + 6, slot);                    // mov [slot], eax
  c[10] = 0x58;                                       // pop eax
  c[11] = 0x83, c[12] = 0xC4, c[13] = 0x04;           // add esp, 4
  c[14] = 0x68, Put32(c + 15, self);                  // push block
  c[19] = 0xE8, Put32(c + 20, Address(reinterpret_cast<const void*>(&PelloranHookRestoreTarget)) - (code + kAfterRestoreCall));
  c[24] = 0xE8, Put32(c + 25, block.Target - (code + kAfterTargetCall));  // call target
  c[29] = 0x68, Put32(c + 30, self);                                      // push block
  c[34] = 0xE8, Put32(c + 35, Address(reinterpret_cast<const void*>(&PelloranHookReinstall)) - (code + kAfterReinstallCall));
  c[39] = 0xFF, c[40] = 0x25, Put32(c + 41, slot);    // jmp [slot]
  FlushInstructionCache(GetCurrentProcess(), c, sizeof block.Code);
}

// ---- unwind information ----------------------------------------------------------------------
//
// Without it the unwinder finds no frame description for the trampoline's return address and a
// C++ exception thrown by the hooked procedure ends the program (std::terminate). The description
// says: the caller's stack pointer is the trampoline's own (it already dropped the return
// address), the return address is in the block's slot, and the personality routine below writes
// the jump back over the target while the exception passes. The trampoline has no landing pad:
// nothing is caught there, and its registers need no restoring.

namespace {

extern "C" _Unwind_Reason_Code PelloranTrampolinePersonality(int version, _Unwind_Action actions,
                                                            _Unwind_Exception_Class, _Unwind_Exception*,
                                                            _Unwind_Context* context) {
  if (version != 1) return _URC_FATAL_PHASE1_ERROR;
  if (actions & _UA_CLEANUP_PHASE) {
    const std::uintptr_t returnAddress = _Unwind_GetIP(context);
    auto* block = reinterpret_cast<TCodeHookBlock*>(returnAddress - kTrampolineOffset - kAfterTargetCall);
    PelloranHookWritePatch(block);
  }
  return _URC_CONTINUE_UNWIND;
}

class TFrameWriter {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::size_t Size() const { return bytes_.size(); }
  void PatchU32(std::size_t at, std::uint32_t v) { Put32(bytes_.data() + at, v); }
  void PadTo4() {
    while (bytes_.size() % 4) U8(0);  // DW_CFA_nop
  }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

constexpr std::uint8_t kDwCfaDefCfa = 0x0C, kDwCfaExpression = 0x10, kDwCfaValExpression = 0x16;
constexpr std::uint8_t kDwOpAddr = 0x03, kDwOpLit1 = 0x31, kDwOpMinus = 0x1C;
constexpr std::uint8_t kRegEsp = 4, kRegEip = 8;

}  // namespace

void* RegisterTrampolineUnwind(TCodeHookBlock& block) {
  TFrameWriter f;
  // CIE
  f.U32(0);  // length, patched
  f.U32(0);  // CIE id
  f.U8(1);   // version
  for (char ch : std::string_view("zPR", 4)) f.U8(static_cast<std::uint8_t>(ch));
  f.U8(1);     // code alignment factor
  f.U8(0x7C);  // data alignment factor -4 (sleb128)
  f.U8(kRegEip);
  f.U8(6);     // augmentation data: personality encoding + pointer + FDE encoding
  f.U8(0x00);  // DW_EH_PE_absptr
  f.U32(Address(reinterpret_cast<const void*>(&PelloranTrampolinePersonality)));
  f.U8(0x00);  // FDE addresses: DW_EH_PE_absptr
  // The frame is named by CFA = esp + 1, the caller's esp being CFA - 1. The true CFA (esp) would
  // equal the hooked procedure's own, since the trampoline already dropped its return address,
  // and the unwinder tells frames apart by their CFA: it would take the trampoline for the frame
  // that catches. An odd value never equals a real frame's CFA.
  f.U8(kDwCfaDefCfa), f.U8(kRegEsp), f.U8(1);                               // CFA = esp + 1
  f.U8(kDwCfaValExpression), f.U8(kRegEsp), f.U8(2), f.U8(kDwOpLit1), f.U8(kDwOpMinus);  // esp = CFA - 1
  f.U8(kDwCfaExpression), f.U8(kRegEip), f.U8(5), f.U8(kDwOpAddr);          // eip saved at [slot]
  f.U32(Address(&block.ReturnSlot));
  f.PadTo4();
  f.PatchU32(0, static_cast<std::uint32_t>(f.Size() - 4));
  // FDE
  const std::size_t fde = f.Size();
  f.U32(0);                                             // length, patched
  f.U32(static_cast<std::uint32_t>(fde + 4));           // back to the CIE
  f.U32(Address(block.Code));                           // the trampoline's code
  f.U32(sizeof block.Code);
  f.U8(0);                                              // no augmentation data
  f.PadTo4();
  f.PatchU32(fde, static_cast<std::uint32_t>(f.Size() - fde - 4));
  f.U32(0);  // end of the list
  auto* frames = new std::vector<std::uint8_t>(f.Take());
  __register_frame(frames->data());
  return frames;
}

void DeregisterTrampolineUnwind(void* registration) noexcept {
  auto* frames = static_cast<std::vector<std::uint8_t>*>(registration);
  if (!frames) return;
  __deregister_frame(frames->data());
  delete frames;
}

}  // namespace pelloran::crashlog::hook_detail
