#include "batch/tool_names.h"

#include <windows.h>

#include <cstdio>

#include "batch/job_naming.h"
#include "batch/short_name.h"
#include "runtime/wide_text.h"

namespace pelloran {

std::string TemporaryOutputName(std::wstring_view output, unsigned long process, unsigned serial) {
  char name[48];
  std::snprintf(name, sizeof name, "~Fix_%lx_%u", process, serial);
  std::string result = name;
  const std::wstring_view fileName = output.substr(WideFileNameStart(output));
  const size_t dot = fileName.rfind(L'.');
  if (dot == std::wstring_view::npos || fileName.size() - dot > 8) return result + ".tmp";
  std::string ext;
  for (wchar_t c : fileName.substr(dot)) {
    if (c <= 0x20 || c >= 0x7F) return result + ".tmp";
    ext += static_cast<char>(c);
  }
  return result + ext;
}

namespace {

// The ANSI form of an existing file or folder: as it is when it fits the code page, else its
// short name when that one fits.
bool AnsiNameOf(const std::wstring& path, std::string& ansi) {
  if (auto exact = ExactAnsi(path)) {
    ansi = *exact;
    return true;
  }
  auto shortName = ShortPathName(path);
  if (!shortName) return false;
  auto exact = ExactAnsi(*shortName);
  if (!exact) return false;
  ansi = *exact;
  return true;
}

}  // namespace

ToolNamesResult MakeToolNames(const std::wstring& input, const std::wstring& output, ToolNames& names,
                              std::wstring& unnamed) {
  names = {};
  if (!AnsiNameOf(input, names.Input)) {
    unnamed = input;
    return ToolNamesResult::NoShortName;
  }
  if (auto exact = ExactAnsi(output)) {
    names.Output = *exact;
    names.WrittenOutput = output;
    return ToolNamesResult::Ok;
  }
  // The output does not exist yet, so it has no short name: the tool writes a temporary file of
  // ours in the same folder, named through the folder's ANSI (or short) name.
  static unsigned serial = 0;
  const std::wstring folder = output.substr(0, WideFileNameStart(output));
  std::string folderAnsi;
  if (!folder.empty() && !AnsiNameOf(folder, folderAnsi)) {
    unnamed = folder;
    return ToolNamesResult::NoShortName;
  }
  const std::string temporary = TemporaryOutputName(output, ::GetCurrentProcessId(), ++serial);
  names.Output = folderAnsi + temporary;
  names.WrittenOutput = folder + AnsiToWide(temporary);
  names.TemporaryOutput = true;
  return ToolNamesResult::Ok;
}

}  // namespace pelloran
