#include "crashlog/delivery/smtp_reply.h"

#include "crashlog/delivery/socket_error.h"

#include <algorithm>

namespace pelloran::crashlog {

namespace {

// Tick arithmetic that survives the 49-day wrap of the millisecond counter.
bool Reached(std::uint32_t now, std::uint32_t deadline) { return static_cast<std::int32_t>(now - deadline) >= 0; }

}  // namespace

void ReadAvailable(TReplySource& source, std::string& text, std::string& transcript, std::uint32_t deadline,
                   TReplyEnd end) {
  text.clear();
  std::size_t waiting = source.BytesWaiting();
  while (waiting != 0) {
    if (waiting > kMaxReplyBytes - text.size())
      throw ECrashSocketError("The reply is longer than " + std::to_string(kMaxReplyBytes) + " bytes.");
    const std::string piece = source.ReceiveBytes(waiting);
    text += piece;
    transcript += piece;
    if (end && end(text)) return;
    // Wait for more until the peer has been quiet for a second.
    const std::uint32_t lastData = source.Ticks();
    for (;;) {
      waiting = source.BytesWaiting();
      if (waiting != 0) break;
      const std::uint32_t now = source.Ticks();
      if (now - lastData > kReplyQuietMs) break;
      source.Pause(1);
    }
    if (waiting != 0 && Reached(source.Ticks(), deadline)) throw ECrashSocketError("Socket timeout.");
  }
}

void ReadReply(TReplySource& source, std::string& text, std::string& transcript, std::uint32_t timeout,
               TReplyEnd end) {
  const std::uint32_t start = source.Ticks();
  const std::uint32_t deadline = start + timeout;
  for (;;) {
    ReadAvailable(source, text, transcript, deadline, end);
    if (!text.empty() || source.Ticks() - start >= timeout) break;
    source.Pause(1);
  }
  if (text.empty()) throw ECrashSocketError("Socket timeout.");
}

std::size_t SmtpReplyLength(std::string_view text) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t lineEnd = text.find('\n', start);
    if (lineEnd == std::string_view::npos) break;
    const std::string_view line = text.substr(start, lineEnd - start);
    if (line.size() >= 3 && digit(line[0]) && digit(line[1]) && digit(line[2]) &&
        (line.size() == 3 || line[3] == ' ' || line[3] == '\r'))
      return lineEnd + 1;
    start = lineEnd + 1;
  }
  return std::string_view::npos;
}

bool SmtpReplyComplete(std::string_view text) { return SmtpReplyLength(text) != std::string_view::npos; }

int ReplyNumber(std::string_view reply) {
  std::size_t digits = 0;
  while (digits < reply.size() && reply[digits] >= '0' && reply[digits] <= '9') ++digits;
  const std::string_view number = reply.substr(0, digits);
  long long value = 0;
  bool fits = digits > 0 && digits <= 10;
  for (std::size_t i = 0; fits && i < digits; ++i) value = value * 10 + (number[i] - '0');
  if (!fits || value > 0x7FFFFFFF) throw EConvertError("'" + std::string(number) + "' is not a valid integer value");
  return static_cast<int>(value);
}

bool ReplyMatches(std::string_view reply, std::initializer_list<int> codes) {
  const int number = ReplyNumber(reply);
  return std::find(codes.begin(), codes.end(), number) != codes.end();
}

long long SendInPieces(std::string_view text, const std::function<int(const char*, std::size_t)>& send,
                       const std::function<void(std::size_t position, std::size_t total)>& progress) {
  long long sent = 0;
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t piece = std::min(kSendPieceSize, text.size() - position);
    sent += send(text.data() + position, piece);
    position += piece;
    if (progress) progress(position + 1, text.size());
  }
  return sent;
}

}  // namespace pelloran::crashlog
