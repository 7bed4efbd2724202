#include <windows.h>
#include <shellapi.h>

#include "app/program_arguments.h"

namespace pelloran {

std::vector<std::wstring> ProgramArguments() {
  int count = 0;
  wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!words) return {};
  std::vector<std::wstring> arguments(words + (count > 0 ? 1 : 0), words + count);
  ::LocalFree(words);
  return arguments;
}

}  // namespace pelloran
