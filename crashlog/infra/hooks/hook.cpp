#include "crashlog/infra/hooks/hook.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "crashlog/infra/hooks/hook_code.h"
#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/debuginfo/modules_pe.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"

namespace pelloran::crashlog {

namespace hook_detail {

std::string ProcNullMessage(std::string_view name) {
  return "Cannot hook a null procedure (\"" + std::string(name) + "\").";
}
std::string HookingErrorMessage(std::string_view name) {
  return "Cannot hook the procedure \"" + std::string(name) + "\".";
}
std::string SharedAreaMessage(std::string_view moduleFileName) {
  return "Cannot hook the module \"" + std::string(moduleFileName) + "\" located into the shared-area.";
}

}  // namespace hook_detail

namespace {

using namespace hook_detail;

struct TCodeHook {
  TCodeHookBlock* Block = nullptr;
  void* Unwind = nullptr;  // the trampoline's unwind registration
};

struct TImportHook {
  std::uintptr_t Module;
  void* Old;
  void* Replacement;
  std::vector<std::uintptr_t> Slots;  // the slots this hook wrote
};

struct THookLists {
  std::recursive_mutex Lock;
  std::vector<TCodeHook> Code;
  std::vector<TImportHook> Imports;
  int Users = 0;
};

THookLists& Lists() {
  static THookLists* lists = new THookLists;  // reachable from finalization code of any order
  return *lists;
}

// An import thunk (FF 25 [slot] followed by 8B C0, or by 90 90 as this toolchain pads it) stands
// for the procedure its slot holds.
std::uintptr_t ResolveThunk(std::uintptr_t address) {
  std::uint8_t code[8];
  if (!ReadMemory(address, code, sizeof code) || code[0] != 0xFF || code[1] != 0x25) return address;
  if (!((code[6] == 0x8B && code[7] == 0xC0) || (code[6] == 0x90 && code[7] == 0x90))) return address;
  std::uint32_t slot, destination;
  std::memcpy(&slot, code + 2, 4);
  if (!ReadMemory(slot, &destination, 4)) return address;
  return destination;
}

std::string FileOfAddress(std::uintptr_t address) {
  return ModuleFileName(reinterpret_cast<HMODULE>(AllocationBaseOf(address)));
}

}  // namespace

void* HookCode(void* target, void* replacement, std::string_view name) {
  TraceEnter("HookCode", {target, replacement, name});
  const std::uintptr_t to = ResolveThunk(reinterpret_cast<std::uintptr_t>(target));
  const std::uintptr_t by = ResolveThunk(reinterpret_cast<std::uintptr_t>(replacement));
  if (to == 0) throw EProcNull(ProcNullMessage(name));
  if (to > 0x7FFFFFFF && !IsNtFamily()) throw ESharedArea(SharedAreaMessage(FileOfAddress(to)));

  auto& lists = Lists();
  std::lock_guard guard(lists.Lock);
  TCodeHookBlock* block = AllocateBlock();
  if (!block || !ReadMemory(to, block->Saved, 5)) {
    ReleaseBlock(block);
    throw EHookingError(HookingErrorMessage(name));
  }
  block->Target = static_cast<std::uint32_t>(to);
  block->Replacement = static_cast<std::uint32_t>(by);
  block->ReturnSlot = 0;
  FillTrampoline(*block);
  block->Patch[0] = 0xE9;
  const std::uint32_t displacement = static_cast<std::uint32_t>(by - to - 5);
  std::memcpy(block->Patch + 1, &displacement, 4);
  void* unwind = nullptr;
  try {
    unwind = RegisterTrampolineUnwind(*block);
    lists.Code.push_back({block, unwind});
  } catch (...) {
    DeregisterTrampolineUnwind(unwind);
    ReleaseBlock(block);
    throw EHookingError(HookingErrorMessage(name));
  }
  if (!WriteCodeBytes(to, block->Patch, 5)) {
    lists.Code.pop_back();
    DeregisterTrampolineUnwind(unwind);
    ReleaseBlock(block);
    throw EHookingError(HookingErrorMessage(name));
  }
  TraceLeave("HookCode", {static_cast<const void*>(block->Code)});
  return block->Code;
}

TCodeHookBlock* HookBlockOf(void* trampoline) noexcept {
  return trampoline ? reinterpret_cast<TCodeHookBlock*>(static_cast<std::uint8_t*>(trampoline) - kTrampolineOffset)
                    : nullptr;
}

void UnhookCode(TCodeHookBlock* block) {
  if (!block) return;
  TraceEnter("UnhookCode", {static_cast<const void*>(block)});
  auto& lists = Lists();
  std::lock_guard guard(lists.Lock);
  const auto it = std::find_if(lists.Code.begin(), lists.Code.end(), [&](const TCodeHook& h) { return h.Block == block; });
  const bool ours = it != lists.Code.end();  // otherwise not a live block of ours: nothing to put back
  if (ours) {
    TCodeWriteLock lock;  // no trampoline writes its jump between the restore and the release
    WriteCodeBytes(block->Target, block->Saved, 5);
    DeregisterTrampolineUnwind(it->Unwind);
    lists.Code.erase(it);
    ReleaseBlock(block);
  }
  TraceLeave("UnhookCode", {ours});
}

void RestoreHook(void* trampoline) {
  TCodeHookBlock* block = HookBlockOf(trampoline);
  if (block) WriteCodeBytes(block->Target, block->Patch, 5);
}

void* HookByName(std::string_view fullName, void* replacement) {
  TraceEnter("HookByName", {fullName});
  const std::uintptr_t address = FindProcByName(fullName);
  void* trampoline = address ? HookCode(reinterpret_cast<void*>(address), replacement, fullName) : nullptr;
  TraceLeave("HookByName", {trampoline});
  return trampoline;
}

void* HookByNameOrExport(std::string_view fullName, std::string_view packageFileName, std::string_view exportName,
                         void* replacement) {
  TraceEnter("HookByNameOrExport", {fullName, packageFileName, exportName});
  void* address = reinterpret_cast<void*>(FindProcByName(fullName));
  if (!address) {
    if (HMODULE package = GetModuleHandleA(std::string(packageFileName).c_str()))
      address = reinterpret_cast<void*>(GetProcAddress(package, std::string(exportName).c_str()));
  }
  if (replacement && address) address = HookCode(address, replacement, fullName);
  TraceLeave("HookByNameOrExport", {address});
  return address;
}

void UnhookAll() {
  TraceEnter("UnhookAll");
  auto& lists = Lists();
  std::lock_guard guard(lists.Lock);
  // Newest first: a hook laid over another one saved that one's jump, not the original bytes.
  while (!lists.Code.empty()) UnhookCode(lists.Code.back().Block);
  // Each import hook puts back exactly the slots it wrote, where they still hold its replacement
  // (a slot that someone else changed since, or of a module that is gone, is left alone). Going
  // by slot rather than by value keeps two hooks that share a replacement from undoing each
  // other's slots.
  auto imports = std::move(lists.Imports);
  lists.Imports.clear();
  for (auto it = imports.rbegin(); it != imports.rend(); ++it) {
    const auto replacement = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(it->Replacement));
    const auto old = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(it->Old));
    for (std::uintptr_t slot : it->Slots) {
      std::uint32_t value;
      if (ReadMemory(slot, &value, 4) && value == replacement) WriteCodeBytes(slot, &old, 4);
    }
  }
  TraceLeave("UnhookAll");
}

void HooksStart() {
  auto& lists = Lists();
  std::lock_guard guard(lists.Lock);
  ++lists.Users;
}

void HooksEnd() {
  auto& lists = Lists();
  std::lock_guard guard(lists.Lock);
  if (lists.Users > 0 && --lists.Users == 0) UnhookAll();
}

std::size_t CodeHookCount() {
  auto& lists = Lists();
  std::lock_guard guard(lists.Lock);
  return lists.Code.size();
}

std::size_t ImportHookCount() {
  auto& lists = Lists();
  std::lock_guard guard(lists.Lock);
  return lists.Imports.size();
}

namespace hook_detail {

void RecordImportHook(std::uintptr_t module, void* old, void* replacement, std::vector<std::uintptr_t> slots) {
  auto& lists = Lists();
  std::lock_guard guard(lists.Lock);
  lists.Imports.push_back({module, old, replacement, std::move(slots)});
}

}  // namespace hook_detail

}  // namespace pelloran::crashlog
