#pragma once
// The DNS MX query the reporter sends and the reading of the answer. The answer comes from the
// network and is not trusted: every read is checked against the received length, compression
// pointers are followed a bounded number of times, names longer than DNS allows are refused, and
// anything malformed raises ECrashSocketError. No platform headers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

inline constexpr std::uint16_t kDnsTypeMx = 15;
inline constexpr std::uint16_t kDnsClassInternet = 1;
// Pointers followed while decoding one name; a longer chain is a loop or an attack.
inline constexpr int kMaxDnsCompressionPointers = 16;
// The longest name in its wire form (labels with their length bytes and the final zero).
inline constexpr std::size_t kMaxDnsNameWireLength = 255;

// The MX query for `domain`: header (`id`, recursion desired, one question), the name as
// length-prefixed labels, type MX, class IN. A trailing "." is allowed; empty labels, labels over
// 63 bytes and names over 255 bytes raise ECrashSocketError. The id is drawn at random for each
// query: with the random source port it is what a forged answer would have to guess.
std::string BuildMxQuery(std::string_view domain, std::uint16_t id);

// Whether `message` is a response to the MX query `id` for `domain`: the same id, the response
// flag, and exactly our question (the name in any case of ASCII letters, type MX, class IN).
// Anything else, well-formed or not, answers something else and is to be ignored.
bool AnswersMxQuery(std::span<const std::uint8_t> message, std::uint16_t id, std::string_view domain);

struct TDnsName {
  std::string Name;  // labels joined by "."; empty for the root
  std::size_t Next;  // offset after the name where it stands (after the first pointer if any)
};
// Decodes the name at `position`; nothing when it runs past the message, loops, uses a reserved
// label type or grows beyond 255 bytes.
std::optional<TDnsName> DecodeDnsName(std::span<const std::uint8_t> message, std::size_t position);

// The exchange of the answer's MX record with the lowest preference (the first of equal ones);
// empty when the answer holds none. A malformed answer raises ECrashSocketError. Whose answer it
// is, AnswersMxQuery tells.
std::string ParseMxResponse(std::span<const std::uint8_t> message);

}  // namespace pelloran::crashlog
