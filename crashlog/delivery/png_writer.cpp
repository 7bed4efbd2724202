#include "crashlog/delivery/png_writer.h"

#include "base/exceptions.h"

#include <zlib.h>

#include <array>
#include <memory>
#include <string>

namespace pelloran::crashlog {

namespace {

// Built on first use, kept for the life of the process (one thread captures at a time).
const std::array<std::uint32_t, 256>& CrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

void PutBigEndian(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

// One zlib stream of rows, written out as IDAT chunks whenever the output buffer is full.
class TIdatWriter {
 public:
  explicit TIdatWriter(TPngSink& stream) : stream_(stream), buffer_(new std::uint8_t[kPngOutputBufferSize]) {
    if (deflateInit(&z_, 9) != Z_OK) throw Exception("The screenshot cannot be compressed (deflateInit).");
    ResetOutput();
  }
  ~TIdatWriter() { deflateEnd(&z_); }
  TIdatWriter(const TIdatWriter&) = delete;
  TIdatWriter& operator=(const TIdatWriter&) = delete;

  void Feed(const std::uint8_t* data, std::size_t length) {
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(length);
    while (z_.avail_in != 0) {
      if (deflate(&z_, Z_NO_FLUSH) == Z_STREAM_ERROR) throw Exception("The screenshot cannot be compressed.");
      if (z_.avail_out == 0) FlushFullBuffer();
    }
  }

  void Finish() {
    for (;;) {
      const int status = deflate(&z_, Z_FINISH);
      if (status == Z_STREAM_ERROR) throw Exception("The screenshot cannot be compressed.");
      if (z_.avail_out == 0) FlushFullBuffer();
      if (status == Z_STREAM_END) break;
    }
    const std::size_t pending = kPngOutputBufferSize - z_.avail_out;
    if (pending != 0) WritePngChunk(stream_, "IDAT", buffer_.get(), static_cast<std::uint32_t>(pending));
  }

 private:
  void ResetOutput() {
    z_.next_out = buffer_.get();
    z_.avail_out = static_cast<uInt>(kPngOutputBufferSize);
  }
  void FlushFullBuffer() {
    WritePngChunk(stream_, "IDAT", buffer_.get(), static_cast<std::uint32_t>(kPngOutputBufferSize));
    ResetOutput();
  }

  TPngSink& stream_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  z_stream z_{};
};

}  // namespace

std::uint32_t PngCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  const auto& table = CrcTable();
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

void WritePngChunk(TPngSink& stream, std::string_view type, const std::uint8_t* data, std::uint32_t length) {
  std::uint8_t head[8];
  PutBigEndian(head, length);
  for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<std::uint8_t>(i < static_cast<int>(type.size()) ? type[i] : ' ');
  stream.Write(head, sizeof head);
  if (length != 0) stream.Write(data, length);
  std::uint32_t crc = PngCrc(0xFFFFFFFFu, head + 4, 4);
  if (length != 0) crc = PngCrc(crc, data, length);
  std::uint8_t tail[4];
  PutBigEndian(tail, ~crc);
  stream.Write(tail, sizeof tail);
}

void WritePalettePng(TPngSink& stream, const TPaletteBitmap& bitmap) {
  static constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  stream.Write(kSignature, sizeof kSignature);

  std::uint8_t header[13];
  PutBigEndian(header, bitmap.Width);
  PutBigEndian(header + 4, bitmap.Height);
  header[8] = 8;   // bit depth
  header[9] = 3;   // colour type: palette
  header[10] = 0;  // compression
  header[11] = 0;  // filter method
  header[12] = 0;  // no interlace
  WritePngChunk(stream, "IHDR", header, sizeof header);

  std::uint8_t palette[256 * 3];
  for (int i = 0; i < 256; ++i) {  // the colour table holds blue, green, red, reserved
    palette[i * 3] = bitmap.ColorTable[i * 4 + 2];
    palette[i * 3 + 1] = bitmap.ColorTable[i * 4 + 1];
    palette[i * 3 + 2] = bitmap.ColorTable[i * 4];
  }
  WritePngChunk(stream, "PLTE", palette, sizeof palette);

  {
    TIdatWriter idat(stream);
    static constexpr std::uint8_t kFilterNone = 0;
    for (std::uint32_t row = bitmap.Height; row-- > 0;) {  // bottom-up: the top row is stored last
      idat.Feed(&kFilterNone, 1);
      idat.Feed(bitmap.Pixels + row * bitmap.Stride, bitmap.Width);
    }
    idat.Finish();
  }
  WritePngChunk(stream, "IEND", nullptr, 0);
}

}  // namespace pelloran::crashlog
