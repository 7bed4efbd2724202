#pragma once
// The 8.3 short name of an existing file or folder: the one name of a file named outside the
// ANSI code page that a program reading ANSI names can open. Alone in its source file so that a
// test build can put a refusing one in its place (Wine makes short names for every file; a
// volume of Windows may have them switched off).

#include <optional>
#include <string>

namespace pelloran {

// The whole path with each part in its short form; nothing when the system has none.
std::optional<std::wstring> ShortPathName(const std::wstring& path);

}  // namespace pelloran
