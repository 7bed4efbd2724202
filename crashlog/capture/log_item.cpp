#include "crashlog/capture/log_item.h"

#include "base/text_lines.h"

#include <algorithm>
#include <vector>

namespace pelloran::crashlog {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kLabelEnd = ": ";

bool IsItemLine(std::string_view line) { return line.size() >= 2 && line[0] == ' ' && line[1] == ' '; }

// Lines up the first ": " of every item line in [first, end) and sizes the "-" line above them.
void AlignSection(std::vector<std::string>& lines, std::size_t dash, std::size_t first, std::size_t end) {
  std::size_t column = 0;  // 1-based position of the ": " that reaches farthest
  for (std::size_t i = first; i < end; ++i) {
    const std::size_t at = lines[i].find(kLabelEnd);
    if (at != std::string::npos) column = std::max(column, at + 1);
  }
  std::size_t longest = 1;
  for (std::size_t i = first; i < end; ++i) {
    std::string& line = lines[i];
    const std::size_t at = line.find(kLabelEnd);
    if (at == std::string::npos)
      line.insert(0, column, ' ');
    else
      line.insert(at, column - (at + 1), ' ');
    longest = std::max(longest, line.size());
  }
  lines[dash].assign(longest, '-');
}

}  // namespace

std::string PadRight(std::string_view text, std::size_t width) {
  std::string padded(text);
  if (padded.size() < width) padded.append(width - padded.size(), ' ');
  return padded;
}

void TLogItem::Clear() {
  text_.clear();
  sectionNo_ = 0;
  itemNo_ = 0;
}

void TLogItem::AddSection(std::string_view title) {
  ++sectionNo_;
  itemNo_ = 0;
  if (!text_.empty()) text_.append(kCrLf).append(kCrLf);
  text_.append(title).append(":").append(kCrLf).append("-");
}

void TLogItem::AddItem(std::string_view label, std::string_view value, bool enabled) {
  ++itemNo_;
  if (!enabled) return;
  text_.append(kCrLf).append("  ").append(std::to_string(sectionNo_)).append(".").append(std::to_string(itemNo_));
  text_.append(" ").append(label).append(kLabelEnd).append(value);
}

std::string TLogItem::Finish() const {
  std::vector<std::string> lines;
  for (std::string_view line : SplitLines(text_)) lines.emplace_back(line);

  std::size_t header = 0;
  while (header < lines.size()) {
    if (IsItemLine(lines[header])) {  // only reachable through a value that held a line break
      ++header;
      continue;
    }
    const std::size_t first = header + 2;
    std::size_t end = std::min(first, lines.size());
    while (end < lines.size() && !lines[end].empty()) ++end;
    if (end <= first) {
      // Nothing shown: the header, its "-" line and the empty line after them go.
      const std::size_t stop = std::min(header + 3, lines.size());
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header), lines.begin() + static_cast<std::ptrdiff_t>(stop));
      continue;
    }
    AlignSection(lines, header + 1, first, end);
    header = end + 1;
  }

  std::string finished;
  for (const std::string& line : lines) finished.append(line).append(kCrLf);
  return finished;
}

}  // namespace pelloran::crashlog
