#include "batch/job_naming.h"

namespace pelloran {

namespace {

struct Scan {
  size_t delimiter = std::string_view::npos;  // last "\" or ":"
  size_t dot = std::string_view::npos;        // last "."
};

Scan ScanPath(std::string_view path, const LeadByteTable& lead) {
  Scan scan;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (lead[c] && i + 1 < path.size()) {
      ++i;  // skip the trail byte: it may equal "\" (0x5C) without being one
      continue;
    }
    if (c == '\\' || c == ':') scan.delimiter = i;
    else if (c == '.') scan.dot = i;
  }
  return scan;
}

}  // namespace

const LeadByteTable& GbkLeadBytes() {
  static const LeadByteTable table = [] {
    LeadByteTable t{};
    for (int c = 0x81; c <= 0xFE; ++c) t[static_cast<size_t>(c)] = true;
    return t;
  }();
  return table;
}

size_t LastPathDelimiter(std::string_view path, const LeadByteTable& lead) {
  return ScanPath(path, lead).delimiter;
}

std::string ExtractExtension(std::string_view path, const LeadByteTable& lead) {
  Scan scan = ScanPath(path, lead);
  if (scan.dot == std::string_view::npos) return {};
  if (scan.delimiter != std::string_view::npos && scan.dot < scan.delimiter) return {};
  return std::string(path.substr(scan.dot));
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool IsAcceptedMediaFile(std::string_view path, const LeadByteTable& lead) {
  std::string ext = AsciiUpper(ExtractExtension(path, lead));
  return ext == ".RM" || ext == ".RMVB" || ext == ".RA";
}

std::string OutputPathFor(std::string_view input, const LeadByteTable& lead) {
  size_t delimiter = LastPathDelimiter(input, lead);
  size_t nameStart = delimiter == std::string_view::npos ? 0 : delimiter + 1;
  std::string out(input.substr(0, nameStart));
  out += "Fix_";
  out += input.substr(nameStart);
  return out;
}

}  // namespace pelloran
