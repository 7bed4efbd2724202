// Any bytes as a module's debug information: the first two bytes choose the DataVersion
// (little-endian), the rest is the DebugData stream that a damaged ELDATA body would carry.

#include <cstdint>

#include "tests/fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto version = static_cast<std::uint16_t>(data[0] | data[1] << 8);
  pelloran::fuzz::CheckDebugInfo(std::span<const std::uint8_t>(data + 2, size - 2), version);
  return 0;
}
