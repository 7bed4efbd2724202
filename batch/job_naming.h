#pragma once
// Which files the batch accepts and where their cleaned copies go. Paths come as bytes of the
// ANSI code page (a trail byte of a double-byte character is never taken for "\", ":" or ".") or
// as UTF-16, where every code unit below 0x80 is the character it looks like.

#include <string>
#include <string_view>

#include "base/ansi_path.h"

namespace pelloran {

// True for ".RM", ".RMVB" and ".RA" in any case.
bool IsAcceptedMediaFile(std::string_view path, const LeadByteTable& lead);
bool IsAcceptedMediaFile(std::wstring_view path);
// The folder part (up to and including the last delimiter) + "Fix_" + the file name part.
std::string OutputPathFor(std::string_view input, const LeadByteTable& lead);
std::wstring OutputPathFor(std::wstring_view input);

// Offset just after the last "\" or ":" of a UTF-16 path (0 without one): where its name starts.
size_t WideFileNameStart(std::wstring_view path) noexcept;

}  // namespace pelloran
