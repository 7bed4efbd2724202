#pragma once
// Pictures of windows for the documentation: what the screen shows of a rectangle, saved as a
// 24-bit BMP file (scripts/screenshots.sh turns them into the PNG files of docs/).

#include <windows.h>

#include <cstdio>
#include <string>

#include "runtime/scoped_handle.h"

namespace pelloran::testing {

inline bool SaveScreenPicture(const RECT& r, const std::string& path) {
  const int width = r.right - r.left, height = r.bottom - r.top;
  ScopedGetDC screen(nullptr);
  HDC memory = ::CreateCompatibleDC(screen.get());
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB};
  void* bits = nullptr;
  ScopedGdiObject bitmap(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  bool ok = false;
  if (bitmap) {
    ScopedSelectObject select(memory, bitmap.get());
    ok = ::BitBlt(memory, 0, 0, width, height, screen.get(), r.left, r.top, SRCCOPY) != FALSE;
  }
  ::DeleteDC(memory);
  if (!ok) return false;
  const DWORD stride = ((width * 3 + 3) / 4) * 4, imageSize = stride * height;
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize), 0,
                        0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(&file, sizeof file, 1, f) == 1 &&
                       std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
                       std::fwrite(bits, 1, imageSize, f) == imageSize;
  return std::fclose(f) == 0 && written;
}

// What the screen shows of a window, frame included.
inline bool SaveWindowPicture(HWND window, const std::string& path) {
  RECT r{};
  return ::GetWindowRect(window, &r) && SaveScreenPicture(r, path);
}

}  // namespace pelloran::testing
