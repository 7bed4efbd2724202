#include "crashlog/delivery/smtp_session_rules.h"

#include <cstring>

namespace pelloran::crashlog {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (Upper(text[i]) != Upper(word[i])) return false;
  return text.size() == word.size() || text[word.size()] == ' ' || text[word.size()] == '\r' ||
         text[word.size()] == '=';
}

}  // namespace

bool EhloOffers(std::string_view reply, std::string_view keyword) {
  if (keyword.empty()) return false;
  for (std::size_t start = 0; start < reply.size();) {
    std::size_t end = reply.find('\n', start);
    if (end == std::string_view::npos) end = reply.size();
    const std::string_view line = reply.substr(start, end - start);
    // The first line is the greeting (the server's name), never an extension.
    if (start != 0 && line.size() > 4 && (line[3] == '-' || line[3] == ' ') && StartsWithWord(line.substr(4), keyword))
      return true;
    start = end + 1;
  }
  return false;
}

bool EhloRefused(int replyNumber) {
  return replyNumber == 500 || replyNumber == 502 || replyNumber == 504 || replyNumber == 550;
}

bool IsLoopbackAddress(std::uint32_t address) { return reinterpret_cast<const unsigned char*>(&address)[0] == 127; }

bool ParseIPv4Literal(std::string_view text, std::uint32_t& address) {
  unsigned char bytes[4] = {};
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    bytes[part] = static_cast<unsigned char>(value);
  }
  if (at != text.size()) return false;
  std::memcpy(&address, bytes, 4);
  return true;
}

TClearPasswordRule ClearPasswordRule(std::string_view configuredHost, std::uint32_t connectedAddress) {
  if (IsLoopbackAddress(connectedAddress)) return TClearPasswordRule::Loopback;
  std::uint32_t configured = 0;
  if (ParseIPv4Literal(configuredHost, configured) && configured == connectedAddress &&
      IsPrivateNetworkAddress(configured))
    return TClearPasswordRule::ConfiguredPrivateAddress;
  return TClearPasswordRule::Refused;
}

const char* ClearPasswordRuleText(TClearPasswordRule rule) {
  switch (rule) {
    case TClearPasswordRule::Loopback: return "password in clear to a loopback address";
    case TClearPasswordRule::ConfiguredPrivateAddress: return "password in clear to the configured private address";
    case TClearPasswordRule::Refused: break;
  }
  return "no password in clear";
}

std::string DataTranscriptLine(std::size_t bytes) {
  return "(message of " + std::to_string(bytes) + " bytes sent)\r\n";
}

bool IsPrivateNetworkAddress(std::uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  return b[0] == 127 || b[0] == 10 || (b[0] == 172 && b[1] >= 16 && b[1] <= 31) || (b[0] == 192 && b[1] == 168);
}

}  // namespace pelloran::crashlog
