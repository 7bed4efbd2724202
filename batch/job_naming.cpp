#include "batch/job_naming.h"

namespace pelloran {

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

size_t WideFileNameStart(std::wstring_view path) noexcept {
  const size_t at = path.find_last_of(L"\\:");
  return at == std::wstring_view::npos ? 0 : at + 1;
}

bool IsAcceptedMediaFile(std::wstring_view path) {
  const std::wstring_view name = path.substr(WideFileNameStart(path));
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos) return false;
  std::string ext;
  for (wchar_t c : name.substr(dot)) {
    if (c >= 0x80) return false;
    ext += static_cast<char>(c);
  }
  ext = AsciiUpper(ext);
  return ext == ".RM" || ext == ".RMVB" || ext == ".RA";
}

std::wstring OutputPathFor(std::wstring_view input) {
  const size_t nameStart = WideFileNameStart(input);
  std::wstring out(input.substr(0, nameStart));
  out += L"Fix_";
  out += input.substr(nameStart);
  return out;
}

}  // namespace pelloran
