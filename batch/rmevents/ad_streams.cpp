#include "batch/rmevents/ad_streams.h"

#include <string>

namespace pelloran::rmevents {
namespace {

bool StripPrefix(std::string& s, std::string_view prefix) {
  if (s.compare(0, prefix.size(), prefix) != 0) return false;
  s.erase(0, prefix.size());
  return true;
}

bool StripSuffix(std::string& s, std::string_view suffix) {
  if (s.size() < suffix.size() || s.compare(s.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  s.erase(s.size() - suffix.size());
  return true;
}

}  // namespace

AdKind ClassifyStreamType(std::string_view mimeType) {
  std::string s(mimeType);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  StripPrefix(s, "logical-");
  // The older forms name the kind in the major type and borrow the video subtype.
  AdKind older = AdKind::None;
  if (StripPrefix(s, "syncmm/x-pn-")) {
    older = AdKind::Events;
  } else if (StripPrefix(s, "image_map/x-pn-")) {
    older = AdKind::ImageMap;
  } else if (!StripPrefix(s, "application/x-pn-")) {
    return AdKind::None;
  }
  // The qualifiers come in any order: multirate-encrypted-..., encrypted-multirate-...
  while (StripPrefix(s, "multirate-") || StripPrefix(s, "encrypted-")) {
  }
  StripSuffix(s, "-encrypted");
  if (older != AdKind::None) return s == "realvideo" ? older : AdKind::None;
  if (s == "realevent" || s == "realevents") return AdKind::Events;
  if (s == "imagemap") return AdKind::ImageMap;
  return AdKind::None;
}

const char* AdKindName(AdKind kind) {
  switch (kind) {
    case AdKind::Events: return "event stream";
    case AdKind::ImageMap: return "image map";
    case AdKind::None: break;
  }
  return "media";
}

}  // namespace pelloran::rmevents
