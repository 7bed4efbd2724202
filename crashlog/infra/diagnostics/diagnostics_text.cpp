#include "crashlog/infra/diagnostics/diagnostics_text.h"

#include "base/byte_stream_le.h"

#include <cstdio>

namespace pelloran::crashlog {

namespace {

void PutText(TByteWriter& out, std::string_view value) {
  value = WithoutFinalLineBreak(value);
  out.U32(static_cast<std::uint32_t>(value.size()));
  out.Bytes(value);
}

// A value cut short gives "" and leaves the reader failed for good.
std::string ReadText(TByteReader& in) {
  std::uint32_t length = 0;
  std::span<const std::uint8_t> bytes;
  if (!in.ReadU32(length) || !in.ReadBytes(length, bytes)) return {};
  return std::string(bytes.begin(), bytes.end());
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

std::vector<std::uint8_t> EncodeExceptPayload(std::string_view className, std::string_view message) {
  TByteWriter payload;
  payload.U8(1);
  PutText(payload, className);
  PutText(payload, message);
  return payload.Take();
}

std::optional<TPublishedException> DecodeExceptPayload(std::span<const std::uint8_t> payload) {
  TByteReader reader(payload);
  std::uint8_t kind = 0;
  if (!reader.ReadU8(kind) || kind != 1) return std::nullopt;
  TPublishedException published;
  published.ClassName = ReadText(reader);
  published.Message = ReadText(reader);
  if (!reader.Ok()) return std::nullopt;
  return published;
}

}  // namespace pelloran::crashlog
