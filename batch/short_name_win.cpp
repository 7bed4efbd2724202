#include "batch/short_name.h"

#include <windows.h>

namespace pelloran {

std::optional<std::wstring> ShortPathName(const std::wstring& path) {
  std::wstring out(MAX_PATH, L'\0');
  for (;;) {
    DWORD got = ::GetShortPathNameW(path.c_str(), out.data(), static_cast<DWORD>(out.size()));
    if (got == 0) return std::nullopt;
    if (got < out.size()) {
      out.resize(got);
      return out;
    }
    out.resize(got + 1);
  }
}

}  // namespace pelloran
