// Any bytes as an export name, as code whose size is estimated, and as a sorted export list that
// is searched for addresses (checked against a plain scan of the list).

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "crashlog/infra/debuginfo/modules_exports.h"
#include "tests/fuzz/fuzz_checks.h"

using namespace pelloran::crashlog;

namespace {

bool Holds(const TCrashFunctionInfo& f, std::uint32_t address) {
  return f.Address <= address && address - f.Address <= f.Size;
}

bool OverlapByPairs(const TCrashFunctionsList& list) {
  for (std::size_t i = 0; i < list.size(); ++i)
    for (std::size_t j = i + 1; j < list.size(); ++j)
      if (list[j].Address <= std::uint64_t{list[i].Address} + list[i].Size) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  const auto parts = ParseExportName(name);
  FUZZ_CHECK(parts.LocationKind >= 1 && parts.LocationKind <= 3);
  FUZZ_CHECK(parts.ProcedureName.empty() || parts.ProcedureName.front() != '@');
  if (parts.LocationKind == 2) FUZZ_CHECK(parts.ProcedureName == name && parts.UnitName.empty());
  if (parts.LocationKind == 3) FUZZ_CHECK(parts.UnitName.ends_with(".cpp"));
  if (parts.LocationKind == 1) FUZZ_CHECK(parts.UnitName.empty() && parts.ProcedureName.empty());

  const std::span<const std::uint8_t> code(data, size);
  FUZZ_CHECK(EstimateCodeSize(code) <= std::max<std::size_t>(1, size));

  // Entries of 6 bytes: u32 address, u16 size; sorted by address as the registry keeps them.
  TCrashFunctionsList list;
  for (std::size_t at = 0; at + 6 <= size && list.size() < 64; at += 6) {
    TCrashFunctionInfo f;
    f.Address = data[at] | data[at + 1] << 8 | data[at + 2] << 16 | static_cast<std::uint32_t>(data[at + 3]) << 24;
    f.Size = data[at + 4] | data[at + 5] << 8;
    list.push_back(f);
  }
  std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.Address < b.Address; });
  const bool overlap = ExportsOverlap(list);
  FUZZ_CHECK(overlap == OverlapByPairs(list));
  for (const auto& f : list) {
    for (std::uint32_t address : {f.Address, f.Address + f.Size, f.Address - 1, f.Address + f.Size + 1}) {
      const bool held = std::any_of(list.begin(), list.end(), [&](const auto& g) { return Holds(g, address); });
      for (bool mayOverlap : {true, overlap}) {
        const int found = FindExportIndex(list, address, mayOverlap);
        FUZZ_CHECK(found == -1 || Holds(list[static_cast<std::size_t>(found)], address));
        FUZZ_CHECK((found != -1) == held);
      }
    }
  }
  return 0;
}
