#include "batch/rmevents/log_language.h"

namespace pelloran::rmevents {

LogLanguage LanguageFor(uint16_t uiLanguage, unsigned ansiCodePage) {
  constexpr uint16_t kSimplifiedChinese = 0x0804;
  constexpr unsigned kChineseCodePage = 936;
  return uiLanguage == kSimplifiedChinese && ansiCodePage == kChineseCodePage
             ? LogLanguage::Chinese
             : LogLanguage::English;
}

std::string Count(LogLanguage language, uint64_t n, const char* one, const char* many,
                  const char* chinese) {
  if (language == LogLanguage::Chinese) return std::to_string(n) + " " + chinese;
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace pelloran::rmevents
