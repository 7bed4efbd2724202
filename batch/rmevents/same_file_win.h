#pragma once
// Whether two paths name one file, however they are spelt: the events tool and the batch runner
// both refuse an output that is the input.

#include <string>

namespace pelloran::rmevents {

// Two existing files: the same volume and file index (case, ".\", short names and links all
// lead there). Otherwise: the same full path, case ignored.
bool IsSameFile(const std::wstring& a, const std::wstring& b);

}  // namespace pelloran::rmevents
