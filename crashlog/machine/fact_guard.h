#pragma once
// Gathering of one report fact: any failure gives the empty text, as a report must always be
// composed.

#include <string>

namespace pelloran::crashlog {

template <typename Gather>
std::string Fact(Gather gather) noexcept {
  try {
    return gather();
  } catch (...) {
    return {};
  }
}

}  // namespace pelloran::crashlog
