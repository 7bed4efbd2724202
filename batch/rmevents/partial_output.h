#pragma once
// The name the events tool writes its output under until the output is complete: beside the
// output (so the final move stays on one volume), "~" + its name + ".part". The batch runner
// derives the same name to watch the progress and to remove what a killed tool left.

#include <string>
#include <string_view>

namespace pelloran::rmevents {

inline std::wstring PartialOutputPath(std::wstring_view output) {
  const size_t slash = output.find_last_of(L"\\/:");
  const size_t nameAt = slash == std::wstring_view::npos ? 0 : slash + 1;
  std::wstring path(output.substr(0, nameAt));
  path += L'~';
  path += output.substr(nameAt);
  path += L".part";
  return path;
}

}  // namespace pelloran::rmevents
