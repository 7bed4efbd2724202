#pragma once
// The two control files that come with each job: the events file (one event a line:
// "<kind> <start> <end> <text>", times like 00:00:10.0) and the image-map file ("DURATION=..."
// and <MAP ...><AREA ... URL="..."></MAP> lines). Both are GBK text with CR LF line ends.
//
// Only the title ("i"), author ("a") and copyright ("c") events are used: they become the
// file's content description. Every other event, a URL event ("u") above all, is reported and
// dropped, and image maps are never written: the tool adds no links to a file.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/rmevents/log_language.h"

namespace pelloran::rmevents {

struct EventTexts {
  std::optional<std::string> title;
  std::optional<std::string> author;
  std::optional<std::string> copyright;
  bool Empty() const { return !title && !author && !copyright; }
};

struct EventsFile {
  EventTexts texts;
  int events = 0;                  // lines understood as events
  std::vector<std::string> notes;  // one log line per event or line left out, and why
};

// The notes are in `language`.
EventsFile ParseEventsFile(std::string_view content, LogLanguage language = LogLanguage::English);

struct ImageMapFile {
  int maps = 0;
  int areas = 0;
  int links = 0;  // areas whose URL is not empty
  std::string duration;
};

ImageMapFile ParseImageMapFile(std::string_view content);


}  // namespace pelloran::rmevents
