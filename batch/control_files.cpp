#include "batch/control_files.h"

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
  size_t start = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\r' && raw[i] != '\n') continue;
    lines.emplace_back(raw.substr(start, i - start));
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < raw.size()) lines.emplace_back(raw.substr(start));
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

}  // namespace pelloran
