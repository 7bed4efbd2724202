#pragma once
// The names the events tool is given for one job. The tool reads its command line in the ANSI
// code page, so a name that code page cannot write reaches it another way: an input by its 8.3
// short name, an output as a temporary name of ours in the output's folder, which becomes the
// real name once the tool is done.

#include <string>
#include <string_view>

namespace pelloran {

struct ToolNames {
  std::string Input;           // ANSI, for the command line
  std::string Output;          // ANSI, for the command line
  std::wstring WrittenOutput;  // the file the tool writes: the real output or the temporary one
  bool TemporaryOutput = false;
};

enum class ToolNamesResult {
  Ok,
  NoShortName,  // a name outside the code page, on a volume without short names
};

// A temporary name of pure ASCII for an output, with the output's extension when that is ASCII.
std::string TemporaryOutputName(std::wstring_view output, unsigned long process, unsigned serial);

// Fills `names` for the job. On NoShortName, `unnamed` is the path that has no short name.
ToolNamesResult MakeToolNames(const std::wstring& input, const std::wstring& output, ToolNames& names,
                              std::wstring& unnamed);

}  // namespace pelloran
