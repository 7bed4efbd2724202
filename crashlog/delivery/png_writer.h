#pragma once
// The screenshot's PNG writer. It knows one layout only: 8-bit palette, no interlace, filter 0 on
// every row. zlib does the deflate; chunks and their CRC are written here. No platform headers:
// the capture (screenshot_win.cpp) hands over the bitmap the system produced.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pelloran::crashlog {

// The size of deflate's output buffer, and so the largest IDAT chunk.
inline constexpr std::size_t kPngOutputBufferSize = 262143;

// Where the file's bytes go.
class TPngSink {
 public:
  virtual ~TPngSink() = default;
  virtual void Write(const void* data, std::size_t length) = 0;
};

// Updates a CRC-32 register (reflected 0xEDB88320) with `count` bytes. The caller presets the
// register to 0xFFFFFFFF and complements the result.
std::uint32_t PngCrc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

// Length, the four type letters, the data, then the CRC of type and data; big-endian.
void WritePngChunk(TPngSink& stream, std::string_view type, const std::uint8_t* data, std::uint32_t length);

// A bottom-up 8-bit bitmap as the system returns it: rows of `Stride` bytes (the width rounded
// up to four), the last row of the picture first, and a colour table of 256 blue, green, red,
// reserved entries.
struct TPaletteBitmap {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::size_t Stride = 0;
  const std::uint8_t* Pixels = nullptr;
  const std::uint8_t* ColorTable = nullptr;  // 256 x 4 bytes
};

// Rows of an 8-bit device-independent bitmap are padded to a multiple of four bytes.
constexpr std::size_t DibRowStride(std::uint32_t width) { return (static_cast<std::size_t>(width) + 3) & ~std::size_t{3}; }

// Writes the whole PNG file: signature, IHDR, PLTE, the IDAT chunks of one level-9 zlib stream
// of the rows from the top, IEND. Raises Exception when deflate fails; sink errors pass through.
void WritePalettePng(TPngSink& stream, const TPaletteBitmap& bitmap);

}  // namespace pelloran::crashlog
