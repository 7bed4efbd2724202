#pragma once
// Addresses and values as reports and traces show them: eight upper-case hexadecimal digits.

#include <cstdint>
#include <string>

namespace pelloran {

std::string Hex8(std::uint32_t value);

}  // namespace pelloran
