#include "batch/rmevents/control_texts.h"

#include <cctype>

#include "base/text_lines.h"

namespace pelloran::rmevents {
namespace {

// "00:00:10.0", "10.5", "1:02:03": digits in groups split by colons, an optional fraction.
bool IsEventTime(std::string_view t) {
  if (t.empty()) return false;
  bool digit = false;
  bool fraction = false;
  for (char c : t) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == ':' && digit && !fraction) {
      digit = false;
    } else if (c == '.' && digit && !fraction) {
      fraction = true;
      digit = false;
    } else {
      return false;
    }
  }
  return digit;
}

std::string LineLabel(LogLanguage lang, size_t index) {
  return Say(lang, "line ", "第 ") + std::to_string(index + 1) + Say(lang, "", " 行");
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (Lower(text[k]) != Lower(word[k])) return false;
  return true;
}

size_t FindNoCase(std::string_view text, std::string_view word, size_t from) {
  for (size_t i = from; i + word.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < word.size() && Lower(text[i + k]) == Lower(word[k])) ++k;
    if (k == word.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace

EventsFile ParseEventsFile(std::string_view content, LogLanguage lang) {
  EventsFile result;
  std::vector<std::string> notes;
  std::vector<std::string_view> lines = SplitLines(content);
  for (size_t n = 0; n < lines.size(); ++n) {
    std::string_view line = lines[n];
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    // kind, start and end are single words separated by single spaces; the text is the rest.
    size_t s1 = line.find(' ');
    size_t s2 = s1 == std::string_view::npos ? s1 : line.find(' ', s1 + 1);
    size_t s3 = s2 == std::string_view::npos ? s2 : line.find(' ', s2 + 1);
    if (s1 != 1 || s2 == std::string_view::npos ||
        !IsEventTime(line.substr(s1 + 1, s2 - s1 - 1)) ||
        !IsEventTime(line.substr(s2 + 1, s3 == std::string_view::npos ? s3 : s3 - s2 - 1))) {
      notes.push_back(LineLabel(lang, n) + Say(lang, ": not an event line, left out", "：不是事件行，已略去"));
      continue;
    }
    ++result.events;
    std::string text(s3 == std::string_view::npos ? std::string_view() : line.substr(s3 + 1));
    std::optional<std::string>* slot = nullptr;
    const char* what = nullptr;
    switch (line[0]) {
      case 'i': slot = &result.texts.title; what = Say(lang, "title", "标题"); break;
      case 'a': slot = &result.texts.author; what = Say(lang, "author", "作者"); break;
      case 'c': slot = &result.texts.copyright; what = Say(lang, "copyright", "版权"); break;
      case 'u':
        notes.push_back(LineLabel(lang, n) +
                        Say(lang, ": URL event (u) not supported, not written: the tool adds no links",
                            "：不支持网址事件 (u)，未写入：本工具不添加链接"));
        continue;
      default:
        notes.push_back(LineLabel(lang, n) + Say(lang, ": event kind \"", "：不支持事件类型 \"") +
                        std::string(1, line[0]) + Say(lang, "\" not supported, not written", "\"，未写入"));
        continue;
    }
    if (*slot) {
      notes.push_back(LineLabel(lang, n) + Say(lang, ": second ", "：第二个") + what +
                      Say(lang, " event left out", "事件，已略去"));
    } else if (text.size() > 0xFFFF) {
      notes.push_back(LineLabel(lang, n) + Say(lang, ": ", "：") + what +
                      Say(lang, " of 64 KiB or more left out", "达到 64 KiB 或更长，已略去"));
    } else {
      *slot = std::move(text);
    }
  }
  // A damaged file must not flood the log: the first notes tell enough.
  constexpr size_t kMaxNotes = 20;
  if (notes.size() > kMaxNotes) {
    size_t more = notes.size() - kMaxNotes;
    notes.resize(kMaxNotes);
    notes.push_back(Say(lang, "and ", "另有 ") + std::to_string(more) +
                    Say(lang, " more lines left out", " 行已略去"));
  }
  result.notes = std::move(notes);
  return result;
}

ImageMapFile ParseImageMapFile(std::string_view content) {
  ImageMapFile result;
  for (std::string_view line : SplitLines(content)) {
    if (StartsWithNoCase(line, "DURATION=")) result.duration = std::string(line.substr(9));
  }
  // One forward pass over the tags: a tag runs from '<' to the next '>' or '<', so no byte is
  // looked at twice however the text is damaged.
  size_t p = content.find('<');
  while (p != std::string_view::npos) {
    size_t end = content.find_first_of("<>", p + 1);
    std::string_view tag = content.substr(p, end == std::string_view::npos ? end : end - p);
    if (StartsWithNoCase(tag, "<MAP")) {
      ++result.maps;
    } else if (StartsWithNoCase(tag, "<AREA")) {
      ++result.areas;
      size_t url = FindNoCase(tag, "URL=", 0);
      if (url != std::string_view::npos) {
        std::string_view value = tag.substr(url + 4);
        bool empty = value.empty() || value[0] == ' ' || value.substr(0, 2) == "\"\"";
        if (!empty) ++result.links;
      }
    }
    p = end == std::string_view::npos ? end : content.find('<', end);
  }
  return result;
}

}  // namespace pelloran::rmevents
