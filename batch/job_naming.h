#pragma once
// Which files the batch accepts and where their cleaned copies go. Paths are bytes of the ANSI
// code page; a trail byte of a double-byte character is never taken for "\", ":" or ".".

#include <string>
#include <string_view>

#include "base/ansi_path.h"

namespace pelloran {

// True for ".RM", ".RMVB" and ".RA" in any case.
bool IsAcceptedMediaFile(std::string_view path, const LeadByteTable& lead);
// The folder part (up to and including the last delimiter) + "Fix_" + the file name part.
std::string OutputPathFor(std::string_view input, const LeadByteTable& lead);

}  // namespace pelloran
