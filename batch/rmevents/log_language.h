#pragma once
// The language of the tool's log and console lines. The lines "***" and the prefix "Error:",
// which the batch runner reads, are the same in both.

#include <cstdint>
#include <string>

namespace pelloran::rmevents {

enum class LogLanguage { English, Chinese };

// Chinese for a Simplified Chinese interface whose ANSI code page is 936: the log is written in
// that code page, and a Chinese text in another one would be unreadable.
LogLanguage LanguageFor(uint16_t uiLanguage, unsigned ansiCodePage);

// The text in the run's language (narrow literals are GBK in the program).
inline const char* Say(LogLanguage language, const char* english, const char* chinese) {
  return language == LogLanguage::Chinese ? chinese : english;
}

// "3 packets" or "3 个数据包".
std::string Count(LogLanguage language, uint64_t n, const char* one, const char* many,
                  const char* chinese);

}  // namespace pelloran::rmevents
