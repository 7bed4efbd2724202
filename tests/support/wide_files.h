#pragma once
// Files named outside the ANSI code page, for tests: made, read and looked for in UTF-16.

#include <windows.h>

#include <string>
#include <vector>

#include "runtime/scoped_handle.h"
#include "runtime/wide_text.h"

namespace pelloran::testing {

// Names no GBK byte sequence can write: Hangul and an emoji (a surrogate pair).
inline const std::wstring kHangulName = L"\uD55C\uAD6D\uC5B4";  // 한국어
inline const std::wstring kEmojiName = L"emoji\U0001F600";

inline bool WriteBytesW(const std::wstring& path, const std::string& bytes) {
  ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

inline std::string ReadBytesW(const std::wstring& path) {
  ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string data;
  char buffer[65536];
  DWORD got = 0;
  while (file && ::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  return data;
}

inline bool ExistsW(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Every file of a folder (not its subfolders), by name.
inline std::vector<std::wstring> FileNamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  ScopedFindHandle find(::FindFirstFileW((folder + L"*").c_str(), &data));
  if (!find) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (::FindNextFileW(find.get(), &data));
  return names;
}

}  // namespace pelloran::testing
