#pragma once
// What the fuzz targets share: a check that fails the way libFuzzer reports (abort), and the
// lookups a crash would run on any debug information that comes out of untrusted bytes.

#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "crashlog/infra/debuginfo/debug_info_format.h"

#define FUZZ_CHECK(condition)                                                             \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

namespace pelloran::fuzz {

// Code offsets worth looking up: both ends and the middle of each of the first units, and the
// byte after each.
inline std::vector<std::uint64_t> UnitProbeOffsets(std::span<const std::uint8_t> data, std::uint16_t version,
                                                   std::uint32_t maxUnits) {
  std::vector<std::uint64_t> offsets;
  TByteReader reader(data);
  std::uint32_t tableSize = 0, count = 0;
  if (version >= crashlog::kNameTableVersion && (!reader.ReadU32(tableSize) || !reader.Skip(tableSize))) return offsets;
  if (!reader.ReadU32(count)) return offsets;
  for (std::uint32_t u = 0; u < count && u < maxUnits; ++u) {
    std::uint32_t firstLine, offset, size, dataSize;
    if (!crashlog::SkipShortName(reader) || !reader.ReadU32(firstLine) || !reader.ReadU32(offset) ||
        !reader.ReadU32(size) || !reader.ReadU32(dataSize) || !reader.Skip(dataSize))
      break;
    const std::uint64_t end = std::uint64_t{offset} + size;
    for (std::uint64_t at : {std::uint64_t{offset}, offset + std::uint64_t{size} / 2, end - 1, end})
      if (at >= offset) offsets.push_back(at);
  }
  return offsets;
}

// Every lookup stays inside the data; the plain search and the unit index agree on every answer;
// a reported line is a line or 0.
inline void CheckDebugInfo(std::span<const std::uint8_t> data, std::uint16_t version) {
  constexpr std::uint64_t kImageBase = 0x00400000;
  constexpr std::uint64_t kCodeBase = kImageBase + crashlog::kCodeSectionRva;
  const auto index = crashlog::TDebugUnitIndex::Build(data, version);
  for (std::uint64_t offset : UnitProbeOffsets(data, version, 32)) {
    const auto plain = crashlog::FindDebugLocation(data, version, kImageBase, kCodeBase + offset);
    const auto indexed = index.Find(data, version, kImageBase, kCodeBase + offset);
    FUZZ_CHECK(plain.has_value() == indexed.has_value());
    if (!plain) continue;
    FUZZ_CHECK(plain->UnitName == indexed->UnitName && plain->ClassName == indexed->ClassName &&
               plain->ProcedureName == indexed->ProcedureName && plain->Line == indexed->Line);
    FUZZ_CHECK(plain->Line >= 0);
    FUZZ_CHECK(plain->UnitName.size() <= 255);
  }
  FUZZ_CHECK(!crashlog::FindDebugLocation(data, version, kImageBase, kCodeBase - 1));

  // The first names of the NameTable are found again (at their first entry's offset or earlier
  // entries with the same name).
  if (version < crashlog::kNameTableVersion) return;
  TByteReader reader(data);
  std::uint32_t size = 0;
  std::span<const std::uint8_t> table;
  if (!reader.ReadU32(size) || !reader.ReadBytes(size, table)) return;
  TByteReader entries(table);
  for (int i = 0; i < 8 && entries.Remaining() > 0; ++i) {
    std::string name;
    std::uint32_t offset, unused;
    if (!crashlog::ReadShortName(entries, name) || !entries.ReadU32(offset) || !entries.ReadU32(unused)) break;
    FUZZ_CHECK(crashlog::FindNameTableOffset(data, version, name).has_value());
  }
}

}  // namespace pelloran::fuzz
