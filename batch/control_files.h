#pragma once
// Contents of the two control files handed to the events tool, and the reading of its log.
// Pure text: the files are written and read by batch_io.

#include <string>
#include <string_view>
#include <vector>

namespace pelloran {

inline constexpr char kEventsFileName[] = "blank.txt";
inline constexpr char kImageMapFileName[] = "blank2.txt";
inline constexpr char kToolLogFileName[] = "result.txt";
inline constexpr char kEventsToolName[] = "rmevents.exe";

// The events file: title, author (the vendor's host) and copyright events over the first 10 s.
std::string EventsFileText();
// The image-map file: one empty map with one empty area.
std::string ImageMapFileText();

// One argument as the C runtime's command-line parsing gives it back whole: in double quotes,
// with the backslashes before a quote (and before the closing quote) doubled.
std::wstring QuotedArgument(std::wstring_view argument);
// The events tool's parameters for one job:
//   -i "in" -o "out" -e "blank.txt" -m "blank2.txt" -l "result.txt"
std::wstring EventsToolParameters(std::wstring_view input, std::wstring_view output);

// Splits at CR, LF or CR LF; anything after a NUL byte is dropped.
std::vector<std::string> SplitLogLines(std::string_view raw);
// The log as it is searched and shown: every line followed by CR LF.
std::string NormaliseLog(std::string_view raw);
// The tool marks the end of its log with three asterisks.
bool LogMarksFinished(std::string_view normalisedLog);

}  // namespace pelloran
