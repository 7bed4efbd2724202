// Import-slot hooks: the slots of a module's import address table that its code jumps or calls
// through.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/pe_headers.h"
#include "crashlog/infra/hooks/hook.h"
#include "crashlog/infra/hooks/hook_code.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/debuginfo/modules_pe.h"
#include "crashlog/infra/debuginfo/modules_stream.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"

namespace pelloran::crashlog {

namespace {

using namespace hook_detail;

struct TRange {
  std::uintptr_t Begin, End;  // [Begin, End)
};

std::uint32_t ReadU32(std::uintptr_t address, bool& ok) {
  std::uint32_t value = 0;
  ok = ok && ReadMemory(address, &value, 4);
  return value;
}

struct TImportLayout {
  std::uintptr_t CodeStart = 0;
  std::uint32_t CodeSize = 0;
  std::vector<TRange> Slots;  // where import slots may lie
};

// The module's code range and its import address tables: the one the IAT directory names, and
// every FirstThunk array of the import directory. Slots outside them are not import slots, so a
// byte pattern that only looks like a jump through a pointer never gets data overwritten.
bool ReadImportLayout(std::uintptr_t module, TImportLayout& layout) {
  const auto image = THModuleStream::OverImage(module);
  const TPeView headers(image.Bytes());
  TPeOptionalHeader optional;
  if (!headers.ReadOptionalHeader(optional)) return false;
  layout.CodeSize = optional.SizeOfCode;
  layout.CodeStart = module + optional.BaseOfCode;
  const std::uint32_t sizeOfImage = optional.SizeOfImage;
  const std::uint32_t importRva = optional.DataDirectories[pe::kImportDirectory].VirtualAddress;
  const TPeDataDirectory iat = optional.DataDirectories[pe::kImportAddressTableDirectory];
  if (iat.VirtualAddress && iat.Size && iat.VirtualAddress < sizeOfImage)
    layout.Slots.push_back({module + iat.VirtualAddress, module + iat.VirtualAddress + iat.Size});
  if (importRva) {
    for (std::size_t at = importRva;; at += pe::kImportDescriptorSize) {
      TPeImportDescriptor descriptor;
      if (!headers.ReadImportDescriptor(at, descriptor) || descriptor.Name == 0 || descriptor.FirstThunk == 0 ||
          descriptor.FirstThunk >= sizeOfImage)
        break;
      std::uintptr_t end = module + descriptor.FirstThunk;
      for (bool slotOk = true; ReadU32(end, slotOk) != 0 && slotOk && end - module < sizeOfImage;) end += 4;
      layout.Slots.push_back({module + descriptor.FirstThunk, end});
    }
  }
  return true;
}

bool IsImportSlot(const TImportLayout& layout, std::uintptr_t slot) {
  return std::any_of(layout.Slots.begin(), layout.Slots.end(),
                     [&](const TRange& r) { return slot >= r.Begin && slot + 4 <= r.End; });
}

// Writes `replacement` into every import slot holding `old` that the code jumps (FF 25) or calls
// (FF 15) through. Returns the slots written.
std::vector<std::uintptr_t> PatchImportSlots(std::uintptr_t module, void* old, void* replacement) {
  std::vector<std::uintptr_t> patched;
  TImportLayout layout;
  if (!ReadImportLayout(module, layout) || !IsReadable(layout.CodeStart, 1)) return patched;
  const std::size_t readable = ReadableExtent(layout.CodeStart, layout.CodeSize);
  const auto* code = reinterpret_cast<const std::uint8_t*>(layout.CodeStart);
  const auto oldValue = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(old));
  const auto newValue = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(replacement));
  for (std::size_t i = 0; i + 6 <= readable; ++i) {
    if (code[i] != 0xFF || (code[i + 1] != 0x25 && code[i + 1] != 0x15)) continue;
    std::uint32_t slot;
    std::memcpy(&slot, code + i + 2, 4);
    std::uint32_t value;
    if (!IsImportSlot(layout, slot) || !ReadMemory(slot, &value, 4) || value != oldValue) continue;
    if (WriteCodeBytes(slot, &newValue, 4)) patched.push_back(slot);
  }
  return patched;
}

}  // namespace

void* HookImport(std::uintptr_t module, void* old, void* replacement, bool noRecord, bool ignoreFailure,
                 std::string_view name) {
  TraceEnter("HookImport", {reinterpret_cast<const void*>(module), old, replacement, name});
  if (!old) throw EProcNull(ProcNullMessage(name));
  if (module > 0x7FFFFFFF && !IsNtFamily())
    throw ESharedArea(SharedAreaMessage(ModuleFileName(reinterpret_cast<HMODULE>(module))));
  auto slots = PatchImportSlots(module, old, replacement);
  const int patched = static_cast<int>(slots.size());
  if (patched > 0 && !noRecord) RecordImportHook(module, old, replacement, std::move(slots));
  if (patched == 0 && !ignoreFailure) throw EHookingError(HookingErrorMessage(name));
  TraceLeave("HookImport", {patched});
  return patched > 0 ? old : nullptr;
}

bool HookImportByName(const std::vector<std::string>& moduleFileNames, std::string_view libraryName,
                      bool ignoreFailure, void*& old, void* replacement, std::string_view procName) {
  TraceEnter("HookImportByName", {libraryName, procName});
  const std::string library(libraryName);
  const HMODULE handle = GetModuleHandleA(library.c_str());
  old = handle ? reinterpret_cast<void*>(GetProcAddress(handle, std::string(procName).c_str())) : nullptr;
  const std::string name = library + "." + std::string(procName);
  // A library that is not loaded has nothing to redirect: no failure when none may be raised.
  if (!old && ignoreFailure) {
    TraceLeave("HookImportByName", {false});
    return false;
  }
  bool any = false;
  for (const auto& fileName : moduleFileNames) {
    const HMODULE module = GetModuleHandleA(fileName.c_str());
    if (!module) continue;
    if (HookImport(reinterpret_cast<std::uintptr_t>(module), old, replacement, false, ignoreFailure, name)) any = true;
  }
  TraceLeave("HookImportByName", {any});
  return any;
}

}  // namespace pelloran::crashlog
