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

std::string InternalBugQuestion(std::string_view message) {
  return "Error: '" + std::string(message) +
         "'\r\n\r\nThis is an internal CrashLog bug.\r\nDo you want to send the bug information to CrashLog author?";
}

std::string MailClientUnavailableText(std::string_view logFile) {
  return "Cannot connect with your email client.\r\nPlease send the file \"" + std::string(logFile) +
         "\" by hand to " + std::string(kBugReportAddress) + "\r\nafter click on OK button to close this box.";
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
