#pragma once
// The ".elf" error log as text: one entry per logged report, oldest first. An entry starts with
// "CrashLog " at the start of the content or right after CR LF and ends at the first run of four
// CR LF after it, the first three of which belong to the entry. Pure code without platform
// headers, so that the reader can be built natively and fed any bytes: content that is not a log
// (binary data, an entry without its end) gives what entries it can, in linear time.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

inline constexpr std::string_view kLogEntryStart = "CrashLog ";
inline constexpr std::string_view kLogEntryEnd = "\r\n\r\n\r\n\r\n";
// The most of a log file that is read: a log keeps a few dozen reports; anything bigger is not
// ours to hold in memory whole.
inline constexpr std::size_t kMaxLogReadBytes = 16u << 20;

std::vector<std::string> ParseLogEntries(std::string_view content);

// Removes the oldest entries until fewer than `maxEntries` remain, then appends `text` with four
// CR LF. Runs of more than three CR LF inside `text` (blank lines typed into the reproduce steps)
// are shortened to three, so that the entry is read back whole instead of being cut there.
void AddLogEntry(std::vector<std::string>& entries, std::string_view text, int maxEntries);

// Appends the entries of `more` (entries read back from another file of the same format) that
// neither `entries` nor an earlier one of `more` holds already, compared without their final line
// ends, oldest first; then removes the oldest until at most `maxEntries` (at least one) remain.
// A report that reached the log once is never added to it again, however often it is offered.
void MergeLogEntries(std::vector<std::string>& entries, std::span<const std::string> more, int maxEntries);

// The content to write: every entry followed by CR LF.
std::string LogText(std::span<const std::string> entries);

// The value of item `key` in a logged report ("2.3" finds "\r\n  2.3 Module  : x" and gives
// "x"); false when the entry has no such item.
bool LogEntryValue(std::string_view entry, std::string_view key, std::string& value);

// True at the first entry in which every key has exactly (case-sensitively) its value.
bool FindLogEntry(std::span<const std::string> entries, std::span<const std::string_view> keys,
                  std::span<const std::string> values);

}  // namespace pelloran::crashlog
