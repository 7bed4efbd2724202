#pragma once
// THModuleStream: a read-only view of a memory block that is already there (a loaded module
// image, a resource block). It never copies; reads go through a bounds-checked TByteReader.

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/byte_stream_le.h"

namespace pelloran::crashlog {

class THModuleStream {
 public:
  THModuleStream() = default;
  // A block of known size (a resource).
  THModuleStream(const void* block, std::size_t size)
      : bytes_(static_cast<const std::uint8_t*>(block), block ? size : 0) {}
  // A loaded module image, bounded by the image size its headers give; empty when the headers
  // are not readable or not a PE image's.
  static THModuleStream OverImage(std::uintptr_t module) noexcept;

  std::span<const std::uint8_t> Bytes() const noexcept { return bytes_; }
  std::size_t Size() const noexcept { return bytes_.size(); }
  // A reader positioned at `position` (a position past the end gives a failed reader).
  TByteReader Reader(std::size_t position = 0) const noexcept;

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace pelloran::crashlog
