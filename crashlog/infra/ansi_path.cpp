#include "crashlog/infra/ansi_path.h"

namespace pelloran::crashlog {

std::size_t AfterLastPathDelimiter(std::string_view path, std::string_view delimiters) noexcept {
  std::size_t after = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (IsGbkLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
      ++i;  // the trail byte is never a delimiter
      continue;
    }
    if (delimiters.find(c) != std::string_view::npos) after = i + 1;
  }
  return after;
}

std::string_view AnsiFileNamePart(std::string_view path, std::string_view delimiters) noexcept {
  return path.substr(AfterLastPathDelimiter(path, delimiters));
}

}  // namespace pelloran::crashlog
