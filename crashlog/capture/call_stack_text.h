#pragma once
// The rows of a report's call stack table. A stack overflow leaves thousands of frames of one
// recursion, which would make a report of megabytes: a run of rows that repeats is shown once,
// followed by a row saying how often it ran, and when more than kMaxStackTableRows rows remain
// after that, only the first and the last kStackTableRowsAtEachEnd are kept, with a row saying
// how many were left out. The error dialog's call-stack page still lists every frame.
//
// Pure code, no platform headers: rows are told apart by their addresses alone (one address,
// one location).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashlog/infra/options/option_stream.h"

namespace pelloran::crashlog {

inline constexpr std::size_t kMaxStackTableRows = 200;
inline constexpr std::size_t kStackTableRowsAtEachEnd = 100;
// The longest run that is looked for: a recursion through up to this many procedures.
inline constexpr std::size_t kLongestRepeatedRun = 32;

struct TStackTableRow {
  enum class TKind { Frame, Repeat, LeftOut };
  TKind Kind = TKind::Frame;
  std::size_t Frame = 0;  // Frame: index of the frame it shows
  std::size_t Rows = 0;   // Repeat: the rows just above that repeat; LeftOut: the rows left out
  std::size_t Times = 0;  // Repeat: how many times they ran in all (2 or more)
};

// The table's rows for frames with these addresses, innermost first.
std::vector<TStackTableRow> FoldStackRows(std::span<const std::uint32_t> addresses);

// The text of a Repeat or LeftOut row, shown in the procedure cell (from the option set's texts).
std::string FoldRowText(const TStackTableRow& row, const TCrashOptionValues& texts);

// A name as a cell of the table shows it: a name longer than kMaxStackCellBytes (a C++ template's,
// of thousands of bytes) is cut at a whole (GBK) character and ends in "...", so that one name
// cannot widen every row of a long table beyond the report's bound.
inline constexpr std::size_t kMaxStackCellBytes = 200;
std::string StackCellText(std::string_view name);

}  // namespace pelloran::crashlog
