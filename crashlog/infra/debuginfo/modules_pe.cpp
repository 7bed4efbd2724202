#include "crashlog/infra/debuginfo/modules_pe.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/pe_headers.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/debuginfo/modules_stream.h"
#include "crashlog/infra/diagnostics/process.h"
#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

namespace {

std::uint32_t U32At(const THModuleStream& image, std::size_t offset, bool& ok) {
  auto reader = image.Reader(offset);
  std::uint32_t value = 0;
  ok = ok && reader.ReadU32(value);
  return value;
}

bool HasRcData(HMODULE module, const char* name) {
  return FindResourceA(module, name, MAKEINTRESOURCEA(10) /* RT_RCDATA */) != nullptr;
}

// Before the NT family, exports of system libraries could point at a stub: push the real
// address, then jump into the loader.
std::uintptr_t UnwrapExportStub(std::uintptr_t address) {
  if (IsNtFamily()) return address;
  std::uint8_t code[10];
  if (!ReadMemory(address, code, sizeof code) || code[0] != 0x68 || code[5] != 0xE9) return address;
  std::uint32_t pushed;
  std::memcpy(&pushed, code + 1, 4);
  return pushed;
}

}  // namespace

bool IsNtFamily() noexcept { return (GetVersion() & 0x80000000u) == 0; }

std::uint8_t ReadModuleKind(std::uintptr_t handle, const std::string& fileName) {
  const auto image = THModuleStream::OverImage(handle);
  const TPeView headers(image.Bytes());
  TPeFileHeader file;
  if (!headers.ReadFileHeader(file)) return 0;
  if (!(file.Characteristics & pe::kFileDll)) return 1;
  const ScopedGeneric<ModuleTraits> data(LoadLibraryExA(fileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (data && HasRcData(data.get(), "PACKAGEINFO") && HasRcData(data.get(), "PACKAGEOPTIONS")) return 2;
  return 3;
}

TCrashFunctionsList ReadModuleExports(std::uintptr_t handle) {
  TCrashFunctionsList functions;
  const auto image = THModuleStream::OverImage(handle);
  const TPeView headers(image.Bytes());
  TPeFileHeader file;
  TPeOptionalHeader optional;
  if (!headers.ReadFileHeader(file) || !headers.ReadOptionalHeader(optional)) return functions;
  const std::uint32_t sizeOfCode = optional.SizeOfCode;
  const std::uint32_t exportRva = optional.DataDirectories[pe::kExportDirectory].VirtualAddress;
  if (sizeOfCode == 0) return functions;
  const std::uintptr_t codeStart = handle + optional.BaseOfCode;
  const std::uintptr_t codeEnd = codeStart + sizeOfCode - 1;  // the last code byte
  if (codeEnd < codeStart || !IsReadable(codeStart, sizeOfCode)) return functions;

  // The export directory must lie inside one of the sections.
  bool inSection = false;
  for (std::uint16_t i = 0; i < file.NumberOfSections; ++i) {
    TPeSectionHeader section;
    if (!headers.ReadSectionHeader(i, section)) break;
    if (exportRva >= section.VirtualAddress && exportRva - section.VirtualAddress < section.VirtualSize)
      inSection = true;
  }
  if (!inSection) return functions;

  TPeExportDirectory directory;
  if (!headers.ReadExportDirectory(exportRva, directory) || directory.Characteristics != 0) return functions;
  const std::uint32_t count = std::min(directory.NumberOfFunctions, directory.NumberOfNames);
  const std::uint32_t namesRva = directory.AddressOfNames;
  const bool ideHost = IsIDEHost();
  const HMODULE module = reinterpret_cast<HMODULE>(handle);
  for (std::uint32_t i = 0; i < count; ++i) {
    bool nameOk = true;
    const std::uint32_t nameRva = U32At(image, std::size_t{namesRva} + 4u * i, nameOk);
    if (!nameOk) break;
    const auto rest = image.Bytes().subspan(std::min<std::size_t>(nameRva, image.Size()));
    const auto limit = rest.subspan(0, std::min<std::size_t>(rest.size(), 256));
    const auto end = std::find(limit.begin(), limit.end(), std::uint8_t{0});
    std::string name(limit.begin(), end);
    if (name.empty()) continue;
    const auto proc = reinterpret_cast<std::uintptr_t>(GetProcAddress(module, name.c_str()));
    if (proc == 0) continue;
    TCrashFunctionInfo info;
    info.Name = std::move(name);
    info.Address = static_cast<std::uint32_t>(UnwrapExportStub(proc));
    if (ideHost) {
      info.Size = 1;
    } else if (info.Address >= codeStart && info.Address <= codeEnd) {
      // Only the code range checked above is read.
      info.Size = EstimateCodeSize({reinterpret_cast<const std::uint8_t*>(info.Address), codeEnd - info.Address + 1});
    } else {
      info.Size = 1;  // data, or forwarded to another module: nothing to measure here
    }
    functions.push_back(std::move(info));
  }
  std::stable_sort(functions.begin(), functions.end(),
                   [](const TCrashFunctionInfo& a, const TCrashFunctionInfo& b) { return a.Address < b.Address; });
  return functions;
}

}  // namespace pelloran::crashlog
