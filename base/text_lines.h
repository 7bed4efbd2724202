#pragma once
// Splitting text that comes from files written by other programs: lines may end in CR LF, LF or
// a lone CR.

#include <string_view>
#include <vector>

namespace pelloran {

// Splits at CR LF, LF or CR; a last line without an end counts, an empty tail does not.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace pelloran
