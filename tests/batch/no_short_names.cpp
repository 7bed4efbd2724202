// A volume with short names switched off, for a test build: this definition takes the place of
// the library's, whose file holds nothing else the program needs.
#include "batch/short_name.h"

namespace pelloran {

std::optional<std::wstring> ShortPathName(const std::wstring&) { return std::nullopt; }

}  // namespace pelloran
