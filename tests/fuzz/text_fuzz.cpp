// Any bytes as outside text that the reporter and the base cut and convert: file paths in the
// ANSI code page (GBK), lines of other programs' files, command-line words, locale identifiers,
// service-pack and window texts.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/ansi_path.h"
#include "base/text_lines.h"
#include "crashlog/infra/diagnostics/diagnostics_text.h"
#include "crashlog/infra/diagnostics/trace_format.h"
#include "crashlog/infra/options/option_stream.h"
#include "crashlog/machine/machine_text.h"
#include "tests/fuzz/fuzz_checks.h"

using namespace pelloran;
using namespace pelloran::crashlog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::size_t after = AfterLastPathDelimiter(text);
  FUZZ_CHECK(after <= size && (after == 0 || kPathDelimiters.find(text[after - 1]) != std::string_view::npos));
  FUZZ_CHECK(AnsiFileNamePart(text) == text.substr(after));
  FUZZ_CHECK(FileNameOf(text) == text.substr(after));
  const std::size_t last = LastPathDelimiter(text);
  FUZZ_CHECK(last == std::string_view::npos || text[last] == '\\' || text[last] == ':');
  const std::string extension = ExtractExtension(text);
  FUZZ_CHECK(extension.empty() || (extension.front() == '.' && text.ends_with(extension)));
  FUZZ_CHECK(AsciiUpper(text).size() == size);
  const std::string renamed = ChangeFileExtension(text, ".log");
  FUZZ_CHECK(renamed.ends_with(".log") && renamed.size() <= size + 4);
  FUZZ_CHECK(DriveRoot(text).ends_with('\\'));

  std::size_t consumed = 0;
  for (std::string_view line : SplitLines(text)) {
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    consumed += line.size();
  }
  FUZZ_CHECK(consumed <= size);

  const std::string spaced = ControlCharsToSpaces(text);
  FUZZ_CHECK(spaced.size() == size);
  for (char c : spaced) FUZZ_CHECK(static_cast<unsigned char>(c) >= 32);
  TOsVersion os;
  os.ServicePack = std::string(text);
  const std::string update = OperatingSystemUpdate(os);
  FUZZ_CHECK(update.empty() ||
             (static_cast<unsigned char>(update.front()) > ' ' && static_cast<unsigned char>(update.back()) > ' '));
  OperatingSystemName(os);
  LanguageIdOfLocale(text);
  ReadTraceSwitches(text);
  FUZZ_CHECK(StripFinalCrLf(text) == WithoutFinalLineBreak(text));
  return 0;
}
