#include "crashlog/infra/debuginfo/modules_stream.h"

#include "base/pe_headers.h"
#include "crashlog/infra/debuginfo/modules_memory.h"

namespace pelloran::crashlog {

THModuleStream THModuleStream::OverImage(std::uintptr_t module) noexcept {
  // The image's size is in its headers: read the few fields on the way there one by one, before
  // the extent of the view is known.
  std::uint16_t mz = 0;
  std::uint32_t peOffset = 0, signature = 0, sizeOfImage = 0;
  if (!ReadMemory(module, &mz, 2) || mz != pe::kDosSignature ||
      !ReadMemory(module + pe::kLfanewOffset, &peOffset, 4) || peOffset > 0x10000000 ||
      !ReadMemory(module + peOffset, &signature, 4) || signature != pe::kNtSignature ||
      !ReadMemory(module + peOffset + pe::kOptionalHeaderOffset + pe::kSizeOfImageOffset, &sizeOfImage, 4))
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
