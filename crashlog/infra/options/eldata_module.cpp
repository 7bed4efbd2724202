#include "crashlog/infra/options/eldata_module.h"

#include <windows.h>

#include <new>

#include "crashlog/infra/options/options.h"
#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

namespace {

ScopedFileHandle OpenForReading(const std::string& fileName) {
  return ScopedFileHandle(CreateFileA(fileName.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadAt(HANDLE file, std::uint64_t offset, std::span<std::uint8_t> into) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  std::size_t done = 0;
  while (done < into.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(into.size() - done, 1u << 20));
    if (!ReadFile(file, into.data() + done, want, &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

std::optional<std::uint64_t> FileSize(HANDLE file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

// The last `count` bytes of the file.
std::optional<std::vector<std::uint8_t>> ReadFileEnd(HANDLE file, std::uint64_t fileSize, std::size_t count) {
  if (count > fileSize) return std::nullopt;
  std::vector<std::uint8_t> bytes(count);
  if (!ReadAt(file, fileSize - count, bytes)) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<std::span<const std::uint8_t>> FindEldataResource(const void* module) {
  const HMODULE handle = static_cast<HMODULE>(const_cast<void*>(module));
  const HRSRC info = FindResourceA(handle, "ELDATA", MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (info == nullptr) return std::nullopt;
  const DWORD size = SizeofResource(handle, info);
  const HGLOBAL block = LoadResource(handle, info);
  const void* bytes = block == nullptr ? nullptr : LockResource(block);
  if (bytes == nullptr) return std::nullopt;
  return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), size);
}

bool HasEldataResource(const void* module) {
  const auto resource = FindEldataResource(module);
  return resource && HasEldataMagic(*resource);
}

bool HasEldataFileTail(const std::string& fileName) {
  ScopedFileHandle file = OpenForReading(fileName);
  if (!file) return false;
  const auto size = FileSize(file.get());
  if (!size) return false;
  const auto end = ReadFileEnd(file.get(), *size, 4);
  return end && HasEldataTailMagic(*end);
}

std::optional<TEldataContents> ReadEldataFileTail(const std::string& fileName) {
  ScopedFileHandle file = OpenForReading(fileName);
  if (!file) return std::nullopt;
  const auto size = FileSize(file.get());
  if (!size) return std::nullopt;
  const auto trailer = ReadFileEnd(file.get(), *size, kEldataTailTrailerSize);
  if (!trailer) return std::nullopt;
  const auto length = EldataTailLength(*trailer);
  // A damaged length word must not make us read (or allocate) more than the file holds.
  if (!length || *length > *size - kEldataTailTrailerSize || *length > kMaxEldataBodySize) return std::nullopt;
  const auto end = ReadFileEnd(file.get(), *size, *length + kEldataTailTrailerSize);
  if (!end) return std::nullopt;
  return ReadEldataTail(*end);
}

TModuleEldata LoadEldataContents(const TEldataContents& contents, TCrashModuleOptions& options) {
  TModuleEldata loaded;
  loaded.DataVersion = contents.DataVersion;
  loaded.BuildTime = contents.BuildTime;
  options.LoadFromStream([&](TCrashOptionValues& values) {
    return ReadEldataBody(contents.Body, contents.DataVersion, values, loaded.DebugData);
  });
  return loaded;
}

std::optional<TModuleEldata> LoadModuleEldata(const void* module, const std::string& fileName,
                                              TCrashModuleOptions& options) {
  std::optional<TEldataContents> contents;
  try {
    const auto resource = FindEldataResource(module);
    if (resource && HasEldataMagic(*resource))
      contents = ReadEldataContainer(*resource);
    else if (!fileName.empty())
      contents = ReadEldataFileTail(fileName);
  } catch (const std::bad_alloc&) {
    // A damaged length or body can ask for more memory than the process has left: such a
    // container is as unusable as one with a bad header.
    return std::nullopt;
  }
  if (!contents) return std::nullopt;
  return LoadEldataContents(*contents, options);
}

}  // namespace pelloran::crashlog
