#pragma once
// Little-endian byte reading and writing: the crash reporter's stored formats, its channel
// payloads and the module images it reads. Pure code: no platform headers, so the build tool and
// the fuzz targets on the build machine link the same bytes logic.
//
// The reader never reads past its buffer. A read that does not fit clears the sticky Ok flag,
// returns false and leaves its output untouched; every later read fails as well, so a caller can
// read a whole record and check once, while fields after the damage keep their old values.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran {

class TByteReader {
 public:
  TByteReader() = default;
  explicit TByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  // The reader only views its bytes: a temporary buffer would be gone before the first read.
  explicit TByteReader(std::vector<std::uint8_t>&&) = delete;

  bool Ok() const noexcept { return ok_; }
  std::size_t Position() const noexcept { return pos_; }
  std::size_t Size() const noexcept { return bytes_.size(); }
  std::size_t Remaining() const noexcept { return ok_ ? bytes_.size() - pos_ : 0; }
  std::span<const std::uint8_t> Rest() const noexcept { return bytes_.subspan(ok_ ? pos_ : bytes_.size()); }

  bool ReadU8(std::uint8_t& value) noexcept;
  bool ReadBool(bool& value) noexcept;  // one byte, not zero means true
  bool ReadU16(std::uint16_t& value) noexcept;
  bool ReadU32(std::uint32_t& value) noexcept;
  bool ReadI32(std::int32_t& value) noexcept;
  bool ReadBytes(std::size_t count, std::span<const std::uint8_t>& bytes) noexcept;
  bool ReadBytes(std::size_t count, std::vector<std::uint8_t>& bytes);
  bool Skip(std::size_t count) noexcept;

 private:
  bool Take(std::size_t count, const std::uint8_t*& at) noexcept;

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// The little-endian 32-bit value at `at`, or 0 when four bytes do not fit there: for fixed
// layouts (a saved register context, a stack dump) read by offset.
std::uint32_t PeekU32(std::span<const std::uint8_t> bytes, std::size_t at) noexcept;

class TByteWriter {
 public:
  void U8(std::uint8_t value) { bytes_.push_back(value); }
  void Bool(bool value) { bytes_.push_back(value ? 1 : 0); }
  void U16(std::uint16_t value);
  void U32(std::uint32_t value);
  void I32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
  void Bytes(std::span<const std::uint8_t> bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
  void Bytes(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }

  const std::vector<std::uint8_t>& Data() const noexcept { return bytes_; }
  std::vector<std::uint8_t> Take() noexcept { return std::move(bytes_); }
  std::size_t Size() const noexcept { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace pelloran
