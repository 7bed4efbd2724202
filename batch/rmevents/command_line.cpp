#include "batch/rmevents/command_line.h"

namespace pelloran::rmevents {

const char kUsage[] =
    "usage: rmevents -i input.rm -o output.rm [-e events.txt] [-m imagemap.txt] [-l log.txt]";

namespace {

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& args) {
  ParsedCommandLine result;
  ToolOptions& o = result.options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    std::wstring* slot = nullptr;
    if (a.size() == 2 && (a[0] == L'-' || a[0] == L'/')) {
      switch (a[1]) {
        case L'i': case L'I': slot = &o.input; break;
        case L'o': case L'O': slot = &o.output; break;
        case L'e': case L'E': slot = &o.events; break;
        case L'm': case L'M': slot = &o.imageMap; break;
        case L'l': case L'L': slot = &o.log; break;
        default: break;
      }
    }
    // Keep reading after a fault: the log file named later still gets the message.
    if (!slot) {
      if (result.error.empty()) result.error = "unknown argument \"" + Narrow(a) + "\"";
      continue;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      if (result.error.empty()) result.error = "option " + Narrow(a) + " needs a file name";
      ++i;
      continue;
    }
    *slot = args[++i];
  }
  if (result.error.empty() && o.input.empty()) result.error = "no input file (-i)";
  if (result.error.empty() && o.output.empty()) result.error = "no output file (-o)";
  return result;
}

}  // namespace pelloran::rmevents
