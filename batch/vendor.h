#pragma once
// The vendor's web presence, named under the reserved .example domain.

namespace pelloran {

inline constexpr char kVendorHost[] = "www.pelloran.example";
inline constexpr char kVendorHostUpper[] = "WWW.PELLORAN.EXAMPLE";
inline constexpr char kHomePageUrl[] = "http://www.pelloran.example/rmpatch";
inline constexpr char kBannerSiteUrl[] = "http://www.media-friends.example/";

}  // namespace pelloran
