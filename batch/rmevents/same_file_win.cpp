#include "batch/rmevents/same_file_win.h"

#include <windows.h>

#include "runtime/scoped_handle.h"

namespace pelloran::rmevents {
namespace {

ScopedFileHandle OpenForIdentity(const std::wstring& path) {
  return ScopedFileHandle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    DWORD got = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (got == 0) return path;
    if (got < full.size()) {
      full.resize(got);
      return full;
    }
    full.resize(got + 1);
  }
}

}  // namespace

bool IsSameFile(const std::wstring& a, const std::wstring& b) {
  ScopedFileHandle fa = OpenForIdentity(a);
  ScopedFileHandle fb = OpenForIdentity(b);
  if (fa && fb) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (GetFileInformationByHandle(fa.get(), &ia) && GetFileInformationByHandle(fb.get(), &ib))
      return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
             ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  }
  const std::wstring fullA = FullPath(a), fullB = FullPath(b);
  return CompareStringOrdinal(fullA.data(), static_cast<int>(fullA.size()), fullB.data(),
                              static_cast<int>(fullB.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace pelloran::rmevents
