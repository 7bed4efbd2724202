#pragma once
// Turns DWARF facts into the packed debug-information model: every code byte that has a source
// line gets the unit (source file), line and innermost procedure that DWARF gives it; bytes
// without one (alignment padding, code compiled without debug information) get nothing. Pure code.

#include <cstdint>
#include <string>
#include <vector>

#include "crashlog/infra/debuginfo/debug_info_writer.h"
#include "tools/eldata/dwarf_facts.h"

namespace pelloran::eldata {

// What a lookup of code offsets [Begin, End) must report.
struct TExpectedLocation {
  std::uint32_t Begin = 0;
  std::uint32_t End = 0;
  std::string UnitName;  // as reported (with extension)
  std::int32_t Line = 0;
  std::uint32_t Procedure = crashlog::kNoProcedure;
};

struct TBuiltModel {
  crashlog::TDebugInfoModel Model;
  std::vector<TExpectedLocation> Expected;
};

// `codeBase` is the virtual address of code offset 0 (image base + 0x1000).
TBuiltModel BuildDebugModel(const TDwarfFacts& facts, std::uint64_t codeBase);

// The name a unit is stored under: the file name without its folders, and without ".cpp" when
// that leaves no other '.'. (The reader puts ".cpp" back on names that have no '.'.)
std::string StoredUnitName(const std::string& path);
// "folder/name.ext" -> "name": the stem used in NameTable full names.
std::string UnitStem(const std::string& path);

}  // namespace pelloran::eldata
