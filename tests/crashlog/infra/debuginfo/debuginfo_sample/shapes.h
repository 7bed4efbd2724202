#pragma once
// Code that the sample program gets from a header: inline functions, a class template and a
// function template, so that addresses of code written here land in the sample's functions.

#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <string>
#include <vector>

namespace sample {

inline std::uint32_t Mix(std::uint32_t h, std::uint32_t v) {
  h ^= v + 0x9E3779B9u + (h << 6) + (h >> 2);
  return h * 16777619u;
}

template <typename T>
class TAccumulator {
 public:
  void Add(const T& value) {
    items_.push_back(value);
    if (items_.size() > 64) items_.erase(items_.begin(), items_.begin() + 32);
  }
  T Sum() const { return std::accumulate(items_.begin(), items_.end(), T{}); }
  T Largest() const { return items_.empty() ? T{} : *std::max_element(items_.begin(), items_.end()); }

 private:
  std::vector<T> items_;
};

template <typename Key, typename Value>
Value LookupOr(const std::map<Key, Value>& map, const Key& key, Value fallback) {
  const auto it = map.find(key);
  return it == map.end() ? fallback : it->second;
}

}  // namespace sample
