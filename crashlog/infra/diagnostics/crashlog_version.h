#pragma once
// The reporter's name and version, as reports, mails and the reporter's own bug mails show them.

#include <string_view>

namespace pelloran::crashlog {

// The first line of every report.
inline constexpr std::string_view kCrashLogTitle = "CrashLog 4.5.4";
// The version alone ("4.5.4"), as the mails' X-Library header carries it after the name.
inline constexpr std::string_view kCrashLogVersion = kCrashLogTitle.substr(kCrashLogTitle.find(' ') + 1);

}  // namespace pelloran::crashlog
