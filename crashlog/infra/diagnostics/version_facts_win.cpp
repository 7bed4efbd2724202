#include "crashlog/infra/diagnostics/version_facts.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace pelloran::crashlog {

namespace {

std::string TextBefore(const char* text, std::size_t limit) { return std::string(text, strnlen(text, limit)); }

}  // namespace

TVersionFacts ReadVersionFacts(const std::string& file) {
  TVersionFacts facts;
  try {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0) return facts;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data())) return facts;

    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
      WORD translation[2];
      std::memcpy(translation, value, sizeof translation);
      const std::string query = FileDescriptionQuery(translation[0], translation[1]);
      // A length of 1 is the terminating zero alone: an empty description.
      if (VerQueryValueA(data.data(), query.c_str(), &value, &length) && length > 1)
        facts.Description = TextBefore(static_cast<const char*>(value), length);
    }
    if (VerQueryValueA(data.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
      VS_FIXEDFILEINFO fixed;
      std::memcpy(&fixed, value, sizeof fixed);
      facts.Version = FileVersionText(fixed.dwFileVersionMS, fixed.dwFileVersionLS);
    }
  } catch (...) {
  }
  return facts;
}

}  // namespace pelloran::crashlog
