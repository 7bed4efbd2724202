#pragma once
// Cutting file names in the program's ANSI code page, 936 (GBK). The second byte of a double-byte
// character may equal '\' (0x5C) without being one, so every scan steps over whole characters
// instead of searching bytes from the end. Pure code: the code page is fixed, not asked of the
// system, so that these also build and test on the build machine.

#include <cstddef>
#include <string_view>

namespace pelloran::crashlog {

// The first byte of a double-byte GBK character.
constexpr bool IsGbkLeadByte(unsigned char byte) noexcept { return byte >= 0x81 && byte <= 0xFE; }

// The delimiters that end a folder in a path: "\", "/" and the ":" of a drive.
inline constexpr std::string_view kPathDelimiters = "\\/:";

// The offset just after the last single-byte character of `path` found in `delimiters`; 0 when
// there is none. A lead byte as the very last byte counts as a character of its own.
std::size_t AfterLastPathDelimiter(std::string_view path, std::string_view delimiters = kPathDelimiters) noexcept;

// The file name without its folder.
std::string_view AnsiFileNamePart(std::string_view path, std::string_view delimiters = kPathDelimiters) noexcept;

}  // namespace pelloran::crashlog
