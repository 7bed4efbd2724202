#pragma once
// What the version resource of a file says: read by the module list for every module and by the
// machine facts for the program itself. The text forms are pure; ReadVersionFacts asks the system.

#include <cstdint>
#include <string>

namespace pelloran::crashlog {

// Both empty when the file has no version resource.
struct TVersionFacts {
  std::string Description;
  std::string Version;
};
TVersionFacts ReadVersionFacts(const std::string& file);

// major.minor.release.build from the two version words of a version resource; "" for 0.0.0.0.
std::string FileVersionText(std::uint32_t mostSignificant, std::uint32_t leastSignificant);
// "\StringFileInfo\<language><code page>\FileDescription", both as 4 upper-case hex digits.
std::string FileDescriptionQuery(std::uint16_t language, std::uint16_t codePage);

}  // namespace pelloran::crashlog
