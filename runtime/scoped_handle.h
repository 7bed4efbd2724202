#pragma once
// Move-only owners for Windows handles. One template; a traits type per handle kind says which
// value means "none" and how to release it (kernel handles are invalid at null, file handles at
// INVALID_HANDLE_VALUE: two kinds, never mixed).

#include <windows.h>

#include <utility>

namespace pelloran {

template <typename Traits>
class ScopedGeneric {
 public:
  using Handle = typename Traits::Handle;

  ScopedGeneric() noexcept : handle_(Traits::Invalid()) {}
  explicit ScopedGeneric(Handle h) noexcept : handle_(h) {}
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ScopedGeneric(ScopedGeneric&& other) noexcept : handle_(other.release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~ScopedGeneric() { reset(); }

  Handle get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle h = Traits::Invalid()) noexcept {
    Handle old = std::exchange(handle_, h);
    if (old != Traits::Invalid()) Traits::Free(old);
  }

 private:
  Handle handle_;
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Free(Handle h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Free(Handle h) noexcept { ::FindClose(h); }
};
// A view from MapViewOfFile (its handle is owned separately).
struct MappedViewTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::UnmapViewOfFile(h); }
};
struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::RegCloseKey(h); }
};
struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::GlobalFree(h); }
};
struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::DeleteObject(h); }
};
struct WindowTraits {
  using Handle = HWND;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::DestroyWindow(h); }
};
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::FreeLibrary(h); }
};

using ScopedKernelHandle = ScopedGeneric<KernelHandleTraits>;
using ScopedFileHandle = ScopedGeneric<FileHandleTraits>;
using ScopedFindHandle = ScopedGeneric<FindHandleTraits>;
using ScopedMappedView = ScopedGeneric<MappedViewTraits>;
using ScopedRegistryKey = ScopedGeneric<RegistryKeyTraits>;
using ScopedGlobalMemory = ScopedGeneric<GlobalMemoryTraits>;
using ScopedGdiObject = ScopedGeneric<GdiObjectTraits>;
using ScopedWindow = ScopedGeneric<WindowTraits>;
using ScopedModule = ScopedGeneric<ModuleTraits>;

// A device context from GetDC, released to the same window it came from.
class ScopedGetDC {
 public:
  explicit ScopedGetDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ScopedGetDC(const ScopedGetDC&) = delete;
  ScopedGetDC& operator=(const ScopedGetDC&) = delete;
  ~ScopedGetDC() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  HDC get() const noexcept { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects a GDI object into a DC and puts the previous one back.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
  ~ScopedSelectObject() {
    if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace pelloran
