#pragma once
// The packed debug information a module carries after its OptionStream (the DebugData stream),
// and the lookups the crash reporter runs on it. Pure code over byte buffers: the build tool on
// the build machine decodes with exactly these functions to check what it wrote.
//
// Layout, all integers little-endian, names one length byte + that many bytes XOR 0x5B:
//   NameTable (DataVersion >= 405): u32 byte size, then { name, u32 code offset, u32 size }.
//   UnitTable: u32 count, then per unit { name, u32 FirstLine, u32 CodeOffset, u32 CodeSize,
//              u32 DataSize, DataSize bytes of line records }.
// Code offsets count from the module's code section, which starts at image base + 0x1000.
//
// A line record moves the current (line, address) pair: the range [start, start + address delta)
// belongs to the current line, then the line moves by the (signed 16-bit) line delta. A record
// may carry a name "Class.Proc", ".Proc" (same class as before) or "Proc"; a name announces the
// procedure that starts where the record's range ends (the very first name of a unit also covers
// its own range), while its class takes effect at once. Writers put a class change on a record
// of zero length so that no range is reported with the next procedure's class.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashlog/infra/options/option_stream.h"
#include "base/byte_stream_le.h"

namespace pelloran::crashlog {

// Names are scrambled like stored option strings.
inline constexpr std::uint8_t kDebugNameKey = kScrambleKey;
// The code section of every module this project builds starts here (relative to the image base).
inline constexpr std::uint32_t kCodeSectionRva = 0x1000;
// Appended to unit names that carry no extension of their own.
inline constexpr std::string_view kSourceFileExtension = ".cpp";
// DataVersion from which the NameTable precedes the UnitTable.
inline constexpr std::uint16_t kNameTableVersion = 405;
// DataVersion from which a 4-byte record of value 0x0FFEFFFE escapes to two 16-bit deltas.
inline constexpr std::uint16_t kWideDeltaVersion = 423;
// The escape value of the 4-byte record form (bits 4..31 of the record).
inline constexpr std::uint32_t kWideDeltaEscape = 0x0FFEFFFE;

// One decoded line record. AddressDelta may be 0 (a record that only moves the line or names).
struct TLineRecord {
  std::int16_t LineDelta = 0;
  std::uint32_t AddressDelta = 0;
  bool HasName = false;
  std::string Name;  // unscrambled, as stored
};

// Reads one line record (with its name, if any). False when the bytes end inside the record.
bool ReadLineRecord(TByteReader& reader, std::uint16_t dataVersion, TLineRecord& record);

// Reads a scrambled short string. False when it does not fit.
bool ReadShortName(TByteReader& reader, std::string& name);
// Skips a short string without unscrambling it.
bool SkipShortName(TByteReader& reader);

// The unit name as reported: the stored name, with the source-file extension when it has no '.',
// cut to 255 characters.
std::string UnitFileName(std::string_view storedName);

// Where a code address lies according to the debug information.
struct TDebugLocation {
  std::string UnitName;
  std::string ClassName;
  std::string ProcedureName;
  std::int32_t Line = 0;  // 0 when unknown, also when damaged data gives a line outside 0..2^31-1
};

// Looks `address` up in the debug information of the module loaded at `imageBase`. Only the
// unit whose code range holds the address has its line records decoded; the others are skipped
// by their DataSize. Damaged data ends the search without a result; it never reads out of bounds.
std::optional<TDebugLocation> FindDebugLocation(std::span<const std::uint8_t> debugData,
                                                std::uint16_t dataVersion, std::uint64_t imageBase,
                                                std::uint64_t address);

// The unit table of one module's debug information, read once: where each unit's header lies and
// which code it covers. Lookups through it give exactly what FindDebugLocation gives, without
// walking every unit header each time (a program has thousands of units: one per stretch of code
// from one source file or header).
class TDebugUnitIndex {
 public:
  // One pass over the unit headers; the index ends before the first unit that does not fit.
  static TDebugUnitIndex Build(std::span<const std::uint8_t> debugData, std::uint16_t dataVersion);

  std::optional<TDebugLocation> Find(std::span<const std::uint8_t> debugData, std::uint16_t dataVersion,
                                     std::uint64_t imageBase, std::uint64_t address) const;
  std::size_t UnitCount() const noexcept { return units_.size(); }

 private:
  struct TUnit {
    std::uint64_t Begin = 0;  // code offsets, End exclusive
    std::uint64_t End = 0;
    std::size_t Header = 0;   // position of the unit's header in the data
  };
  std::vector<TUnit> units_;       // in stream order
  bool sortedAndDisjoint_ = true;  // then a binary search finds the one unit holding an address
};

// One NameTable entry as stored (name unscrambled).
struct TNameTableEntry {
  std::string FullName;
  std::uint32_t CodeOffset = 0;
  std::uint32_t Size = 0;
};

// Every NameTable entry in stream order; nothing when the table is damaged (the lookups below then
// find nothing either).
std::optional<std::vector<TNameTableEntry>> ReadNameTable(std::span<const std::uint8_t> debugData,
                                                          std::uint16_t dataVersion);

// Code offset of the first NameTable entry whose name equals `fullName` exactly, or nothing.
std::optional<std::uint32_t> FindNameTableOffset(std::span<const std::uint8_t> debugData,
                                                 std::uint16_t dataVersion, std::string_view fullName);

}  // namespace pelloran::crashlog
