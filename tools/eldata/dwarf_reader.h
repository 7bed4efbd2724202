#pragma once
// Reads line tables and procedure names of a linked program through LLVM's DWARF library.

#include <cstdint>
#include <string>

#include "tools/eldata/dwarf_facts.h"

namespace pelloran::eldata {

// Reads the DWARF of the image file `path`; keeps only code in [codeBegin, codeEnd) (virtual
// addresses), which drops the remains of discarded duplicate functions. Throws std::runtime_error
// when the file cannot be read.
TDwarfFacts ReadDwarf(const std::string& path, std::uint64_t codeBegin, std::uint64_t codeEnd);

}  // namespace pelloran::eldata
