#pragma once

#include <string>
#include <vector>

namespace pelloran {

// The words of the program's command line after its own name, read in UTF-16 so that a file
// named outside the ANSI code page arrives as it is.
std::vector<std::wstring> ProgramArguments();

}  // namespace pelloran
