#include "tools/crashlog_report/report_entry.h"

#include <algorithm>
#include <charconv>

#include "crashlog/capture/log_file_format.h"

namespace pelloran::crashlog_report {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kStackColumns = 6;
// The first register line, the same whatever the texts of the options.
constexpr std::string_view kRegistersLine = "\r\nEAX: ";

struct TLine {
  std::size_t Start;
  std::string_view Text;
};

// The line starting at `pos` without its CR LF; `next` is the start of the following one.
std::string_view LineAt(std::string_view text, std::size_t pos, std::size_t& next) {
  const std::size_t end = text.find(kCrLf, pos);
  if (end == std::string_view::npos) {
    next = text.size();
    return text.substr(pos);
  }
  next = end + kCrLf.size();
  return text.substr(pos, end - pos);
}

bool IsRule(std::string_view line) {
  return !line.empty() && line.find_first_not_of('-') == std::string_view::npos;
}

std::string TrimmedCell(std::string_view cell) {
  while (!cell.empty() && cell.back() == ' ') cell.remove_suffix(1);
  return std::string(cell);
}

std::vector<std::size_t> BarPositions(std::string_view line) {
  std::vector<std::size_t> bars;
  for (std::size_t at = line.find('|'); at != std::string_view::npos; at = line.find('|', at + 1)) bars.push_back(at);
  return bars;
}

// A row split at the header's bars when its own bars are more than the seven of six columns (a
// procedure named "operator|"); false when it cannot be split.
bool SplitRow(std::string_view row, const std::vector<std::size_t>& headerBars, TStackRow& cells) {
  std::vector<std::size_t> bars = BarPositions(row);
  if (bars.size() != kStackColumns + 1) {
    if (headerBars.size() != kStackColumns + 1 || row.size() != headerBars.back() + 1) return false;
    for (const std::size_t at : headerBars)
      if (row[at] != '|') return false;
    bars = headerBars;
  }
  if (bars.front() != 0 || bars.back() != row.size() - 1) return false;
  std::array<std::string, kStackColumns> cell;
  for (std::size_t c = 0; c < kStackColumns; ++c) cell[c] = TrimmedCell(row.substr(bars[c] + 1, bars[c + 1] - bars[c] - 1));
  cells = {cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]};
  return true;
}

std::size_t NextEntryStart(std::string_view content, std::size_t from) {
  for (std::size_t at = content.find(crashlog::kLogEntryStart, from); at != std::string_view::npos;
       at = content.find(crashlog::kLogEntryStart, at + 1)) {
    if (at == 0 || (at >= 2 && content.substr(at - 2, 2) == kCrLf)) return at;
  }
  return std::string_view::npos;
}

// An entry whose report was cut short runs on into the next one: its first line (the reporter's
// "CrashLog <version>" heading) comes again at a line start, followed by the empty line. A report
// that got as far as its registers is whole, and a heading after them is text of its own (a
// report pasted into the reproduce steps).
void SplitCutEntries(std::string_view entry, TLogSplit& split) {
  for (;;) {
    const std::size_t headingEnd = entry.find(kCrLf);
    if (headingEnd == std::string_view::npos) break;
    std::string again;
    again.append(kCrLf).append(entry.substr(0, headingEnd)).append(kCrLf).append(kCrLf);
    const std::size_t at = entry.find(again, headingEnd);
    if (at == std::string_view::npos || entry.substr(0, at).find(kRegistersLine) != std::string_view::npos) break;
    split.Problems.push_back("a report cut short");
    entry.remove_prefix(at + kCrLf.size());
  }
  split.Entries.emplace_back(entry);
}

bool ReadNumber(std::string_view& text, int& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The items of the section titled `title` of the general section: label (its padding removed) and
// value of each "  <section>.<item> label: value" line up to the empty line that ends the section.
std::vector<std::pair<std::string, std::string>> SectionItems(std::string_view general, std::string_view title) {
  std::vector<std::pair<std::string, std::string>> items;
  std::size_t pos = 0, next = 0;
  bool inside = false;
  while (pos < general.size()) {
    const std::string_view line = LineAt(general, pos, next);
    pos = next;
    if (!inside) {
      inside = line == title;
      continue;
    }
    if (line.empty()) break;
    if (!line.starts_with("  ")) continue;  // the rule under the title
    std::string_view item = line.substr(2);
    const std::size_t number = item.find(' ');
    const std::size_t colon = item.find(": ");
    if (number == std::string_view::npos || colon == std::string_view::npos || colon < number) continue;
    std::string_view label = item.substr(number + 1, colon - number - 1);
    while (!label.empty() && label.back() == ' ') label.remove_suffix(1);
    items.emplace_back(std::string(label), std::string(item.substr(colon + 2)));
  }
  return items;
}

}  // namespace

bool ReadReportEntry(std::string_view entry, TReportEntry& report, std::string& problem) {
  // The call stack table: its header row sits between two rules, its rows follow up to a rule.
  std::size_t pos = 0, next = 0;
  std::string_view previous;
  std::size_t previousStart = 0, ruleBeforeHeader = std::string_view::npos;
  std::string_view header;
  while (pos < entry.size()) {
    const std::string_view line = LineAt(entry, pos, next);
    if (line.starts_with('|') && IsRule(previous)) {
      std::size_t after = 0;
      if (next < entry.size() && IsRule(LineAt(entry, next, after))) {
        header = line;
        ruleBeforeHeader = previousStart;
        pos = after;
        break;
      }
    }
    previous = line;
    previousStart = pos;
    pos = next;
  }
  if (ruleBeforeHeader == std::string_view::npos) {
    problem = "a report without its call stack table";
    return false;
  }
  const std::vector<std::size_t> headerBars = BarPositions(header);
  bool closed = false;
  report.Stack.clear();
  while (pos < entry.size()) {
    const std::string_view line = LineAt(entry, pos, next);
    if (pos + line.size() == entry.size()) break;  // the text ends inside the table
    pos = next;
    if (IsRule(line)) {
      closed = true;
      break;
    }
    if (!line.starts_with('|')) break;
    TStackRow row;
    if (!SplitRow(line, headerBars, row)) {
      // The last line of the text is a row cut short rather than a row of other columns.
      problem = pos >= entry.size() ? "a report cut short in its call stack table"
                                    : "a call stack row that does not split into its six columns";
      return false;
    }
    if (!row.Unit.empty() && report.Stack.size() < kStackRowsKept) report.Stack.push_back(std::move(row));
  }
  if (!closed) {
    problem = "a report cut short in its call stack table";
    return false;
  }

  // The items, in the general section only (a reproduce text below could hold anything).
  const std::string_view general = entry.substr(0, ruleBeforeHeader);
  std::string value;
  for (std::size_t k = 0; k < kKeyItems.size(); ++k)
    report.Key[k] = crashlog::LogEntryValue(general, kKeyItems[k], value) ? std::optional(value) : std::nullopt;
  report.Date = crashlog::LogEntryValue(general, kDateItem, value) ? std::optional(value) : std::nullopt;
  report.Time = report.Date ? ParseMailDate(*report.Date) : std::nullopt;
  report.Version = crashlog::LogEntryValue(general, kVersionItem, value) ? std::optional(value) : std::nullopt;
  report.Tags = SectionItems(general, kTagsTitle);
  report.Dumps.clear();
  for (auto& [label, file] : SectionItems(general, kFilesTitle))
    if (label == kDumpLabel) report.Dumps.push_back(std::move(file));
  return true;
}

TLogSplit SplitLogEntries(std::string_view text) {
  TLogSplit split;
  for (const std::string& entry : crashlog::ParseLogEntries(text)) SplitCutEntries(entry, split);
  // Every entry start before the last end mark has been read; one after it has no end mark.
  const std::size_t lastEnd = text.rfind(crashlog::kLogEntryEnd);
  const std::size_t tail = NextEntryStart(text, lastEnd == std::string_view::npos ? 0 : lastEnd + crashlog::kLogEntryEnd.size() - 2);
  if (tail != std::string_view::npos) {
    std::string_view rest = text.substr(tail);
    while (rest.ends_with(kCrLf)) rest.remove_suffix(kCrLf.size());
    std::string entry(rest);
    entry.append(kCrLf);
    SplitCutEntries(entry, split);
  }
  return split;
}

std::optional<std::int64_t> ParseMailDate(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (const std::size_t comma = text.find(','); comma != std::string_view::npos) text.remove_prefix(comma + 1);
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (!ReadNumber(text, day)) return std::nullopt;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(0, 3));
  if (month == kMonths.end()) return std::nullopt;
  text.remove_prefix(3);
  if (!ReadNumber(text, year) || !ReadNumber(text, hour) || !text.starts_with(':')) return std::nullopt;
  text.remove_prefix(1);
  if (!ReadNumber(text, minute) || !text.starts_with(':')) return std::nullopt;
  text.remove_prefix(1);
  if (!ReadNumber(text, second)) return std::nullopt;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  int zone = 0;
  if (text.size() == 5 && (text[0] == '+' || text[0] == '-')) {
    int hhmm = 0;
    std::string_view digits = text.substr(1);
    if (!ReadNumber(digits, hhmm) || !digits.empty()) return std::nullopt;
    zone = (hhmm / 100 * 60 + hhmm % 100) * (text[0] == '-' ? -1 : 1);
  } else if (!text.empty()) {
    return std::nullopt;
  }
  if (day < 1 || day > 31 || year < 1 || year > 9999 || hour > 23 || minute > 59 || second > 60 || hour < 0 ||
      minute < 0 || second < 0)
    return std::nullopt;
  const int monthNumber = static_cast<int>(month - kMonths.begin()) + 1;
  return DaysFromCivil(year, monthNumber, day) * 86400 + hour * 3600 + minute * 60 + second - zone * 60;
}

}  // namespace pelloran::crashlog_report
