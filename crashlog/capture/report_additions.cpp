#include "crashlog/capture/report_additions.h"

#include <algorithm>
#include <mutex>

namespace pelloran::crashlog {

namespace {

struct TAdditions {
  std::mutex Lock;
  TAddedFacts Facts;
};

TAdditions& Additions() {
  static TAdditions additions;
  return additions;
}

std::string Cut(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t end = limit;
  // Do not split a GBK character: count the lead bytes before the cut.
  std::size_t lead = 0;
  for (std::size_t i = 0; i < end; ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x81 && lead == 0)
      lead = 1;
    else
      lead = 0;
  }
  if (lead != 0) --end;
  return std::string(text.substr(0, end));
}

}  // namespace

bool SetReportTag(std::string_view name, std::string_view value) {
  if (name.empty()) return false;
  const std::string key = Cut(name, kMaxTagBytes);
  TAdditions& additions = Additions();
  std::lock_guard<std::mutex> hold(additions.Lock);
  auto& tags = additions.Facts.Tags;
  const auto found = std::find_if(tags.begin(), tags.end(), [&](const auto& tag) { return tag.first == key; });
  if (found != tags.end()) {
    found->second = Cut(value, kMaxTagBytes);
    return true;
  }
  if (tags.size() >= kMaxTags) return false;
  tags.emplace_back(key, Cut(value, kMaxTagBytes));
  return true;
}

void RemoveReportTag(std::string_view name) {
  const std::string key = Cut(name, kMaxTagBytes);
  TAdditions& additions = Additions();
  std::lock_guard<std::mutex> hold(additions.Lock);
  std::erase_if(additions.Facts.Tags, [&](const auto& tag) { return tag.first == key; });
}

bool AddReportFile(std::string_view path) {
  if (path.empty()) return false;
  TAdditions& additions = Additions();
  std::lock_guard<std::mutex> hold(additions.Lock);
  auto& files = additions.Facts.Files;
  if (std::find(files.begin(), files.end(), path) != files.end()) return true;
  if (files.size() >= kMaxFiles) return false;
  files.emplace_back(path);
  return true;
}

TAddedFacts ReportAdditions() {
  TAdditions& additions = Additions();
  std::lock_guard<std::mutex> hold(additions.Lock);
  return additions.Facts;
}

void ClearReportAdditions() {
  TAdditions& additions = Additions();
  std::lock_guard<std::mutex> hold(additions.Lock);
  additions.Facts = {};
}

}  // namespace pelloran::crashlog
