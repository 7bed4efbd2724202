#include "tools/crashlog_report/transfer_decoding.h"

#include <array>
#include <cstdint>

namespace pelloran::crashlog_report {

namespace {

constexpr std::uint8_t kNotBase64 = 0xFF;

constexpr std::array<std::uint8_t, 256> Base64Values() {
  std::array<std::uint8_t, 256> values{};
  values.fill(kNotBase64);
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < alphabet.size(); ++i) values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
  return values;
}

constexpr std::array<std::uint8_t, 256> kBase64Values = Base64Values();

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string DecodeBase64(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int count = 0;  // sextets in `bits`
  for (const char c : text) {
    const std::uint8_t value = kBase64Values[static_cast<unsigned char>(c)];
    if (value == kNotBase64) continue;
    bits = (bits << 6) | value;
    if (++count == 4) {
      bytes.push_back(static_cast<char>(bits >> 16));
      bytes.push_back(static_cast<char>(bits >> 8));
      bytes.push_back(static_cast<char>(bits));
      bits = 0;
      count = 0;
    }
  }
  // Two sextets hold one byte, three hold two; a single one holds none.
  if (count == 2) bytes.push_back(static_cast<char>(bits >> 4));
  if (count == 3) {
    bytes.push_back(static_cast<char>(bits >> 10));
    bytes.push_back(static_cast<char>(bits >> 2));
  }
  return bytes;
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    const bool lastLine = end == std::string_view::npos;
    if (lastLine) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    bool soft = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] != '=') {
        bytes.push_back(line[i]);
        continue;
      }
      if (i + 1 == line.size()) {
        soft = true;
        break;
      }
      const int high = i + 2 < line.size() ? HexValue(line[i + 1]) : -1;
      const int low = i + 2 < line.size() ? HexValue(line[i + 2]) : -1;
      if (high >= 0 && low >= 0) {
        bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
      } else {
        bytes.push_back('=');
      }
    }
    if (lastLine) break;
    // One line break: CR LF, LF or a lone CR.
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (!soft) bytes.append("\r\n");
  }
  return bytes;
}

std::string CrLfLineEnds(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      result.append("\r\n");
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      result.append("\r\n");
    } else {
      result.push_back(c);
    }
  }
  return result;
}

}  // namespace pelloran::crashlog_report
