// Screen capture: the display is copied into a memory bitmap, the cursor drawn on it, and the
// system asked for an 8-bit bitmap with a 256-entry colour table, which reduces the colours for
// us; png_writer.cpp turns that into the file.

#include "crashlog/delivery/png_writer.h"
#include "crashlog/delivery/screenshot.h"
#include "base/exceptions.h"
#include "runtime/scoped_handle.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <vector>

namespace pelloran::crashlog {

namespace {

struct DcTraits {
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::DeleteDC(h); }
};
using ScopedDc = ScopedGeneric<DcTraits>;

[[noreturn]] void RaiseCaptureError(const char* step) {
  throw Exception(std::string("The screen cannot be captured (") + step + ").");
}

class TFileSink : public TPngSink {
 public:
  explicit TFileSink(const std::string& path)
      : path_(path),
        file_(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (!file_) RaiseFileError("Cannot create file");
  }
  void Write(const void* data, std::size_t length) override {
    DWORD written = 0;
    if (!::WriteFile(file_.get(), data, static_cast<DWORD>(length), &written, nullptr) || written != length)
      RaiseFileError("Cannot write file");
  }

 private:
  [[noreturn]] void RaiseFileError(const char* what) {
    const DWORD code = ::GetLastError();
    throw EInOutError(std::string(what) + " \"" + path_ + "\".", code);
  }
  std::string path_;
  ScopedFileHandle file_;
};

// Selects a palette into a DC and puts the previous one back, so the palette can be deleted.
class TPaletteSelection {
 public:
  TPaletteSelection() = default;
  TPaletteSelection(const TPaletteSelection&) = delete;
  TPaletteSelection& operator=(const TPaletteSelection&) = delete;
  ~TPaletteSelection() {
    if (old_) ::SelectPalette(dc_, old_, FALSE);
  }
  void Select(HDC dc, HPALETTE palette) {
    dc_ = dc;
    old_ = ::SelectPalette(dc, palette, FALSE);
    ::RealizePalette(dc);
  }

 private:
  HDC dc_ = nullptr;
  HPALETTE old_ = nullptr;
};

// BITMAPINFO with the whole 256-entry colour table behind the header.
struct TBitmapInfo256 {
  BITMAPINFOHEADER Header;
  RGBQUAD Colors[256];
};

// LOGPALETTE with room for 256 entries.
struct TLogPalette256 {
  WORD Version;
  WORD Count;
  PALETTEENTRY Entries[256];
};

}  // namespace

std::string TemporaryFolder() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathA(MAX_PATH, buffer);
  return length == 0 || length > MAX_PATH ? std::string() : std::string(buffer, length);
}

std::string ScreenshotPath(bool attachScreenshot) {
  return attachScreenshot ? TemporaryFolder() + "Screenshot.png" : std::string();
}

void CaptureScreenshotPng(const std::string& path) {
  if (path.empty()) return;

  ScopedDc display(::CreateDCA("DISPLAY", nullptr, nullptr, nullptr));
  if (!display) RaiseCaptureError("CreateDC");
  ScopedDc memory(::CreateCompatibleDC(display.get()));
  if (!memory) RaiseCaptureError("CreateCompatibleDC");
  const int width = ::GetDeviceCaps(display.get(), HORZRES);
  const int height = ::GetDeviceCaps(display.get(), VERTRES);
  if (width <= 0 || height <= 0) RaiseCaptureError("GetDeviceCaps");

  ScopedGdiObject bitmap(::CreateCompatibleBitmap(display.get(), width, height));
  if (!bitmap) RaiseCaptureError("CreateCompatibleBitmap");
  auto bitmapSelection = std::make_unique<ScopedSelectObject>(memory.get(), bitmap.get());

  // A palette display: the memory context gets the system palette, so the copy keeps its colours.
  ScopedGdiObject palette;
  TPaletteSelection paletteSelection;
  if (::GetDeviceCaps(display.get(), RASTERCAPS) & RC_PALETTE) {
    TLogPalette256 entries{};
    entries.Version = 0x300;
    entries.Count = static_cast<WORD>(::GetSystemPaletteEntries(display.get(), 0, 256, entries.Entries));
    if (entries.Count != 0) {
      palette.reset(::CreatePalette(reinterpret_cast<LOGPALETTE*>(&entries)));
      if (palette) paletteSelection.Select(memory.get(), static_cast<HPALETTE>(palette.get()));
    }
  }

  if (!::BitBlt(memory.get(), 0, 0, width, height, display.get(), 0, 0, SRCCOPY)) RaiseCaptureError("BitBlt");
  CURSORINFO cursor{};
  cursor.cbSize = sizeof cursor;
  if (::GetCursorInfo(&cursor) && (cursor.flags & CURSOR_SHOWING) && cursor.hCursor)
    ::DrawIconEx(memory.get(), cursor.ptScreenPos.x, cursor.ptScreenPos.y, cursor.hCursor, 32, 32, 0, nullptr,
                 DI_NORMAL);

  TBitmapInfo256 info{};
  info.Header.biSize = sizeof(BITMAPINFOHEADER);
  info.Header.biWidth = width;
  info.Header.biHeight = height;  // positive: bottom-up
  info.Header.biPlanes = 1;
  info.Header.biBitCount = 8;
  info.Header.biCompression = BI_RGB;
  info.Header.biClrUsed = 256;
  const std::size_t stride = DibRowStride(static_cast<std::uint32_t>(width));
  std::vector<std::uint8_t> pixels(stride * static_cast<std::size_t>(height));
  // The bitmap must not be selected while GetDIBits reads it.
  bitmapSelection.reset();
  if (::GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(height), pixels.data(),
                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != height)
    RaiseCaptureError("GetDIBits");

  TPaletteBitmap picture;
  picture.Width = static_cast<std::uint32_t>(width);
  picture.Height = static_cast<std::uint32_t>(height);
  picture.Stride = stride;
  picture.Pixels = pixels.data();
  picture.ColorTable = reinterpret_cast<const std::uint8_t*>(info.Colors);
  TFileSink file(path);
  WritePalettePng(file, picture);
}

}  // namespace pelloran::crashlog
