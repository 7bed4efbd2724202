#include "crashlog/infra/debuginfo/debug_info_format.h"

#include <algorithm>
#include <limits>

namespace pelloran::crashlog {

namespace {

// Name handling state of one unit while its records are read.
struct TUnitNames {
  std::string LastClass;      // last non-empty class of this unit
  std::string Class;          // class reported for the current range
  std::string Procedure;      // procedure reported for the current range
  std::string LastReadName;   // most recently read procedure name of this unit

  void Apply(std::string name) {
    if (!name.empty() && name.front() == '.') {
      Class = LastClass;
      name.erase(0, 1);
    } else if (const auto dot = name.find('.'); dot != std::string::npos) {
      Class = name.substr(0, dot);
      name.erase(0, dot + 1);
    } else {
      Class.clear();
    }
    if (!name.empty() && name.front() == '@') name.front() = '_';
    if (!Class.empty()) LastClass = Class;
    if (Procedure.empty()) Procedure = name;
    LastReadName = std::move(name);
  }
};

struct TUnitHeader {
  std::string_view StoredName;  // still scrambled
  std::uint32_t FirstLine = 0;
  std::uint32_t CodeOffset = 0;
  std::uint32_t CodeSize = 0;
  std::uint32_t DataSize = 0;
};

bool ReadScrambledView(TByteReader& reader, std::span<const std::uint8_t>& bytes) {
  std::uint8_t length = 0;
  return reader.ReadU8(length) && reader.ReadBytes(length, bytes);
}

std::string Unscramble(std::span<const std::uint8_t> bytes) {
  std::string text(bytes.size(), '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) text[i] = static_cast<char>(bytes[i] ^ kDebugNameKey);
  return text;
}

bool ReadUnitHeader(TByteReader& reader, std::span<const std::uint8_t>& name, TUnitHeader& unit) {
  return ReadScrambledView(reader, name) && reader.ReadU32(unit.FirstLine) &&
         reader.ReadU32(unit.CodeOffset) && reader.ReadU32(unit.CodeSize) && reader.ReadU32(unit.DataSize);
}

// A line that a location cannot hold (only damaged data gives one) is reported as unknown.
std::int32_t ReportedLine(std::int64_t line) {
  return line >= 0 && line <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(line) : 0;
}

bool SkipNameTable(TByteReader& reader, std::uint16_t dataVersion) {
  if (dataVersion < kNameTableVersion) return true;
  std::uint32_t size = 0;
  return reader.ReadU32(size) && reader.Skip(size);
}

}  // namespace

bool ReadShortName(TByteReader& reader, std::string& name) {
  std::span<const std::uint8_t> bytes;
  if (!ReadScrambledView(reader, bytes)) return false;
  name = Unscramble(bytes);
  return true;
}

bool SkipShortName(TByteReader& reader) {
  std::uint8_t length = 0;
  return reader.ReadU8(length) && reader.Skip(length);
}

bool ReadLineRecord(TByteReader& reader, std::uint16_t dataVersion, TLineRecord& record) {
  std::uint8_t first = 0;
  if (!reader.ReadU8(first)) return false;
  if ((first & 1) == 0) {
    record.LineDelta = static_cast<std::int16_t>((first >> 6) + 1);
    record.AddressDelta = ((first >> 1) & 31) + 1;
    record.HasName = false;
  } else if ((first & 2) == 0) {
    record.LineDelta = static_cast<std::int16_t>((first >> 5) + 1);
    record.AddressDelta = ((first >> 2) & 7) + 1;
    record.HasName = true;
  } else {
    record.HasName = (first & 4) != 0;
    if ((first & 8) == 0) {
      std::uint8_t second = 0;
      if (!reader.ReadU8(second)) return false;
      const std::uint16_t word = static_cast<std::uint16_t>(first | (second << 8));
      record.LineDelta = static_cast<std::int16_t>((word >> 11) + 1);
      record.AddressDelta = ((word >> 4) & 127) + 1;
    } else {
      std::uint8_t rest[3];
      for (auto& byte : rest)
        if (!reader.ReadU8(byte)) return false;
      const std::uint32_t value = first | (rest[0] << 8) | (rest[1] << 16) | (static_cast<std::uint32_t>(rest[2]) << 24);
      const std::uint32_t e = value >> 4;
      if (e == kWideDeltaEscape && dataVersion >= kWideDeltaVersion) {
        std::uint16_t line = 0, address = 0;
        if (!reader.ReadU16(line) || !reader.ReadU16(address)) return false;
        record.LineDelta = static_cast<std::int16_t>(static_cast<std::uint16_t>(line + 1));
        record.AddressDelta = static_cast<std::uint16_t>(address + 1);
      } else {
        record.LineDelta = static_cast<std::int16_t>(static_cast<std::uint16_t>((e & 0xFFFF) + 1));
        const std::uint32_t field = e >> 16;
        record.AddressDelta = field == 0xFFF ? 0 : field + 1;
      }
    }
  }
  record.Name.clear();
  return !record.HasName || ReadShortName(reader, record.Name);
}

std::string UnitFileName(std::string_view storedName) {
  std::string name(storedName);
  if (name.find('.') == std::string::npos) name += kSourceFileExtension;
  if (name.size() > 255) name.resize(255);
  return name;
}

namespace {

// Reads the unit header at the reader's position; when the unit holds `address`, decodes its line
// records. `found` tells whether the unit held the address and a location came out of it. False
// when the data ends inside the unit.
bool SearchUnit(TByteReader& reader, std::uint16_t dataVersion, std::uint64_t codeBase, std::uint64_t address,
                std::optional<TDebugLocation>& found) {
  std::span<const std::uint8_t> storedName;
  TUnitHeader unit;
  if (!ReadUnitHeader(reader, storedName, unit)) return false;
  const std::uint64_t unitStart = codeBase + unit.CodeOffset;
  const std::uint64_t unitEnd = unitStart + unit.CodeSize;  // exclusive
  if (address < unitStart || address >= unitEnd) return reader.Skip(unit.DataSize);
  std::span<const std::uint8_t> records;
  if (!reader.ReadBytes(unit.DataSize, records)) return false;
  TByteReader recordReader(records);
  TUnitNames names;
  // Wider than any line a location can report: damaged data may start near the top of the range
  // or add up tens of thousands of deltas, and each step must stay defined.
  std::int64_t line = unit.FirstLine;
  std::uint64_t start = unitStart;
  auto location = [&](std::int64_t atLine) {
    return TDebugLocation{UnitFileName(Unscramble(storedName)), names.Class, names.Procedure, ReportedLine(atLine)};
  };
  TLineRecord record;
  while (recordReader.Remaining() > 0) {
    if (!ReadLineRecord(recordReader, dataVersion, record)) break;  // damaged tail: test what we have
    if (record.HasName) names.Apply(std::move(record.Name));
    const std::int64_t nextLine = line + record.LineDelta;
    const std::uint64_t end = start + record.AddressDelta;
    if (address >= start && address < end) {
      found = location(line);
      return true;
    }
    names.Procedure = names.LastReadName;
    line = nextLine;
    start = end;
  }
  // The rest of the unit belongs to the line after the last record. When the records overran the
  // unit's range, the address lies in a gap of damaged data; later units may still hold it.
  if (address >= start && address < unitEnd) found = location(line);
  return true;
}

}  // namespace

std::optional<TDebugLocation> FindDebugLocation(std::span<const std::uint8_t> debugData,
                                                std::uint16_t dataVersion, std::uint64_t imageBase,
                                                std::uint64_t address) {
  TByteReader reader(debugData);
  if (!SkipNameTable(reader, dataVersion)) return std::nullopt;
  std::uint32_t unitCount = 0;
  if (!reader.ReadU32(unitCount)) return std::nullopt;
  const std::uint64_t codeBase = imageBase + kCodeSectionRva;
  for (std::uint32_t u = 0; u < unitCount; ++u) {
    std::optional<TDebugLocation> found;
    if (!SearchUnit(reader, dataVersion, codeBase, address, found)) return std::nullopt;
    if (found) return found;
  }
  return std::nullopt;
}

TDebugUnitIndex TDebugUnitIndex::Build(std::span<const std::uint8_t> debugData, std::uint16_t dataVersion) {
  TDebugUnitIndex index;
  TByteReader reader(debugData);
  std::uint32_t unitCount = 0;
  if (!SkipNameTable(reader, dataVersion) || !reader.ReadU32(unitCount)) return index;
  index.units_.reserve(std::min<std::size_t>(unitCount, debugData.size() / 21));
  for (std::uint32_t u = 0; u < unitCount; ++u) {
    const std::size_t header = reader.Position();
    std::span<const std::uint8_t> storedName;
    TUnitHeader unit;
    if (!ReadUnitHeader(reader, storedName, unit) || !reader.Skip(unit.DataSize)) break;
    const TUnit entry{unit.CodeOffset, std::uint64_t{unit.CodeOffset} + unit.CodeSize, header};
    if (!index.units_.empty() && entry.Begin < index.units_.back().End) index.sortedAndDisjoint_ = false;
    index.units_.push_back(entry);
  }
  return index;
}

std::optional<TDebugLocation> TDebugUnitIndex::Find(std::span<const std::uint8_t> debugData, std::uint16_t dataVersion,
                                                    std::uint64_t imageBase, std::uint64_t address) const {
  const std::uint64_t codeBase = imageBase + kCodeSectionRva;
  if (address < codeBase) return std::nullopt;
  const std::uint64_t offset = address - codeBase;
  auto search = [&](const TUnit& unit) {
    std::optional<TDebugLocation> found;
    TByteReader reader(debugData);
    reader.Skip(unit.Header);
    SearchUnit(reader, dataVersion, codeBase, address, found);
    return found;
  };
  if (sortedAndDisjoint_) {
    auto it = std::upper_bound(units_.begin(), units_.end(), offset,
                               [](std::uint64_t o, const TUnit& u) { return o < u.Begin; });
    if (it == units_.begin()) return std::nullopt;
    --it;
    if (offset >= it->End) return std::nullopt;
    return search(*it);
  }
  // Overlapping units (not written by our tool): every holder in stream order, as the plain
  // search would try them.
  for (const TUnit& unit : units_) {
    if (offset < unit.Begin || offset >= unit.End) continue;
    if (auto found = search(unit)) return found;
  }
  return std::nullopt;
}

namespace {

// Calls `visit(name, offset, size)` for each entry, the name still scrambled, until it returns
// true. False when the table is damaged before that.
template <class Visit>
bool VisitNameTable(std::span<const std::uint8_t> debugData, std::uint16_t dataVersion, Visit&& visit) {
  if (dataVersion < kNameTableVersion) return false;
  TByteReader reader(debugData);
  std::uint32_t size = 0;
  std::span<const std::uint8_t> table;
  if (!reader.ReadU32(size) || !reader.ReadBytes(size, table)) return false;
  TByteReader entries(table);
  while (entries.Remaining() > 0) {
    std::span<const std::uint8_t> name;
    std::uint32_t offset = 0, entrySize = 0;
    if (!ReadScrambledView(entries, name) || !entries.ReadU32(offset) || !entries.ReadU32(entrySize)) return false;
    if (visit(name, offset, entrySize)) return true;
  }
  return true;
}

}  // namespace

std::optional<std::vector<TNameTableEntry>> ReadNameTable(std::span<const std::uint8_t> debugData,
                                                          std::uint16_t dataVersion) {
  std::vector<TNameTableEntry> table;
  const bool whole = VisitNameTable(debugData, dataVersion, [&](auto name, std::uint32_t offset, std::uint32_t size) {
    table.push_back({Unscramble(name), offset, size});
    return false;
  });
  if (!whole) return std::nullopt;
  return table;
}

std::optional<std::uint32_t> FindNameTableOffset(std::span<const std::uint8_t> debugData,
                                                 std::uint16_t dataVersion, std::string_view fullName) {
  std::optional<std::uint32_t> found;
  VisitNameTable(debugData, dataVersion, [&](std::span<const std::uint8_t> name, std::uint32_t offset, std::uint32_t) {
    if (name.size() != fullName.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
      if (static_cast<char>(name[i] ^ kDebugNameKey) != fullName[i]) return false;
    found = offset;
    return true;
  });
  return found;
}

}  // namespace pelloran::crashlog
