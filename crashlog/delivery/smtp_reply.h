#pragma once
// Reading the replies of a peer (an SMTP server, a DNS server) and checking their codes, on any
// source of bytes: the socket class is one, the tests and the fuzz target bring others. A reply
// ends where its end rule says (an SMTP reply at its final line); without one, or from a peer
// that never completes it, a reply is what arrives until the peer has been quiet for a second.
// A peer cannot make the reader read without end: a reply is cut off at kMaxReplyBytes and must
// be complete within the timeout (plus the quiet second). No platform headers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

inline constexpr std::uint32_t kReplyQuietMs = 1000;
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;
// Outgoing text is sent in pieces of this size so that progress can be shown.
inline constexpr std::size_t kSendPieceSize = 1024;

class TReplySource {
 public:
  virtual ~TReplySource() = default;
  // Bytes that can be received now without waiting; 0 when none (or not connected).
  virtual std::size_t BytesWaiting() = 0;
  // Receives up to `count` bytes that are waiting; raises ECrashSocketError on failure.
  virtual std::string ReceiveBytes(std::size_t count) = 0;
  // A millisecond clock, and a pause.
  virtual std::uint32_t Ticks() = 0;
  virtual void Pause(std::uint32_t milliseconds) = 0;
};

// Says whether the text read so far is a whole reply.
using TReplyEnd = bool (*)(std::string_view text);

// Collects what the peer sends until `end` (when given) says the text is whole, or else until the
// peer has been quiet for kReplyQuietMs; `text` is cleared first and what arrives is also
// appended to `transcript`. Raises ECrashSocketError when the reply grows beyond kMaxReplyBytes,
// and "Socket timeout." when bytes still arrive at `deadline` (a tick).
void ReadAvailable(TReplySource& source, std::string& text, std::string& transcript, std::uint32_t deadline,
                   TReplyEnd end = nullptr);
// Waits up to `timeout` ms for a reply and reads it; raises "Socket timeout." when none came.
void ReadReply(TReplySource& source, std::string& text, std::string& transcript, std::uint32_t timeout,
               TReplyEnd end = nullptr);

// The length of the SMTP reply at the start of `text`, up to and including the line end of its
// final line (a code of three digits followed by a space or by the line end); npos while no
// final line has arrived whole.
std::size_t SmtpReplyLength(std::string_view text);
// The end rule of SMTP replies.
bool SmtpReplyComplete(std::string_view text);

// The decimal number at the start of a reply (of a multi-line reply, the first line's). A reply
// without one raises EConvertError, as converting its empty digit text to a number would.
int ReplyNumber(std::string_view reply);
bool ReplyMatches(std::string_view reply, std::initializer_list<int> codes);

// Sends `text` in pieces of at most kSendPieceSize through `send`, which returns the bytes it
// sent (negative: none). After each piece `progress` (when set) gets the bytes sent so far plus
// one and the total. Returns the sum of what `send` returned.
long long SendInPieces(std::string_view text, const std::function<int(const char*, std::size_t)>& send,
                       const std::function<void(std::size_t position, std::size_t total)>& progress);

}  // namespace pelloran::crashlog
