#include "crashlog/infra/debuginfo/modules_pe.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/debuginfo/modules_stream.h"
#include "crashlog/infra/diagnostics/process.h"
#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

namespace {

constexpr std::size_t kNtHeadersSize = 248;  // signature, file header, 32-bit optional header
constexpr std::uint16_t kLibraryFlag = 0x2000;

// Offsets of the headers inside an image, after the MZ and PE signatures were checked.
struct THeaders {
  std::uint32_t Pe = 0;  // "PE\0\0"
  std::uint32_t FileHeader() const { return Pe + 4; }
  std::uint32_t Optional() const { return Pe + 24; }
};

bool FindHeaders(const THModuleStream& image, THeaders& headers) {
  auto reader = image.Reader();
  std::uint16_t mz = 0;
  std::uint32_t pe = 0, signature = 0;
  if (!reader.ReadU16(mz) || mz != 0x5A4D) return false;
  reader = image.Reader(60);
  if (!reader.ReadU32(pe)) return false;
  reader = image.Reader(pe);
  if (!reader.ReadU32(signature) || signature != 0x00004550) return false;
  headers.Pe = pe;
  return true;
}

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
  THeaders headers;
  if (!FindHeaders(image, headers)) return 0;
  auto reader = image.Reader(headers.FileHeader() + 18);
  std::uint16_t characteristics = 0;
  if (!reader.ReadU16(characteristics)) return 0;
  if (!(characteristics & kLibraryFlag)) return 1;
  const ScopedGeneric<ModuleTraits> data(LoadLibraryExA(fileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (data && HasRcData(data.get(), "PACKAGEINFO") && HasRcData(data.get(), "PACKAGEOPTIONS")) return 2;
  return 3;
}

TCrashFunctionsList ReadModuleExports(std::uintptr_t handle) {
  TCrashFunctionsList functions;
  const auto image = THModuleStream::OverImage(handle);
  THeaders headers;
  if (!FindHeaders(image, headers) || image.Size() < headers.Pe + kNtHeadersSize) return functions;
  bool ok = true;
  const std::uint32_t sizeOfCode = U32At(image, headers.Optional() + 4, ok);
  const std::uint32_t baseOfCode = U32At(image, headers.Optional() + 20, ok);
  const std::uint32_t exportRva = U32At(image, headers.Optional() + 96, ok);
  if (!ok || sizeOfCode == 0) return functions;
  const std::uintptr_t codeStart = handle + baseOfCode;
  const std::uintptr_t codeEnd = codeStart + sizeOfCode - 1;  // the last code byte
  if (codeEnd < codeStart || !IsReadable(codeStart, sizeOfCode)) return functions;

  // The export directory must lie inside one of the sections.
  auto header = image.Reader(headers.FileHeader() + 2);
  std::uint16_t sectionCount = 0, optionalSize = 0;
  header.ReadU16(sectionCount);
  header = image.Reader(headers.FileHeader() + 16);
  header.ReadU16(optionalSize);
  bool inSection = false;
  for (std::uint16_t i = 0; i < sectionCount && header.Ok(); ++i) {
    const std::size_t at = headers.Optional() + optionalSize + 40u * i;
    bool sectionOk = true;
    const std::uint32_t virtualSize = U32At(image, at + 8, sectionOk);
    const std::uint32_t virtualAddress = U32At(image, at + 12, sectionOk);
    if (!sectionOk) break;
    if (exportRva >= virtualAddress && exportRva - virtualAddress < virtualSize) inSection = true;
  }
  if (!inSection) return functions;

  auto directory = image.Reader(exportRva);
  std::uint32_t fields[10] = {};
  for (auto& field : fields) directory.ReadU32(field);
  if (!directory.Ok() || fields[0] != 0) return functions;  // Characteristics must be 0
  const std::uint32_t count = std::min(fields[5], fields[6]);  // functions, names
  const std::uint32_t namesRva = fields[8];
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
