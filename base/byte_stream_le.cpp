#include "base/byte_stream_le.h"

namespace pelloran {

bool TByteReader::Take(std::size_t count, const std::uint8_t*& at) noexcept {
  if (!ok_ || count > bytes_.size() - pos_) {
    ok_ = false;
    return false;
  }
  at = bytes_.data() + pos_;
  pos_ += count;
  return true;
}

bool TByteReader::ReadU8(std::uint8_t& value) noexcept {
  const std::uint8_t* at;
  if (!Take(1, at)) return false;
  value = at[0];
  return true;
}

bool TByteReader::ReadBool(bool& value) noexcept {
  std::uint8_t byte;
  if (!ReadU8(byte)) return false;
  value = byte != 0;
  return true;
}

bool TByteReader::ReadU16(std::uint16_t& value) noexcept {
  const std::uint8_t* at;
  if (!Take(2, at)) return false;
  value = static_cast<std::uint16_t>(at[0] | (at[1] << 8));
  return true;
}

bool TByteReader::ReadU32(std::uint32_t& value) noexcept {
  const std::uint8_t* at;
  if (!Take(4, at)) return false;
  value = static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
          (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
  return true;
}

bool TByteReader::ReadI32(std::int32_t& value) noexcept {
  std::uint32_t raw;
  if (!ReadU32(raw)) return false;
  value = static_cast<std::int32_t>(raw);
  return true;
}

bool TByteReader::ReadBytes(std::size_t count, std::span<const std::uint8_t>& bytes) noexcept {
  const std::uint8_t* at;
  if (!Take(count, at)) return false;
  bytes = {at, count};
  return true;
}

bool TByteReader::ReadBytes(std::size_t count, std::vector<std::uint8_t>& bytes) {
  std::span<const std::uint8_t> view;
  if (!ReadBytes(count, view)) return false;
  bytes.assign(view.begin(), view.end());
  return true;
}

bool TByteReader::Skip(std::size_t count) noexcept {
  const std::uint8_t* at;
  return Take(count, at);
}

void TByteWriter::U16(std::uint16_t value) {
  bytes_.push_back(static_cast<std::uint8_t>(value));
  bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
}

void TByteWriter::U32(std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t PeekU32(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
  if (at > bytes.size() || bytes.size() - at < 4) return 0;
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

}  // namespace pelloran
