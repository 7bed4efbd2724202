#pragma once
// One logged report as the report tool needs it: the items that identify the error, found by
// their numbers (their labels are texts of the reporter's options and differ between programs),
// the date and version items, and the first rows of the call stack table that name a unit.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelloran::crashlog_report {

// Address, module, type and message of the exception: the key of a group.
inline constexpr std::array<std::string_view, 4> kKeyItems = {"2.2", "2.3", "2.4", "2.5"};
inline constexpr std::string_view kDateItem = "2.1";
inline constexpr std::string_view kVersionItem = "1.3";
inline constexpr std::size_t kStackRowsKept = 3;

struct TStackRow {
  std::string Address, Module, Unit, Class, Procedure, Line;
  bool operator==(const TStackRow&) const = default;
};

struct TReportEntry {
  std::array<std::optional<std::string>, 4> Key;  // absent when the program leaves the item out
  std::optional<std::string> Date;
  std::optional<std::int64_t> Time;  // Date in seconds since 1970 UTC, when it reads as a mail date
  std::optional<std::string> Version;
  std::vector<TStackRow> Stack;  // the first kStackRowsKept rows with a unit
  std::vector<std::pair<std::string, std::string>> Tags;  // the program's tags: name, value
  std::vector<std::string> Dumps;                          // the minidumps the report names
};

// The sections the reporter adds after the general section, under fixed titles.
inline constexpr std::string_view kTagsTitle = "Tags:";
inline constexpr std::string_view kFilesTitle = "Files:";
inline constexpr std::string_view kDumpLabel = "Minidump";

// False, with the reason, when the text is not a whole report: its call stack table is missing,
// cut short or cannot be split into columns.
bool ReadReportEntry(std::string_view entry, TReportEntry& report, std::string& problem);

// The entries of a log's text, as the reporter's own reader finds them, plus a last entry
// without the log's end mark (a mailed copy of one report ends so). An entry cut short and
// followed by another one is split from it and given as a problem instead.
struct TLogSplit {
  std::vector<std::string> Entries;
  std::vector<std::string> Problems;
};
TLogSplit SplitLogEntries(std::string_view text);

// "Tue, 8 Dec 2026 03:37:29 +0800" (the day name optional) in seconds since 1970 UTC.
std::optional<std::int64_t> ParseMailDate(std::string_view text);

}  // namespace pelloran::crashlog_report
