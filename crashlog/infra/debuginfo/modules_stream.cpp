#include "crashlog/infra/debuginfo/modules_stream.h"

#include "crashlog/infra/debuginfo/modules_memory.h"

namespace pelloran::crashlog {

THModuleStream THModuleStream::OverImage(std::uintptr_t module) noexcept {
  // e_lfanew at 60, "PE\0\0", the file header (20 bytes), SizeOfImage at 56 of the optional header.
  std::uint16_t mz = 0;
  std::uint32_t peOffset = 0, signature = 0, sizeOfImage = 0;
  if (!ReadMemory(module, &mz, 2) || mz != 0x5A4D || !ReadMemory(module + 60, &peOffset, 4) || peOffset > 0x10000000 ||
      !ReadMemory(module + peOffset, &signature, 4) || signature != 0x00004550 ||
      !ReadMemory(module + peOffset + 24 + 56, &sizeOfImage, 4))
    return {};
  // Bounded by the image, and by the first page that cannot be read.
  return THModuleStream(reinterpret_cast<const void*>(module), ReadableExtent(module, sizeOfImage));
}

TByteReader THModuleStream::Reader(std::size_t position) const noexcept {
  TByteReader reader(bytes_);
  if (position > 0) reader.Skip(position);
  return reader;
}

}  // namespace pelloran::crashlog
