#include "crashlog/capture/call_stack_text.h"

#include "base/ansi_path.h"
#include "crashlog/infra/diagnostics/diagnostics_text.h"

#include <algorithm>

namespace pelloran::crashlog {

namespace {

using TKind = TStackTableRow::TKind;

// How many times the run of `period` addresses at `at` follows itself.
std::size_t RepeatsOf(std::span<const std::uint32_t> addresses, std::size_t at, std::size_t period) {
  const auto run = addresses.subspan(at, period);
  std::size_t times = 1;
  for (std::size_t next = at + period; next + period <= addresses.size(); next += period, ++times)
    if (!std::equal(run.begin(), run.end(), addresses.begin() + static_cast<std::ptrdiff_t>(next))) break;
  return times;
}

std::vector<TStackTableRow> FoldRepeats(std::span<const std::uint32_t> addresses) {
  std::vector<TStackTableRow> rows;
  for (std::size_t at = 0; at < addresses.size();) {
    // The run that saves the most rows (the shortest of equals): `period` rows and one fold row
    // stand for period × times rows.
    std::size_t bestPeriod = 0, bestTimes = 1, bestSaving = 0;
    const std::size_t longest = std::min(kLongestRepeatedRun, (addresses.size() - at) / 2);
    for (std::size_t period = 1; period <= longest; ++period) {
      const std::size_t times = RepeatsOf(addresses, at, period);
      const std::size_t saving = period * (times - 1) > 1 ? period * (times - 1) - 1 : 0;
      if (saving > bestSaving) {
        bestPeriod = period;
        bestTimes = times;
        bestSaving = saving;
      }
    }
    if (bestPeriod == 0) {
      rows.push_back({TKind::Frame, at});
      ++at;
      continue;
    }
    for (std::size_t i = 0; i < bestPeriod; ++i) rows.push_back({TKind::Frame, at + i});
    rows.push_back({TKind::Repeat, 0, bestPeriod, bestTimes});
    at += bestPeriod * bestTimes;
  }
  return rows;
}

// The first row of the group that holds row `index`: a repeated run and its fold row stay together.
std::size_t GroupStart(const std::vector<TStackTableRow>& rows, std::size_t index) {
  for (std::size_t r = index; r < rows.size() && r <= index + kLongestRepeatedRun; ++r) {
    if (rows[r].Kind != TKind::Repeat) continue;
    const std::size_t start = r - rows[r].Rows;
    return start <= index ? start : index;
  }
  return index;
}

}  // namespace

std::vector<TStackTableRow> FoldStackRows(std::span<const std::uint32_t> addresses) {
  std::vector<TStackTableRow> rows = FoldRepeats(addresses);
  if (rows.size() <= kMaxStackTableRows) return rows;
  // The head ends and the tail starts at a group's edge.
  const std::size_t headEnd = GroupStart(rows, kStackTableRowsAtEachEnd);
  std::size_t tailStart = rows.size() - kStackTableRowsAtEachEnd;
  if (const std::size_t start = GroupStart(rows, tailStart); start < tailStart) {
    while (rows[tailStart].Kind != TKind::Repeat) ++tailStart;
    ++tailStart;
  }
  std::vector<TStackTableRow> cut(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(headEnd));
  cut.push_back({TKind::LeftOut, 0, tailStart - headEnd, 0});
  cut.insert(cut.end(), rows.begin() + static_cast<std::ptrdiff_t>(tailStart), rows.end());
  return cut;
}

std::string FoldRowText(const TStackTableRow& row, const TCrashOptionValues& texts) {
  const std::string rows = std::to_string(row.Rows);
  switch (row.Kind) {
    case TKind::Repeat:
      if (row.Rows == 1) return FillPlaceholders(texts.StackRepeatOneRow, {std::to_string(row.Times)});
      return FillPlaceholders(texts.StackRepeatRows, {rows, std::to_string(row.Times)});
    case TKind::LeftOut:
      return FillPlaceholders(row.Rows == 1 ? texts.StackLeftOutOneRow : texts.StackLeftOutRows, {rows});
    case TKind::Frame:
      break;
  }
  return {};
}

std::string StackCellText(std::string_view name) {
  if (name.size() <= kMaxStackCellBytes) return std::string(name);
  constexpr std::string_view kCut = "...";
  std::size_t end = 0;
  while (end < name.size()) {
    const std::size_t next = end + (IsGbkLeadByte(static_cast<unsigned char>(name[end])) ? 2 : 1);
    if (next > kMaxStackCellBytes - kCut.size()) break;
    end = next;
  }
  return std::string(name.substr(0, end)) + std::string(kCut);
}

}  // namespace pelloran::crashlog
