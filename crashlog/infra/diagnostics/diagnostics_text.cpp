#include "crashlog/infra/diagnostics/diagnostics_text.h"

#include "base/byte_stream_le.h"

#include <cstdio>

namespace pelloran::crashlog {

namespace {

constexpr std::string_view kCutMark = "...";

// A value cut short gives "" and leaves the reader failed for good.
std::string ReadText(TByteReader& in) {
  std::uint32_t length = 0;
  std::span<const std::uint8_t> bytes;
  if (!in.ReadU32(length) || !in.ReadBytes(length, bytes)) return {};
  return std::string(bytes.begin(), bytes.end());
}

void PutU32(std::uint8_t*& at, std::uint32_t value) noexcept {
  for (int i = 0; i < 4; ++i) *at++ = static_cast<std::uint8_t>(value >> (8 * i));
}

// Puts a value cut to `limit` bytes (mark included); returns the bytes used.
std::size_t PutText(std::uint8_t*& at, std::string_view value, std::size_t limit) noexcept {
  value = WithoutFinalLineBreak(value);
  const std::size_t keep = CutLength(value, limit, kCutMark.size());
  const bool cut = keep < value.size();
  const std::size_t length = keep + (cut ? kCutMark.size() : 0);
  PutU32(at, static_cast<std::uint32_t>(length));
  for (std::size_t i = 0; i < keep; ++i) *at++ = static_cast<std::uint8_t>(value[i]);
  if (cut)
    for (char c : kCutMark) *at++ = static_cast<std::uint8_t>(c);
  return length;
}

}  // namespace

std::string InternalErrorText(std::string_view section, std::string_view message) {
  return "[ERROR] - Section: " + std::string(section) + " - Message: \"" + std::string(message) + "\"";
}

std::string FillPlaceholders(std::string_view text, std::initializer_list<std::string_view> values) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const auto index = static_cast<std::size_t>(text[i + 1] - '1');
      if (index < values.size()) {
        out += values.begin()[index];
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string InternalBugQuestion(std::string_view message, std::string_view text) {
  return FillPlaceholders(text, {message});
}

std::string MailClientUnavailableText(std::string_view logFile, std::string_view text) {
  return FillPlaceholders(text, {logFile, kBugReportAddress});
}

std::string MemoryDumpText(std::span<const std::uint8_t> bytes) {
  std::string text = "Memory Dump: ";
  for (std::uint8_t byte : bytes) {
    char item[8];
    std::snprintf(item, sizeof item, "$%02X ", byte);
    text += item;
  }
  return text;
}

std::string_view WithoutFinalLineBreak(std::string_view value) {
  const std::size_t first = value.find("\r\n");
  if (first != std::string_view::npos && first + 2 == value.size()) value.remove_suffix(2);
  return value;
}

std::size_t CutLength(std::string_view text, std::size_t limit, std::size_t markLength) noexcept {
  if (text.size() <= limit) return text.size();
  if (limit <= markLength) return 0;
  const std::size_t room = limit - markLength;
  std::size_t end = 0;
  while (end < text.size()) {
    const auto byte = static_cast<unsigned char>(text[end]);
    const std::size_t width = byte >= 0x81 && byte <= 0xFE && end + 1 < text.size() ? 2 : 1;
    if (end + width > room) break;
    end += width;
  }
  return end;
}

std::size_t WriteExceptPayload(std::span<std::uint8_t> out, std::string_view className, std::string_view message,
                               std::uint32_t threadId, std::uint32_t address) noexcept {
  if (out.size() < kExceptPayloadOverhead) return 0;
  std::uint8_t* at = out.data() + 1;
  const std::size_t room = out.size() - kExceptPayloadOverhead;
  const std::size_t classLength = PutText(at, className, room < kExceptClassNameLimit ? room : kExceptClassNameLimit);
  PutText(at, message, room - classLength);
  PutU32(at, threadId);
  PutU32(at, address);
  // The kind byte last: a reader that looks at it first finds the rest in place.
  out[0] = 1;
  return static_cast<std::size_t>(at - out.data());
}

std::vector<std::uint8_t> EncodeExceptPayload(std::string_view className, std::string_view message,
                                              std::uint32_t threadId, std::uint32_t address) {
  std::vector<std::uint8_t> payload(kExceptPayloadOverhead + className.size() + kCutMark.size() + message.size());
  payload.resize(WriteExceptPayload(payload, className, message, threadId, address));
  return payload;
}

std::optional<TPublishedException> DecodeExceptPayload(std::span<const std::uint8_t> payload) {
  TByteReader reader(payload);
  std::uint8_t kind = 0;
  if (!reader.ReadU8(kind) || kind != 1) return std::nullopt;
  TPublishedException published;
  published.ClassName = ReadText(reader);
  published.Message = ReadText(reader);
  if (!reader.Ok()) return std::nullopt;
  // Older writers stop after the strings.
  if (reader.Remaining() >= 8) {
    reader.ReadU32(published.ThreadId);
    reader.ReadU32(published.Address);
  }
  return published;
}

}  // namespace pelloran::crashlog
