#pragma once
// What the program adds to every later report: named facts (tags) and files to attach. Set from
// any thread at any time; the pipeline takes a copy when it composes a report. Bounded, so that a
// program that sets a tag per request cannot make the report grow without end.

#include <cstddef>
#include <string>
#include <string_view>

#include "crashlog/capture/report_text.h"

namespace pelloran::crashlog {

inline constexpr std::size_t kMaxTags = 64;
inline constexpr std::size_t kMaxTagBytes = 256;  // a longer name or value is cut
inline constexpr std::size_t kMaxFiles = 8;

// Sets or replaces the tag `name`. False when the name is empty or kMaxTags others are set.
bool SetReportTag(std::string_view name, std::string_view value);
void RemoveReportTag(std::string_view name);
// Adds a file once. False when the path is empty or kMaxFiles are named already.
bool AddReportFile(std::string_view path);
// Tags in the order they were first set, and files; DumpFile empty.
TAddedFacts ReportAdditions();
// Back to none (the reporter's removal).
void ClearReportAdditions();

}  // namespace pelloran::crashlog
