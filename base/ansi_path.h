#pragma once
// Cutting file names in the program's ANSI code page, 936 (GBK). The second byte of a double-byte
// character may equal '\' (0x5C) without being one, so every scan steps over whole characters
// instead of searching bytes from the end. Pure code: the code page is GBK unless a caller hands
// in the system's own lead-byte table, so that these also build and test on the build machine.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace pelloran {

// Lead bytes of a code page's double-byte characters.
using LeadByteTable = std::array<bool, 256>;

// The first byte of a double-byte GBK character.
constexpr bool IsGbkLeadByte(unsigned char byte) noexcept { return byte >= 0x81 && byte <= 0xFE; }
// GBK's lead bytes as a table: 0x81 to 0xFE.
const LeadByteTable& GbkLeadBytes() noexcept;

// The delimiters that end a folder in a path: "\", "/" and the ":" of a drive.
inline constexpr std::string_view kPathDelimiters = "\\/:";

// The offset just after the last single-byte character of `path` found in `delimiters`; 0 when
// there is none. A lead byte as the very last byte counts as a character of its own.
std::size_t AfterLastPathDelimiter(std::string_view path, std::string_view delimiters = kPathDelimiters,
                                   const LeadByteTable& lead = GbkLeadBytes()) noexcept;

// The file name without its folder.
std::string_view AnsiFileNamePart(std::string_view path, std::string_view delimiters = kPathDelimiters,
                                  const LeadByteTable& lead = GbkLeadBytes()) noexcept;

// Index of the last "\" or ":" that is a character of its own; npos when there is none.
std::size_t LastPathDelimiter(std::string_view path, const LeadByteTable& lead = GbkLeadBytes()) noexcept;

// The text from the last "." after the last "\" or ":", dot included; empty without one.
std::string ExtractExtension(std::string_view path, const LeadByteTable& lead = GbkLeadBytes());

// Upper-cases ASCII a to z only (other bytes, GBK included, stay as they are).
std::string AsciiUpper(std::string_view text);
// Lower-cases ASCII A to Z only.
std::string AsciiLower(std::string_view text);

}  // namespace pelloran
