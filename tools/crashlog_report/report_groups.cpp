#include "tools/crashlog_report/report_groups.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <tuple>

namespace pelloran::crashlog_report {

namespace {

// The key as one text: each item with its presence, so that an absent item and an empty one
// differ.
std::string KeyText(const std::array<std::optional<std::string>, 4>& key) {
  std::string text;
  for (const auto& item : key) {
    if (!item) {
      text.append("-\n");
      continue;
    }
    text.append("+").append(std::to_string(item->size())).append(":").append(*item).append("\n");
  }
  return text;
}

// The text without the line ends at its end: a log keeps three after a report, its mailed copy
// one.
std::string_view WithoutFinalLineEnds(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

// "2.10.0.1" as its numbers, and the rest of the text after them.
std::vector<unsigned long long> VersionNumbers(std::string_view text, std::string_view& rest) {
  std::vector<unsigned long long> numbers;
  for (;;) {
    unsigned long long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end == text.data()) break;
    numbers.push_back(number);
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    if (!text.starts_with('.')) break;
    text.remove_prefix(1);
  }
  rest = text;
  return numbers;
}

}  // namespace

bool VersionBefore(std::string_view a, std::string_view b) {
  std::string_view restA, restB;
  const auto numbersA = VersionNumbers(a, restA);
  const auto numbersB = VersionNumbers(b, restB);
  if (numbersA != numbersB) return numbersA < numbersB;
  return restA < restB;
}

bool TReportGroups::Add(std::string_view entryText, const TReportEntry& entry) {
  const std::string_view text = WithoutFinalLineEnds(entryText);
  const TTextIdentity id{std::hash<std::string_view>{}(text), text.size()};
  std::size_t& counted = counted_[id];
  if (++inLog_[id] <= counted) {
    ++repeated_;
    return false;
  }
  counted = inLog_[id];
  ++entries_;
  TReportGroup& group = groups_[KeyText(entry.Key)];
  if (group.Count++ == 0) group.Key = entry.Key;
  if (entry.Time) {
    if (!group.FirstDate || *entry.Time < group.FirstTime) {
      group.FirstDate = entry.Date;
      group.FirstTime = *entry.Time;
    }
    if (!group.LastDate || *entry.Time > group.LastTime) {
      group.LastDate = entry.Date;
      group.LastTime = *entry.Time;
    }
  }
  if (entry.Version) {
    const auto at = std::lower_bound(group.Versions.begin(), group.Versions.end(), *entry.Version,
                                     [](const std::string& a, const std::string& b) { return VersionBefore(a, b); });
    if (at == group.Versions.end() || *at != *entry.Version) group.Versions.insert(at, *entry.Version);
  }
  for (const auto& [name, value] : entry.Tags) ++group.Tags[name][value];
  group.Dumps.insert(group.Dumps.end(), entry.Dumps.begin(), entry.Dumps.end());
  // The latest report's stack; a report without a date only when there is none yet.
  if (group.Count == 1 || (entry.Time && (!group.StackTime || *entry.Time >= *group.StackTime))) {
    group.Stack = entry.Stack;
    group.StackTime = entry.Time;
  }
  return true;
}

std::vector<TReportGroup> TReportGroups::Sorted() const {
  std::vector<std::pair<const std::string*, const TReportGroup*>> order;
  order.reserve(groups_.size());
  for (const auto& [key, group] : groups_) order.push_back({&key, &group});
  std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    const TReportGroup& x = *a.second;
    const TReportGroup& y = *b.second;
    const std::int64_t lastX = x.LastDate ? x.LastTime : INT64_MIN;
    const std::int64_t lastY = y.LastDate ? y.LastTime : INT64_MIN;
    return std::tie(y.Count, lastY, *a.first) < std::tie(x.Count, lastX, *b.first);
  });
  std::vector<TReportGroup> sorted;
  sorted.reserve(order.size());
  for (const auto& [key, group] : order) sorted.push_back(*group);
  return sorted;
}

}  // namespace pelloran::crashlog_report
