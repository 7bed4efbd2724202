#pragma once
// The tool's command line, as the batch runner gives it:
//   rmevents.exe -i "in.rm" -o "out.rm" -e "blank.txt" -m "blank2.txt" -l "result.txt"
// Options take the next argument as their value, in any order and any case. -i and -o are
// required; without -e or -m the content description is left alone; without -l the log goes to
// standard output only. "--lang en" or "--lang zh" sets the log's language.

#include <string>
#include <vector>

#include "batch/rmevents/log_language.h"

namespace pelloran::rmevents {

struct ToolOptions {
  std::wstring input;
  std::wstring output;
  std::wstring events;
  std::wstring imageMap;
  std::wstring log;
  LogLanguage language = LogLanguage::English;
};

struct ParsedCommandLine {
  ToolOptions options;
  std::string error;  // empty when the command line is usable
};

// `args` are the arguments after the program name, quotes already removed. Without --lang the
// log is in `userLanguage`, and so is the error.
ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& args,
                                   LogLanguage userLanguage = LogLanguage::English);

const char* Usage(LogLanguage language);

}  // namespace pelloran::rmevents
