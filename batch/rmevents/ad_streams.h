#pragma once
// Which streams carry pop-up advertising: event streams (timed URL, title and text events that
// make the player open pages) and image maps (clickable areas with URLs over the video).

#include <string_view>

namespace pelloran::rmevents {

enum class AdKind { None, Events, ImageMap };

// Classifies a stream header's type, physical or logical ("logical-" is ignored), in any case:
// application/x-pn-realevent and application/x-pn-imagemap with their multi-rate and encrypted
// variants (either spelling, "-encrypted" after or "encrypted-" before the name), the older
// plural "realevents", and the older forms that players still treat alike: event streams typed
// syncMM/x-pn-realvideo and image maps typed image_map/x-pn-realvideo, each also encrypted.
AdKind ClassifyStreamType(std::string_view mimeType);

const char* AdKindName(AdKind kind);

}  // namespace pelloran::rmevents
