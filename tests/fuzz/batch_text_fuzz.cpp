// Any bytes as the names of dropped files (job naming, in the ANSI code page and in UTF-16), as
// the events tool's log (the log normalisation the monitor shows and searches) and as the text
// widths the job list's columns are fitted to.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/ansi_path.h"
#include "batch/column_fit.h"
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

  // The same bytes as UTF-16 code units: the same rules, and for ASCII the same answers.
  std::wstring wide;
  for (std::size_t i = 0; i + 1 < size; i += 2) wide += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  const std::wstring wideOutput = OutputPathFor(std::wstring_view(wide));
  const std::size_t wideNameStart = WideFileNameStart(wide);
  FUZZ_CHECK(wideOutput == wide.substr(0, wideNameStart) + L"Fix_" + wide.substr(wideNameStart));
  FUZZ_CHECK(IsAcceptedMediaFile(std::wstring_view(wideOutput)) == IsAcceptedMediaFile(std::wstring_view(wide)));
  bool ascii = true;
  std::string narrow;
  for (wchar_t c : wide) {
    ascii = ascii && c > 0 && c < 0x80;
    narrow += static_cast<char>(c);
  }
  if (ascii) FUZZ_CHECK(IsAcceptedMediaFile(std::wstring_view(wide)) == IsAcceptedMediaFile(narrow, gbk));

  // Column widths: the result always whole; the path columns never below their minimum and,
  // when the list has room, filling it exactly.
  if (size >= 8) {
    auto number = [&](std::size_t at) { return static_cast<int>(data[at] | (data[at + 1] << 8)); };
    const int available = number(0), needInput = number(2), needOutput = number(4), needResult = number(6);
    const JobColumnWidths w = FitJobColumns(available, needInput, needOutput, needResult);
    FUZZ_CHECK(w.Result == needResult);
    FUZZ_CHECK(w.Input >= kMinPathColumnWidth && w.Output >= kMinPathColumnWidth);
    if (available - needResult >= 2 * kMinPathColumnWidth)
      FUZZ_CHECK(w.Input + w.Output + w.Result == available);
    // A path column's need counts as at least the minimum.
    const int inputNeed = std::max(needInput, kMinPathColumnWidth);
    const int outputNeed = std::max(needOutput, kMinPathColumnWidth);
    if (inputNeed + outputNeed + needResult <= available) FUZZ_CHECK(w.Output == outputNeed && w.Input >= inputNeed);
  }
  return 0;
}
