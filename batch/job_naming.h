#pragma once
// Which files the batch accepts and where their cleaned copies go. Paths are bytes of the ANSI
// code page; a trail byte of a double-byte character is never taken for "\", ":" or ".".

#include <array>
#include <string>
#include <string_view>

namespace pelloran {

// Lead bytes of the code page's double-byte characters.
using LeadByteTable = std::array<bool, 256>;
// GBK (code page 936): lead bytes 0x81 to 0xFE.
const LeadByteTable& GbkLeadBytes();

// Index of the last "\" or ":" that is a character of its own; npos when there is none.
size_t LastPathDelimiter(std::string_view path, const LeadByteTable& lead);
// The text from the last "." after the last path delimiter, dot included; empty without one.
std::string ExtractExtension(std::string_view path, const LeadByteTable& lead);
// Upper-cases ASCII a to z only (other bytes, GBK included, stay as they are).
std::string AsciiUpper(std::string_view text);
// True for ".RM", ".RMVB" and ".RA" in any case.
bool IsAcceptedMediaFile(std::string_view path, const LeadByteTable& lead);
// The folder part (up to and including the last delimiter) + "Fix_" + the file name part.
std::string OutputPathFor(std::string_view input, const LeadByteTable& lead);

}  // namespace pelloran
