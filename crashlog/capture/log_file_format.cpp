#include "crashlog/capture/log_file_format.h"

#include <iterator>
#include <unordered_set>

namespace pelloran::crashlog {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// Where the next entry starts at or after `from`: "CrashLog " at offset 0 or after CR LF.
std::size_t NextEntryStart(std::string_view content, std::size_t from) {
  for (std::size_t at = content.find(kLogEntryStart, from); at != std::string_view::npos;
       at = content.find(kLogEntryStart, at + 1)) {
    if (at == 0 || (at >= 2 && content.substr(at - 2, 2) == kCrLf)) return at;
  }
  return std::string_view::npos;
}

// An entry without the CR LF pairs that end it: the same report reads back with three of them and
// is added with four.
std::string_view WithoutFinalLineEnds(std::string_view entry) {
  while (entry.size() >= 2 && entry.substr(entry.size() - 2) == kCrLf) entry.remove_suffix(2);
  return entry;
}

}  // namespace

std::vector<std::string> ParseLogEntries(std::string_view content) {
  std::vector<std::string> entries;
  std::size_t from = 0;
  for (;;) {
    const std::size_t start = NextEntryStart(content, from);
    if (start == std::string_view::npos) break;
    const std::size_t end = content.find(kLogEntryEnd, start);
    if (end == std::string_view::npos) break;  // an entry without its end is dropped
    entries.emplace_back(content.substr(start, end + 3 * kCrLf.size() - start));
    from = end;
  }
  return entries;
}

void AddLogEntry(std::vector<std::string>& entries, std::string_view text, int maxEntries) {
  const std::size_t keep = maxEntries > 0 ? static_cast<std::size_t>(maxEntries) - 1 : 0;
  if (entries.size() > keep) entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(keep));

  std::string entry;
  entry.reserve(text.size() + kLogEntryEnd.size());
  int run = 0;  // CR LF pairs in a row so far
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 2) == kCrLf) {
      if (++run <= 3) entry.append(kCrLf);
      ++i;
      continue;
    }
    run = 0;
    entry.push_back(text[i]);
  }
  entry.append(kLogEntryEnd);
  entries.push_back(std::move(entry));
}

void MergeLogEntries(std::vector<std::string>& entries, std::span<const std::string> more, int maxEntries) {
  std::unordered_set<std::string_view> held;
  for (const std::string& entry : entries) held.insert(WithoutFinalLineEnds(entry));
  std::vector<std::string> added;
  for (const std::string& entry : more)
    if (held.insert(WithoutFinalLineEnds(entry)).second) added.push_back(entry);
  held.clear();  // its views point into `entries`, which grows next
  entries.insert(entries.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
  const std::size_t keep = maxEntries > 1 ? static_cast<std::size_t>(maxEntries) : 1;
  if (entries.size() > keep) entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(keep));
}

std::string LogText(std::span<const std::string> entries) {
  std::size_t size = 0;
  for (const std::string& entry : entries) size += entry.size() + kCrLf.size();
  std::string text;
  text.reserve(size);
  for (const std::string& entry : entries) text.append(entry).append(kCrLf);
  return text;
}

bool LogEntryValue(std::string_view entry, std::string_view key, std::string& value) {
  std::string marker;
  marker.append(kCrLf).append("  ").append(key).append(" ");
  const std::size_t item = entry.find(marker);
  if (item == std::string_view::npos) return false;
  const std::size_t colon = entry.find(": ", item + marker.size());
  if (colon == std::string_view::npos) return false;
  const std::size_t begin = colon + 2;
  const std::size_t end = entry.find(kCrLf, begin);
  value.assign(entry.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
  return true;
}

bool FindLogEntry(std::span<const std::string> entries, std::span<const std::string_view> keys,
                  std::span<const std::string> values) {
  if (keys.size() != values.size()) return false;
  std::string value;
  for (const std::string& entry : entries) {
    bool all = true;
    for (std::size_t k = 0; k < keys.size() && all; ++k)
      all = LogEntryValue(entry, keys[k], value) && value == values[k];
    if (all) return true;
  }
  return false;
}

}  // namespace pelloran::crashlog
