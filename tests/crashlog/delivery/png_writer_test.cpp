// The PNG writer checked by an independent reader: the test walks the chunks itself, checks each
// CRC with zlib's crc32 and inflates the IDAT data with zlib.

#include "crashlog/delivery/png_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace pelloran::crashlog {
namespace {

class MemorySink : public TPngSink {
 public:
  void Write(const void* data, std::size_t length) override {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    Bytes.insert(Bytes.end(), bytes, bytes + length);
  }
  std::vector<std::uint8_t> Bytes;
};

struct Chunk {
  std::string Type;
  std::vector<std::uint8_t> Data;
  std::uint32_t Crc;
};

std::uint32_t BigEndian(const std::uint8_t* at) {
  return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
}

std::vector<Chunk> ReadChunks(const std::vector<std::uint8_t>& file) {
  static const std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  EXPECT_GE(file.size(), 8u);
  EXPECT_EQ(std::memcmp(file.data(), kSignature, 8), 0);
  std::vector<Chunk> chunks;
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    const std::uint32_t length = BigEndian(&file[at]);
    EXPECT_LE(at + 12 + length, file.size());
    Chunk chunk;
    chunk.Type.assign(reinterpret_cast<const char*>(&file[at + 4]), 4);
    chunk.Data.assign(file.begin() + at + 8, file.begin() + at + 8 + length);
    chunk.Crc = BigEndian(&file[at + 8 + length]);
    // The CRC covers type and data, never the length.
    EXPECT_EQ(chunk.Crc, crc32(0, &file[at + 4], 4 + length)) << chunk.Type;
    chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  EXPECT_EQ(at, file.size());
  return chunks;
}

std::vector<std::uint8_t> Inflate(const std::vector<std::uint8_t>& deflated, std::size_t expectedSize) {
  std::vector<std::uint8_t> out(expectedSize + 16);
  uLongf size = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(out.data(), &size, deflated.data(), static_cast<uLong>(deflated.size())), Z_OK);
  out.resize(size);
  return out;
}

struct Picture {
  std::uint32_t Width, Height;
  std::vector<std::uint8_t> Pixels;  // bottom-up, padded rows
  std::vector<std::uint8_t> Colors;  // 256 x blue, green, red, reserved
  TPaletteBitmap Bitmap() const {
    return TPaletteBitmap{Width, Height, DibRowStride(Width), Pixels.data(), Colors.data()};
  }
};

Picture MakePicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
  Picture p{width, height, {}, {}};
  const std::size_t stride = (width + 3) / 4 * 4;
  p.Pixels.assign(stride * height, 0xEE);  // the fill bytes must never reach the file
  std::uint32_t state = seed;
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      p.Pixels[y * stride + x] = static_cast<std::uint8_t>(state >> 16);
    }
  for (int i = 0; i < 256 * 4; ++i) p.Colors.push_back(static_cast<std::uint8_t>(i * 7 + 3));
  return p;
}

// The rows as the PNG must carry them: top row first, each after a filter byte 0.
std::vector<std::uint8_t> ExpectedRows(const Picture& p) {
  const std::size_t stride = (p.Width + 3) / 4 * 4;
  std::vector<std::uint8_t> rows;
  for (std::uint32_t y = 0; y < p.Height; ++y) {
    rows.push_back(0);
    const std::uint8_t* row = &p.Pixels[(p.Height - 1 - y) * stride];
    rows.insert(rows.end(), row, row + p.Width);
  }
  return rows;
}

struct Decoded {
  std::vector<Chunk> Chunks;
  std::vector<std::uint8_t> Rows;
};

Decoded Encode(const Picture& p) {
  MemorySink sink;
  WritePalettePng(sink, p.Bitmap());
  Decoded d;
  d.Chunks = ReadChunks(sink.Bytes);
  std::vector<std::uint8_t> deflated;
  for (const Chunk& c : d.Chunks)
    if (c.Type == "IDAT") deflated.insert(deflated.end(), c.Data.begin(), c.Data.end());
  d.Rows = Inflate(deflated, (p.Width + 1) * std::size_t{p.Height});
  return d;
}

TEST(PngWriter, OnePixelPicture) {
  const Picture p = MakePicture(1, 1, 5);
  const Decoded d = Encode(p);
  ASSERT_EQ(d.Chunks.size(), 4u);
  EXPECT_EQ(d.Chunks[0].Type, "IHDR");
  const std::vector<std::uint8_t> header = {0, 0, 0, 1, 0, 0, 0, 1, 8, 3, 0, 0, 0};
  EXPECT_EQ(d.Chunks[0].Data, header);
  EXPECT_EQ(d.Chunks[1].Type, "PLTE");
  ASSERT_EQ(d.Chunks[1].Data.size(), 768u);
  for (int i = 0; i < 256; ++i) {  // red, green, blue from blue, green, red, reserved
    EXPECT_EQ(d.Chunks[1].Data[i * 3], p.Colors[i * 4 + 2]);
    EXPECT_EQ(d.Chunks[1].Data[i * 3 + 1], p.Colors[i * 4 + 1]);
    EXPECT_EQ(d.Chunks[1].Data[i * 3 + 2], p.Colors[i * 4]);
  }
  EXPECT_EQ(d.Chunks[2].Type, "IDAT");
  EXPECT_EQ(d.Rows, (std::vector<std::uint8_t>{0, p.Pixels[0]}));
  EXPECT_EQ(d.Chunks[3].Type, "IEND");
  EXPECT_TRUE(d.Chunks[3].Data.empty());
  EXPECT_EQ(d.Chunks[3].Crc, crc32(0, reinterpret_cast<const Bytef*>("IEND"), 4));
  EXPECT_EQ(d.Chunks[3].Crc, 0xAE426082u);
}

TEST(PngWriter, RowsOfExactlyTheWidthTopRowFirst) {
  const Picture p = MakePicture(5, 3, 9);  // rows of 5 bytes padded to 8 in the bitmap
  const Decoded d = Encode(p);
  EXPECT_EQ(d.Rows, ExpectedRows(p));
}

TEST(PngWriter, LargeDataSplitIntoFullIdatChunks) {
  const Picture p = MakePicture(1021, 700, 77);  // noise: barely compresses, about 700 KB
  const Decoded d = Encode(p);
  std::vector<std::size_t> idatSizes;
  for (const Chunk& c : d.Chunks)
    if (c.Type == "IDAT") idatSizes.push_back(c.Data.size());
  ASSERT_GE(idatSizes.size(), 3u);
  for (std::size_t i = 0; i + 1 < idatSizes.size(); ++i) EXPECT_EQ(idatSizes[i], 262143u);
  EXPECT_GT(idatSizes.back(), 0u);
  EXPECT_LE(idatSizes.back(), 262143u);
  EXPECT_EQ(d.Rows, ExpectedRows(p));
  EXPECT_EQ(d.Chunks.back().Type, "IEND");
}

TEST(PngWriter, CrcRegisterMatchesTheStandardCrc32) {
  const std::string text = "123456789";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  EXPECT_EQ(~PngCrc(0xFFFFFFFFu, bytes, text.size()), 0xCBF43926u);  // the CRC-32 check value
  // Updating in two steps gives the same register.
  EXPECT_EQ(PngCrc(PngCrc(0xFFFFFFFFu, bytes, 4), bytes + 4, 5), PngCrc(0xFFFFFFFFu, bytes, 9));
}

}  // namespace
}  // namespace pelloran::crashlog
