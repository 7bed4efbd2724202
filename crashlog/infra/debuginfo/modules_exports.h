#pragma once
// What a module's export table says about a code address, for modules that carry no debug
// information. Pure code: names and byte buffers only.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

// One exported function of a module: its name, its address and the estimated size of its code.
struct TCrashFunctionInfo {
  std::string Name;
  std::uint32_t Address = 0;
  std::uint32_t Size = 0;
};

// The exported functions of a module, sorted by Address.
using TCrashFunctionsList = std::vector<TCrashFunctionInfo>;

// Index of the export whose code [Address, Address + Size] holds `address`, or -1.
// Searches the sorted list in logarithmic time. Estimated sizes can make exports overlap; when
// the search then misses the holder, a linear pass finds the first entry that holds the address.
// `mayOverlap` false (from ExportsOverlap, worked out once per list) keeps a miss logarithmic.
int FindExportIndex(const TCrashFunctionsList& functions, std::uint32_t address, bool mayOverlap = true);

// Whether the estimated ranges of any two exports of the sorted list overlap.
bool ExportsOverlap(const TCrashFunctionsList& functions);

// Estimated length of the code that starts at code[0]; code ends the module's code (its last
// byte is the code's end). Procedures that set up a frame (push ebp) end at a leave or pop ebp
// followed by a return; others at the first return-like byte. 1 when no end is found (or no code).
std::uint32_t EstimateCodeSize(std::span<const std::uint8_t> code);

// Unit, class and procedure read from an export name.
struct TExportNameParts {
  // 1 nothing usable, 2 procedure only, 3 unit (with extension) and procedure, maybe a class.
  std::uint8_t LocationKind = 1;
  std::string UnitName;
  std::string ClassName;
  std::string ProcedureName;
};

// Reads an export name such as "@Forms@TApplication@HandleException$qqrp14System@TObject"
// (unit Forms.cpp, class TApplication, procedure HandleException), "Unit1.Proc" or "GetVersion".
TExportNameParts ParseExportName(std::string_view name);

}  // namespace pelloran::crashlog
