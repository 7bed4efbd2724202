#include "crashlog/delivery/smtp_session_rules.h"

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

bool IsPrivateNetworkAddress(std::uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  return b[0] == 127 || b[0] == 10 || (b[0] == 172 && b[1] >= 16 && b[1] <= 31) || (b[0] == 192 && b[1] == 168);
}

}  // namespace pelloran::crashlog
