#pragma once
// Writes the packed debug information (the DebugData stream read by debug_info_format.h) from a
// plain model: named code ranges (units) cut into segments of one line and one procedure.
// Used by the build tool; pure code.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

inline constexpr std::uint32_t kNoProcedure = 0xFFFFFFFF;

// A procedure as reported: Class may be empty (plain functions). Neither part may contain '.',
// start with '@', or be longer than 127 characters (see MakeStorableName).
struct TDebugProcedure {
  std::string ClassName;
  std::string Name;
  bool operator==(const TDebugProcedure&) const = default;
};

// Consecutive code bytes that belong to one source line and one procedure.
struct TDebugSegment {
  std::uint32_t Length = 0;
  std::int32_t Line = 0;
  std::uint32_t Procedure = kNoProcedure;  // index into TDebugInfoModel::Procedures
};

// A named code range: a source file's contribution to one stretch of the code section. The
// stored name is written as given; the reader appends ".cpp" when it has no '.'.
struct TDebugUnit {
  std::string StoredName;
  std::uint32_t CodeOffset = 0;  // from the start of the code section
  std::vector<TDebugSegment> Segments;
};

// A NameTable entry: "unit.Class.Proc" or "unit.Proc" and where the procedure's code starts.
struct TDebugNameEntry {
  std::string FullName;
  std::uint32_t CodeOffset = 0;
  std::uint32_t Size = 0;
};

struct TDebugInfoModel {
  std::vector<TDebugProcedure> Procedures;
  std::vector<TDebugUnit> Units;
  std::vector<TDebugNameEntry> Names;
};

// Replaces what the stored form cannot carry: '.' becomes '_', a leading '@' becomes '_',
// and the text is cut to `maxLength` characters.
std::string MakeStorableName(std::string_view text, std::size_t maxLength = 127);

// Size of each record form a writer produced; filled by WriteDebugInfo for statistics and tests.
struct TDebugInfoWriteStats {
  std::uint32_t OneByteRecords = 0;
  std::uint32_t OneByteNamedRecords = 0;
  std::uint32_t TwoByteRecords = 0;
  std::uint32_t FourByteRecords = 0;
  std::uint32_t WideRecords = 0;  // the escaped form with two 16-bit deltas
  std::uint32_t ZeroLengthRecords = 0;
};

// The DebugData bytes for `model` in the layout of `dataVersion` (the NameTable from 405 on, the
// wide escape from 423 on). Throws std::invalid_argument for names the layout cannot carry.
std::vector<std::uint8_t> WriteDebugInfo(const TDebugInfoModel& model, std::uint16_t dataVersion,
                                         TDebugInfoWriteStats* stats = nullptr);

}  // namespace pelloran::crashlog
