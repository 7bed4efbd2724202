// Any bytes as what an SMTP server sends: the first byte of each piece says after how many
// milliseconds the piece arrives (pieces of up to 64 bytes), the reply reader collects replies on
// the test clock and checks their codes, once to the quiet second and once to the final line of
// each reply. It must end, stay within its size limit, raise only its own errors and read exactly
// what was sent, in order.

#include "crashlog/delivery/smtp_reply.h"
#include "crashlog/delivery/smtp_session_rules.h"
#include "crashlog/delivery/socket_error.h"
#include "tests/fuzz/fuzz_checks.h"

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>

using namespace pelloran::crashlog;

namespace {

class FuzzedPeer : public TReplySource {
 public:
  FuzzedPeer(const std::uint8_t* data, std::size_t size) {
    std::uint32_t tick = 0;
    for (std::size_t at = 0; at < size;) {
      tick += data[at++] * 8u;  // up to about two seconds apart: either side of the quiet second
      const std::size_t length = std::min<std::size_t>(size - at, 1 + (data[at - 1] & 63));
      pieces_.push_back({tick, std::string(reinterpret_cast<const char*>(data + at), length)});
      at += length;
    }
  }
  std::size_t BytesWaiting() override {
    while (!pieces_.empty() && pieces_.front().first <= now_) {
      waiting_ += pieces_.front().second;
      pieces_.pop_front();
    }
    return waiting_.size();
  }
  std::string ReceiveBytes(std::size_t count) override {
    std::string out = waiting_.substr(0, count);
    waiting_.erase(0, count);
    return out;
  }
  std::uint32_t Ticks() override { return now_; }
  void Pause(std::uint32_t milliseconds) override { now_ += milliseconds; }
  bool Done() const { return pieces_.empty() && waiting_.empty(); }

 private:
  std::deque<std::pair<std::uint32_t, std::string>> pieces_;
  std::string waiting_;
  std::uint32_t now_ = 0;
};

}  // namespace

namespace {

bool ContainsUpper(std::string_view text, std::string_view word) {
  std::string upper(text);
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return upper.find(word) != std::string::npos;
}

void ReadAll(const std::uint8_t* data, std::size_t size, TReplyEnd end) {
  FuzzedPeer peer(data, size);
  std::string transcript, replies;
  for (int count = 0; count < 16 && !peer.Done(); ++count) {
    std::string reply;
    try {
      ReadReply(peer, reply, transcript, 5000, end);
    } catch (const ECrashSocketError&) {
      break;
    }
    FUZZ_CHECK(!reply.empty() && reply.size() <= kMaxReplyBytes);
    replies += reply;
    // A reply ended by its final line holds one, whole.
    if (end && SmtpReplyComplete(reply)) FUZZ_CHECK(SmtpReplyLength(reply) <= reply.size());
    if (EhloOffers(reply, "STARTTLS")) FUZZ_CHECK(ContainsUpper(reply, "STARTTLS"));
    try {
      const int code = ReplyNumber(reply);
      FUZZ_CHECK(code >= 0 && reply[0] >= '0' && reply[0] <= '9');
      (void)ReplyMatches(reply, {250, 251});
    } catch (const pelloran::EConvertError&) {
    }
  }
  FUZZ_CHECK(transcript.size() <= size);
  FUZZ_CHECK(transcript.compare(0, replies.size(), replies) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Sixteen replies of pieces up to 64 bytes: a longer input adds only clock time to poll through.
  if (size > 2048) return 0;
  ReadAll(data, size, nullptr);
  ReadAll(data, size, SmtpReplyComplete);
  return 0;
}
