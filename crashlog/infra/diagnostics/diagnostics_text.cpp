#include "crashlog/infra/diagnostics/diagnostics_text.h"

#include <cstdio>

namespace pelloran::crashlog {

namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutText(std::vector<std::uint8_t>& out, std::string_view value) {
  value = WithoutFinalLineBreak(value);
  PutU32(out, static_cast<std::uint32_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

// Reads little-endian fields; any read past the end clears ok for good.
class PayloadReader {
 public:
  explicit PayloadReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  std::uint8_t U8() {
    if (!Need(1)) return 0;
    return bytes_[pos_++];
  }
  std::uint32_t U32() {
    if (!Need(4)) return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes_[pos_ + i]) << (8 * i);
    pos_ += 4;
    return value;
  }
  std::string Text() {
    const std::uint32_t length = U32();
    if (!Need(length)) return {};
    std::string text(reinterpret_cast<const char*>(bytes_.data() + pos_), length);
    pos_ += length;
    return text;
  }

 private:
  bool Need(std::size_t count) {
    if (ok_ && bytes_.size() - pos_ >= count) return true;
    ok_ = false;
    return false;
  }
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

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
  std::vector<std::uint8_t> payload{1};
  PutText(payload, className);
  PutText(payload, message);
  return payload;
}

std::optional<TPublishedException> DecodeExceptPayload(std::span<const std::uint8_t> payload) {
  PayloadReader reader(payload);
  if (reader.U8() != 1 || !reader.ok()) return std::nullopt;
  TPublishedException published;
  published.ClassName = reader.Text();
  published.Message = reader.Text();
  if (!reader.ok()) return std::nullopt;
  return published;
}

}  // namespace pelloran::crashlog
