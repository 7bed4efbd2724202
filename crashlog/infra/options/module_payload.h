#pragma once
// The payload of a module's MODULE channel, through which it publishes run-time changes of its
// options: u8 1, then an OptionStream in the current layout; a single byte 0 means nothing is
// published. Pure code: the bytes come from another module's shared memory and are not trusted.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pelloran::crashlog {

inline constexpr std::uint8_t kNothingPublished = 0;
inline constexpr std::uint8_t kOptionsPublished = 1;

std::vector<std::uint8_t> EncodeModulePayload(std::span<const std::uint8_t> optionStream);
// The published OptionStream (a view into `payload`), or nothing when the payload is empty or
// its first byte is 0. Any other first byte counts as published.
std::optional<std::span<const std::uint8_t>> DecodeModulePayload(std::span<const std::uint8_t> payload);

}  // namespace pelloran::crashlog
