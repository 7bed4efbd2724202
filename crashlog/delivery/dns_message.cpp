#include "crashlog/delivery/dns_message.h"

#include "crashlog/delivery/socket_error.h"

namespace pelloran::crashlog {

namespace {

[[noreturn]] void RaiseMalformed(const char* what) {
  throw ECrashSocketError(std::string("Malformed DNS response: ") + what + ".");
}

std::uint16_t U16At(std::span<const std::uint8_t> message, std::size_t at, const char* what) {
  if (at > message.size() || message.size() - at < 2) RaiseMalformed(what);
  return static_cast<std::uint16_t>(message[at] << 8 | message[at + 1]);
}

// The header fields the reader looks at.
constexpr std::size_t kHeaderSize = 12;
constexpr std::uint16_t kFlagResponse = 0x8000;
// Type, class, time to live and data length after a record's owner name.
constexpr std::size_t kRecordFixedSize = 10;

}  // namespace

std::string BuildMxQuery(std::string_view domain, std::uint16_t id) {
  if (!domain.empty() && domain.back() == '.') domain.remove_suffix(1);
  std::string query = {static_cast<char>(id >> 8), static_cast<char>(id & 0xFF), 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0};
  std::size_t wireLength = 1;
  std::size_t from = 0;
  while (from <= domain.size()) {
    std::size_t dot = domain.find('.', from);
    if (dot == std::string_view::npos) dot = domain.size();
    const std::size_t length = dot - from;
    if (length == 0 || length > 63)
      throw ECrashSocketError("The domain \"" + std::string(domain) + "\" is not a valid DNS name.");
    wireLength += length + 1;
    query += static_cast<char>(length);
    query.append(domain.substr(from, length));
    from = dot + 1;
  }
  if (wireLength > kMaxDnsNameWireLength)
    throw ECrashSocketError("The domain \"" + std::string(domain) + "\" is not a valid DNS name.");
  query += '\0';
  query += {0x00, static_cast<char>(kDnsTypeMx), 0x00, static_cast<char>(kDnsClassInternet)};
  return query;
}

std::optional<TDnsName> DecodeDnsName(std::span<const std::uint8_t> message, std::size_t position) {
  TDnsName result{{}, 0};
  std::optional<std::size_t> afterPointer;
  std::size_t wireLength = 1;  // the final zero
  int pointers = 0;
  std::size_t at = position;
  for (;;) {
    if (at >= message.size()) return std::nullopt;
    const std::uint8_t length = message[at];
    if (length >= 0xC0) {  // compression pointer: 14-bit offset
      if (at + 1 >= message.size() || ++pointers > kMaxDnsCompressionPointers) return std::nullopt;
      if (!afterPointer) afterPointer = at + 2;
      at = static_cast<std::size_t>(length & 0x3F) << 8 | message[at + 1];
      continue;
    }
    if (length >= 0x40) return std::nullopt;  // reserved label types
    if (length == 0) {
      result.Next = afterPointer ? *afterPointer : at + 1;
      return result;
    }
    wireLength += length + 1u;
    if (wireLength > kMaxDnsNameWireLength || message.size() - at - 1 < length) return std::nullopt;
    if (!result.Name.empty()) result.Name += '.';
    result.Name.append(reinterpret_cast<const char*>(message.data() + at + 1), length);
    at += 1u + length;
  }
}

bool AnswersMxQuery(std::span<const std::uint8_t> message, std::uint16_t id, std::string_view domain) {
  if (message.size() < kHeaderSize) return false;
  const auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(message[at] << 8 | message[at + 1]); };
  if (u16(0) != id || !(u16(2) & kFlagResponse) || u16(4) != 1) return false;
  const auto question = DecodeDnsName(message, kHeaderSize);
  if (!question || question->Next > message.size() || message.size() - question->Next < 4) return false;
  if (u16(question->Next) != kDnsTypeMx || u16(question->Next + 2) != kDnsClassInternet) return false;
  if (!domain.empty() && domain.back() == '.') domain.remove_suffix(1);
  if (question->Name.size() != domain.size()) return false;
  for (std::size_t i = 0; i < domain.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(question->Name[i]) != lower(domain[i])) return false;
  }
  return true;
}

std::string ParseMxResponse(std::span<const std::uint8_t> message) {
  if (message.size() < kHeaderSize) RaiseMalformed("shorter than its header");
  if (!(U16At(message, 2, "header") & kFlagResponse)) RaiseMalformed("it is not a response");
  const std::uint16_t questions = U16At(message, 4, "header");
  const std::uint16_t answers = U16At(message, 6, "header");

  std::size_t at = kHeaderSize;
  for (std::uint16_t q = 0; q < questions; ++q) {
    const auto name = DecodeDnsName(message, at);
    if (!name) RaiseMalformed("bad question name");
    at = name->Next + 4;  // type and class
    if (at > message.size()) RaiseMalformed("question cut short");
  }

  std::string best;
  std::uint16_t bestPreference = 0;
  for (std::uint16_t a = 0; a < answers; ++a) {
    const auto owner = DecodeDnsName(message, at);
    if (!owner) RaiseMalformed("bad record name");
    at = owner->Next;
    const std::uint16_t type = U16At(message, at, "record cut short");
    const std::uint16_t recordClass = U16At(message, at + 2, "record cut short");
    const std::uint16_t dataLength = U16At(message, at + 8, "record cut short");
    const std::size_t data = at + kRecordFixedSize;
    if (message.size() - data < dataLength) RaiseMalformed("record data cut short");
    at = data + dataLength;
    if (type != kDnsTypeMx || recordClass != kDnsClassInternet) continue;  // a CNAME and the like

    // The exchange must lie within the record's own data.
    const std::span<const std::uint8_t> upToRecordEnd = message.first(at);
    const std::uint16_t preference = U16At(upToRecordEnd, data, "MX record too short");
    const auto exchange = DecodeDnsName(upToRecordEnd, data + 2);
    if (!exchange) RaiseMalformed("bad exchange name");
    if (exchange->Name.empty()) continue;  // "." : the domain takes no mail
    if (best.empty() || preference < bestPreference) {
      best = exchange->Name;
      bestPreference = preference;
    }
  }
  return best;
}

}  // namespace pelloran::crashlog
