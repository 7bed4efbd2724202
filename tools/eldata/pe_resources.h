#pragma once
// The resource tree of a PE image (type / name / language -> bytes): read from an image and
// written as the contents of a resource section placed at a given RVA.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/eldata/pe_image.h"

namespace pelloran::eldata {

inline constexpr std::uint16_t kRcData = 10;

// A resource type or name: a number or a string. Strings sort before numbers, as the system's
// lookup expects, and among themselves by upper-case code units.
struct TResourceKey {
  bool IsName = false;
  std::uint16_t Id = 0;
  std::u16string Name;  // stored upper-case when made by NamedKey

  static TResourceKey Numbered(std::uint16_t id) { return {false, id, {}}; }
  static TResourceKey Named(std::string_view ascii);
  bool operator<(const TResourceKey& other) const;
};

struct TResourceData {
  std::vector<std::uint8_t> Bytes;
  std::uint32_t CodePage = 0;
};

using TResourceLanguages = std::map<std::uint16_t, TResourceData>;
using TResourceNames = std::map<TResourceKey, TResourceLanguages>;
using TResourceTree = std::map<TResourceKey, TResourceNames>;

// The image's resources (empty when it has none). Throws std::runtime_error on a damaged tree.
TResourceTree ReadResources(const TPeImage& image);
// The bytes of a resource section holding `tree`, to be mapped at `sectionRva`.
std::vector<std::uint8_t> BuildResourceSection(const TResourceTree& tree, std::uint32_t sectionRva);

}  // namespace pelloran::eldata
