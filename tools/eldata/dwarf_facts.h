#pragma once
// What the build tool takes from a program's DWARF: where each code byte's source line is, and
// which procedure (out-of-line or inlined) each code byte belongs to. Plain data, so the model
// building can be tested without a DWARF reader.

#include <cstdint>
#include <string>
#include <vector>

namespace pelloran::eldata {

// Code bytes [Begin, End) (virtual addresses) written at Files[File]:Line. Line 0: no source line.
struct TLinePiece {
  std::uint64_t Begin = 0;
  std::uint64_t End = 0;
  std::uint32_t File = 0;
  std::uint32_t Line = 0;
};

// A procedure's name as the sources spell it: ClassName is the enclosing class with its namespaces
// ("pelloran::crashlog::TFoo"), empty for plain functions, whose Name then carries the namespaces.
struct TProcInfo {
  std::string ClassName;
  std::string Name;
};

// Code bytes [Begin, End) of one procedure instance. Depth 0 is an out-of-line procedure; code
// inlined into it has depth 1, code inlined into that 2, and so on.
struct TProcRange {
  std::uint64_t Begin = 0;
  std::uint64_t End = 0;
  std::uint32_t Depth = 0;
  std::uint32_t Proc = 0;  // index into TDwarfFacts::Procs
};

// An out-of-line procedure's entry point, for the NameTable.
struct TProcEntry {
  std::uint64_t Address = 0;
  std::uint64_t Size = 0;
  std::uint32_t Proc = 0;
};

struct TDwarfFacts {
  std::vector<std::string> Files;  // full paths
  std::vector<TLinePiece> Lines;   // sorted by Begin, not overlapping
  std::vector<TProcInfo> Procs;
  std::vector<TProcRange> Ranges;
  std::vector<TProcEntry> Entries;
  std::uint64_t DebugBytes = 0;  // total size of the .debug_* sections read
};

}  // namespace pelloran::eldata
