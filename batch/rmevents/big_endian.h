#pragma once
// Big-endian reads and writes over byte buffers. Every number in a RealMedia file is big-endian.
// The reader never reads past its end: a short read returns zeros and clears a sticky flag that
// the caller tests once after a group of fields.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pelloran::rmevents {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t U8() { return Has(1) ? data_[pos_++] : uint8_t{0}; }
  uint16_t U16() {
    if (!Has(2)) return 0;
    uint16_t v = static_cast<uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    if (!Has(4)) return 0;
    uint32_t v = uint32_t{data_[pos_]} << 24 | uint32_t{data_[pos_ + 1]} << 16 |
                 uint32_t{data_[pos_ + 2]} << 8 | uint32_t{data_[pos_ + 3]};
    pos_ += 4;
    return v;
  }
  std::string Text(size_t n) {
    if (!Has(n)) return {};
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  void Skip(size_t n) {
    if (Has(n)) pos_ += n;
  }

  bool Ok() const { return ok_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }

 private:
  bool Has(size_t n) {
    if (ok_ && n <= size_ - pos_) return true;
    ok_ = false;
    pos_ = size_;
    return false;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Appends big-endian numbers and byte strings to a buffer.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    out_.push_back(static_cast<uint8_t>(v >> 8));
    out_.push_back(static_cast<uint8_t>(v));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v >> 16));
    U16(static_cast<uint16_t>(v));
  }
  void Bytes(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
  }
  void Text(const std::string& s) { Bytes(s.data(), s.size()); }

 private:
  std::vector<uint8_t>& out_;
};

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
// One store of four bytes: byte by byte, each store could change any object, and the compiler
// reloads everything around it (a logical header can hold 65,535 offsets).
inline void StoreU32(uint8_t* p, uint32_t v) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  std::memcpy(p, bytes, sizeof bytes);
}

}  // namespace pelloran::rmevents
