// The screenshot's PNG writer on a 1920x1080 8-bit screen against zlib's level-9 compression of
// the same rows (filter byte and pixels) in one buffer: the writer streams rows into deflate one
// at a time and writes IDAT chunks with CRCs, the reference compresses everything in one call.
// Each is run alternately, best of several runs; sizes are printed too.

#include "crashlog/delivery/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace pelloran::crashlog;

namespace {

class CountingSink : public TPngSink {
 public:
  void Write(const void*, std::size_t length) override { Bytes += length; }
  std::size_t Bytes = 0;
};

// Something like a desktop: flat background, windows with title bars, lines of "text", a picture.
std::vector<std::uint8_t> MakeScreen(std::uint32_t width, std::uint32_t height) {
  const std::size_t stride = DibRowStride(width);
  std::vector<std::uint8_t> pixels(stride * height, 0);
  std::uint32_t state = 12345;
  const auto random = [&] { return state = state * 1103515245u + 12345u, state >> 16; };
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t v = 30;                                                     // desktop
      if (x > 100 && x < 1300 && y > 80 && y < 900) v = y < 110 ? 200 : 255;    // window, caption
      if (x > 120 && x < 1280 && y > 130 && y < 880 && (y % 18) < 11 && (x / 7) % 9 != 0 && random() % 3 == 0)
        v = 0;  // glyphs
      if (x > 1400 && x < 1850 && y > 200 && y < 650) v = static_cast<std::uint8_t>((x + y) / 4 + random() % 24);
      pixels[(height - 1 - y) * stride + x] = v;
    }
  return pixels;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main() {
  constexpr std::uint32_t kWidth = 1920, kHeight = 1080;
  const std::vector<std::uint8_t> pixels = MakeScreen(kWidth, kHeight);
  std::vector<std::uint8_t> colors(1024);
  for (int i = 0; i < 1024; ++i) colors[i] = static_cast<std::uint8_t>(i);
  const TPaletteBitmap bitmap{kWidth, kHeight, DibRowStride(kWidth), pixels.data(), colors.data()};

  std::vector<std::uint8_t> rows;
  for (std::uint32_t y = kHeight; y-- > 0;) {
    rows.push_back(0);
    rows.insert(rows.end(), pixels.begin() + y * bitmap.Stride, pixels.begin() + y * bitmap.Stride + kWidth);
  }
  std::vector<std::uint8_t> out(compressBound(rows.size()));

  double bestPng = 1e9, bestZlib = 1e9;
  std::size_t pngBytes = 0, zlibBytes = 0;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    CountingSink sink;
    WritePalettePng(sink, bitmap);
    bestPng = std::min(bestPng, Seconds(std::chrono::steady_clock::now() - start));
    pngBytes = sink.Bytes;

    start = std::chrono::steady_clock::now();
    uLongf size = static_cast<uLongf>(out.size());
    compress2(out.data(), &size, rows.data(), static_cast<uLong>(rows.size()), 9);
    bestZlib = std::min(bestZlib, Seconds(std::chrono::steady_clock::now() - start));
    zlibBytes = size;
  }
  std::printf("PNG writer (rows streamed, IDAT + CRC): %8.1f ms  %8zu bytes (whole file)\n", bestPng * 1e3, pngBytes);
  std::printf("zlib level 9, one buffer:               %8.1f ms  %8zu bytes (zlib stream)\n", bestZlib * 1e3, zlibBytes);
  std::printf("ratio: %.3f\n", bestPng / bestZlib);
  return 0;
}
