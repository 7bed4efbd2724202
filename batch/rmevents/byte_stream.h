#pragma once
// The cleaner's view of files: a random-access input and an output that grows by appending and
// is patched in place at the end, with a buffered reader and writer on top. Platform files
// (Windows handles) and memory buffers (tests, fuzzing) implement the two small interfaces;
// nothing here knows which.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace pelloran::rmevents {

class InputFile {
 public:
  virtual ~InputFile() = default;
  virtual uint64_t Size() const = 0;
  // Reads up to n bytes at offset; returns how many were read (fewer only at the end of the
  // file). Raises EInOutError when the system fails.
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Appends all n bytes or raises EInOutError.
  virtual void Write(const void* data, size_t n) = 0;
  // Overwrites n bytes at offset, inside what was written already, or raises EInOutError.
  virtual void WriteAt(uint64_t offset, const void* data, size_t n) = 0;
};

class MemoryInput : public InputFile {
 public:
  explicit MemoryInput(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  std::vector<uint8_t> bytes_;
};

class MemoryOutput : public OutputFile {
 public:
  void Write(const void* data, size_t n) override;
  void WriteAt(uint64_t offset, const void* data, size_t n) override;
  std::vector<uint8_t> bytes;
};

class BufferedWriter;

// A buffer left uninitialised: clearing a megabyte for each file costs more than cleaning a small
// one.
class ByteBuffer {
 public:
  explicit ByteBuffer(size_t size) : data_(new uint8_t[size]), size_(size) {}
  uint8_t* data() { return data_.get(); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_;
};

// Sequential reads with seeks. A read that the file cannot satisfy raises ERealMediaError: the
// scanner checks every extent against the file size first, so this only happens when the
// file shrinks under the tool.
class BufferedReader {
 public:
  explicit BufferedReader(InputFile& file, size_t bufferSize = size_t{1} << 20);

  uint64_t Size() const { return size_; }
  uint64_t Position() const { return position_; }
  void Seek(uint64_t position);
  void Read(void* out, size_t n);
  // Read onto the end of `out`, which is not cleared first.
  void AppendTo(std::vector<uint8_t>& out, size_t n);
  // Makes n bytes (at most 64) readable at once without consuming them.
  const uint8_t* Peek(size_t n) {
    // Most peeks fall inside the buffer: a header of a few bytes after the last one.
    if (position_ < bufferStart_ || position_ + n > bufferStart_ + bufferLength_) Fill(n);
    return buffer_.data() + (position_ - bufferStart_);
  }
  void Skip(uint64_t n) { Seek(position_ + n); }
  void CopyTo(BufferedWriter& out, uint64_t n);

 private:
  void Fill(size_t atLeast);

  InputFile& file_;
  uint64_t size_;
  ByteBuffer buffer_;
  uint64_t bufferStart_ = 0;  // file offset of buffer_[0]
  size_t bufferLength_ = 0;
  uint64_t position_ = 0;
};

// Collects small writes into large ones, so the output grows in steps of the buffer size.
class BufferedWriter {
 public:
  explicit BufferedWriter(OutputFile& file, size_t bufferSize = size_t{1} << 20);
  void Write(const void* data, size_t n) {
    // A file of many small chunks writes a few bytes at a time: those stay inline.
    if (n > buffer_.size() - used_) return WriteThrough(data, n);
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
    written_ += n;
  }
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
  // Rewrites bytes already written (a header whose numbers are known only at the end): in the
  // buffer while they are still there, in the file once flushed. The size does not change.
  void Patch(uint64_t offset, const void* data, size_t n) {
    const uint64_t buffered = written_ - used_;  // file offset of buffer_[0]
    if (offset < buffered || offset > written_ || n > written_ - offset)
      return PatchThrough(offset, data, n);
    std::memcpy(buffer_.data() + (offset - buffered), data, n);
  }
  void Flush();
  uint64_t Written() const { return written_; }

 private:
  void WriteThrough(const void* data, size_t n);
  void PatchThrough(uint64_t offset, const void* data, size_t n);

  OutputFile& file_;
  ByteBuffer buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;
};

}  // namespace pelloran::rmevents
