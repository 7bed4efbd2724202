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

}  // namespace pelloran
