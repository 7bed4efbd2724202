// Any bytes as an ".elf" error log: the reader gives whole entries only, in order, each read back
// unchanged when the log is written again, and a report added to what was read comes back whole.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crashlog/capture/log_file_format.h"
#include "tests/fuzz/fuzz_checks.h"

using namespace pelloran::crashlog;

namespace {

bool OnlyLineEnds(std::string_view text) { return text.find_first_not_of("\r\n") == std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> entries = ParseLogEntries(content);

  // Whole entries, in order, without overlap.
  std::size_t from = 0;
  for (const std::string& entry : entries) {
    FUZZ_CHECK(entry.starts_with(kLogEntryStart));
    FUZZ_CHECK(entry.ends_with("\r\n\r\n\r\n"));
    const std::size_t at = content.find(entry, from);
    FUZZ_CHECK(at != std::string_view::npos);
    from = at + entry.size();
  }
  FUZZ_CHECK(ParseLogEntries(LogText(entries)) == entries);

  // A report of the same bytes added with a limit from the first byte.
  const int maxEntries = size > 0 ? data[0] % 8 : 1;
  const std::string report = std::string(kLogEntryStart) + std::string(content.substr(size / 2));
  AddLogEntry(entries, report, maxEntries);
  FUZZ_CHECK(entries.size() <= static_cast<std::size_t>(maxEntries > 0 ? maxEntries : 1));
  const std::vector<std::string> again = ParseLogEntries(LogText(entries));
  FUZZ_CHECK(again.size() == entries.size());
  for (std::size_t i = 0; i + 1 < again.size(); ++i) FUZZ_CHECK(again[i] == entries[i]);
  // The added report may come back without line ends it ended with, never shorter otherwise.
  FUZZ_CHECK(entries.back().starts_with(again.back()));
  FUZZ_CHECK(OnlyLineEnds(std::string_view(entries.back()).substr(again.back().size())));

  std::string value;
  if (LogEntryValue(entries.back(), "2.3", value)) FUZZ_CHECK(value.find("\r\n") == std::string::npos);
  return 0;
}
