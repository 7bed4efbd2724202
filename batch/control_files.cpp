#include "batch/control_files.h"

#include "base/text_lines.h"

#include "batch/vendor.h"

namespace pelloran {

std::string EventsFileText() {
  std::string text;
  text += "i 00:00:00.0 00:00:10.0 Pelloran\r\n";
  text += "a 00:00:00.0 00:00:10.0 ";
  text += kVendorHost;
  text += "\r\n";
  text += "c 00:00:00.0 00:00:10.0 用《Pelloran》清除RM恶意弹出广告\r\n";
  return text;
}

std::string ImageMapFileText() {
  return "DURATION=0:0:0:0:1\r\n"
         "<MAP START=0:0:0:0:1 END=0:0:0:0:1 COORDS=0,0,0,0><AREA SHAPE=RECTANGLE COORDS=0,0,0,0 "
         "URL=\"\" ALT=\"\"></MAP>\r\n";
}

std::vector<std::string> SplitLogLines(std::string_view raw) {
  raw = raw.substr(0, raw.find('\0'));
  std::vector<std::string> lines;
  for (std::string_view line : SplitLines(raw)) lines.emplace_back(line);
  return lines;
}

std::string NormaliseLog(std::string_view raw) {
  std::string text;
  for (const std::string& line : SplitLogLines(raw)) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool LogMarksFinished(std::string_view normalisedLog) {
  return normalisedLog.find("***") != std::string_view::npos;
}

std::wstring QuotedArgument(std::wstring_view argument) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Before a quote, each backslash doubles and one more escapes the quote itself.
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  out += L'"';
  return out;
}

std::wstring EventsToolParameters(std::wstring_view input, std::wstring_view output) {
  return L"-i " + QuotedArgument(input) + L" -o " + QuotedArgument(output) +
         L" -e \"blank.txt\" -m \"blank2.txt\" -l \"result.txt\"";
}

}  // namespace pelloran
