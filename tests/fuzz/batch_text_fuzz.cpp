// Any bytes as the names of dropped files (job naming) and as the events tool's log (the log
// normalisation the monitor shows and searches).

#include <cstdint>
#include <string>
#include <string_view>

#include "base/ansi_path.h"
#include "batch/control_files.h"
#include "batch/job_naming.h"
#include "tests/fuzz/fuzz_checks.h"

using namespace pelloran;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto& gbk = GbkLeadBytes();

  // Case never matters, and upper-casing never moves a character boundary.
  FUZZ_CHECK(IsAcceptedMediaFile(text, gbk) == IsAcceptedMediaFile(AsciiUpper(text), gbk));
  const std::string output = OutputPathFor(text, gbk);
  const std::size_t delimiter = LastPathDelimiter(text, gbk);
  const std::size_t nameStart = delimiter == std::string_view::npos ? 0 : delimiter + 1;
  FUZZ_CHECK(output == std::string(text.substr(0, nameStart)) + "Fix_" + std::string(text.substr(nameStart)));
  FUZZ_CHECK(IsAcceptedMediaFile(output, gbk) == IsAcceptedMediaFile(text, gbk));

  // The log: CR LF after every line and nowhere else, nothing from a NUL on.
  const std::string log = NormaliseLog(text);
  std::string joined;
  for (const std::string& line : SplitLogLines(text)) {
    FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    joined += line + "\r\n";
  }
  FUZZ_CHECK(log == joined);
  if (LogMarksFinished(log)) FUZZ_CHECK(text.find("***") != std::string_view::npos);
  return 0;
}
