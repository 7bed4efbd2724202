#include "crashlog/infra/diagnostics/version_facts.h"

#include <cstdio>

namespace pelloran::crashlog {

std::string FileVersionText(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
  if (mostSignificant == 0 && leastSignificant == 0) return {};
  return std::to_string(mostSignificant >> 16) + "." + std::to_string(mostSignificant & 0xFFFF) + "." +
         std::to_string(leastSignificant >> 16) + "." + std::to_string(leastSignificant & 0xFFFF);
}

std::string FileDescriptionQuery(std::uint16_t language, std::uint16_t codePage) {
  char text[64];
  std::snprintf(text, sizeof text, "\\StringFileInfo\\%04X%04X\\FileDescription", language, codePage);
  return text;
}

}  // namespace pelloran::crashlog
