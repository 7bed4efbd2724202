#include "base/ansi_path.h"

namespace pelloran {

const LeadByteTable& GbkLeadBytes() noexcept {
  static const LeadByteTable table = [] {
    LeadByteTable t{};
    for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = IsGbkLeadByte(static_cast<unsigned char>(c));
    return t;
  }();
  return table;
}

std::size_t AfterLastPathDelimiter(std::string_view path, std::string_view delimiters,
                                   const LeadByteTable& lead) noexcept {
  std::size_t after = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (lead[static_cast<unsigned char>(c)] && i + 1 < path.size()) {
      ++i;  // the trail byte is never a delimiter
      continue;
    }
    if (delimiters.find(c) != std::string_view::npos) after = i + 1;
  }
  return after;
}

std::string_view AnsiFileNamePart(std::string_view path, std::string_view delimiters,
                                  const LeadByteTable& lead) noexcept {
  return path.substr(AfterLastPathDelimiter(path, delimiters, lead));
}

std::size_t LastPathDelimiter(std::string_view path, const LeadByteTable& lead) noexcept {
  const std::size_t after = AfterLastPathDelimiter(path, "\\:", lead);
  return after == 0 ? std::string_view::npos : after - 1;
}

std::string ExtractExtension(std::string_view path, const LeadByteTable& lead) {
  const std::size_t afterDot = AfterLastPathDelimiter(path, ".", lead);
  const std::size_t afterDelimiter = AfterLastPathDelimiter(path, "\\:", lead);
  if (afterDot == 0 || afterDot <= afterDelimiter) return {};
  return std::string(path.substr(afterDot - 1));
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace pelloran
