#include "batch/rmevents/byte_stream.h"

#include <algorithm>
#include <cstring>

#include "batch/rmevents/rm_format.h"

namespace pelloran::rmevents {

size_t MemoryInput::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (offset >= bytes_.size()) return 0;
  size_t count = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - offset));
  std::memcpy(buffer, bytes_.data() + offset, count);
  return count;
}

void MemoryOutput::Write(const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  bytes.insert(bytes.end(), p, p + n);
}

void MemoryOutput::WriteAt(uint64_t offset, const void* data, size_t n) {
  PELLORAN_ASSERT(offset <= bytes.size() && n <= bytes.size() - offset, "patch past the end");
  std::memcpy(bytes.data() + offset, data, n);
}

BufferedReader::BufferedReader(InputFile& file, size_t bufferSize)
    : file_(file),
      size_(file.Size()),
      // No larger than the file, no smaller than the largest Peek.
      buffer_(static_cast<size_t>(
          std::clamp<uint64_t>(size_, 64, std::max<size_t>(bufferSize, 64)))) {}

void BufferedReader::Seek(uint64_t position) { position_ = position; }

void BufferedReader::Fill(size_t atLeast) {
  uint64_t end = bufferStart_ + bufferLength_;
  if (position_ >= bufferStart_ && position_ + atLeast <= end) return;
  if (position_ + atLeast > size_) {
    throw ERealMediaError("the input file ended early (at byte " + std::to_string(size_) +
                          "); was it changed while being read?");
  }
  size_t keep = 0;
  if (position_ >= bufferStart_ && position_ < end) {
    // Keep the unread tail so that a small read across the buffer's end stays contiguous.
    keep = static_cast<size_t>(end - position_);
    std::memmove(buffer_.data(), buffer_.data() + (position_ - bufferStart_), keep);
  }
  bufferStart_ = position_;
  bufferLength_ = keep;
  size_t want = static_cast<size_t>(
      std::min<uint64_t>(buffer_.size() - keep, size_ - (position_ + keep)));
  while (want > 0) {
    size_t got = file_.ReadAt(bufferStart_ + bufferLength_, buffer_.data() + bufferLength_, want);
    if (got == 0) break;
    bufferLength_ += got;
    want -= got;
  }
  if (bufferLength_ < atLeast) {
    throw ERealMediaError("the input file could not be read to its end; was it changed while "
                          "being read?");
  }
}

void BufferedReader::Read(void* out, size_t n) {
  uint8_t* dst = static_cast<uint8_t*>(out);
  while (n > 0) {
    size_t step = std::min(n, buffer_.size());
    std::memcpy(dst, Peek(step), step);
    position_ += step;
    dst += step;
    n -= step;
  }
}

void BufferedReader::AppendTo(std::vector<uint8_t>& out, size_t n) {
  out.reserve(out.size() + n);
  while (n > 0) {
    size_t step = std::min(n, buffer_.size());
    const uint8_t* p = Peek(step);
    out.insert(out.end(), p, p + step);
    position_ += step;
    n -= step;
  }
}

void BufferedReader::CopyTo(BufferedWriter& out, uint64_t n) {
  while (n > 0) {
    size_t step = static_cast<size_t>(std::min<uint64_t>(n, buffer_.size()));
    // Take what the buffer already holds before refilling it.
    uint64_t end = bufferStart_ + bufferLength_;
    if (position_ >= bufferStart_ && position_ < end)
      step = static_cast<size_t>(std::min<uint64_t>(step, end - position_));
    out.Write(Peek(step), step);
    position_ += step;
    n -= step;
  }
}

BufferedWriter::BufferedWriter(OutputFile& file, size_t bufferSize)
    : file_(file), buffer_(std::max<size_t>(bufferSize, 64)) {}

void BufferedWriter::WriteThrough(const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  written_ += n;
  if (used_ + n > buffer_.size()) {
    Flush();
    if (n >= buffer_.size()) {
      file_.Write(p, n);
      return;
    }
  }
  std::memcpy(buffer_.data() + used_, p, n);
  used_ += n;
}

void BufferedWriter::PatchThrough(uint64_t offset, const void* data, size_t n) {
  PELLORAN_ASSERT(offset <= written_ && n <= written_ - offset, "patch past the end");
  const uint8_t* p = static_cast<const uint8_t*>(data);
  const uint64_t buffered = written_ - used_;  // file offset of buffer_[0]
  if (offset < buffered) {
    size_t inFile = static_cast<size_t>(std::min<uint64_t>(n, buffered - offset));
    file_.WriteAt(offset, p, inFile);
    offset += inFile;
    p += inFile;
    n -= inFile;
  }
  if (n > 0) std::memcpy(buffer_.data() + (offset - buffered), p, n);
}

void BufferedWriter::Flush() {
  if (used_ == 0) return;
  file_.Write(buffer_.data(), used_);
  used_ = 0;
}

}  // namespace pelloran::rmevents
