#include "crashlog/infra/options/module_payload.h"

namespace pelloran::crashlog {

std::vector<std::uint8_t> EncodeModulePayload(std::span<const std::uint8_t> optionStream) {
  std::vector<std::uint8_t> payload;
  payload.reserve(optionStream.size() + 1);
  payload.push_back(kOptionsPublished);
  payload.insert(payload.end(), optionStream.begin(), optionStream.end());
  return payload;
}

std::optional<std::span<const std::uint8_t>> DecodeModulePayload(std::span<const std::uint8_t> payload) {
  if (payload.empty() || payload[0] == kNothingPublished) return std::nullopt;
  return payload.subspan(1);
}

}  // namespace pelloran::crashlog
