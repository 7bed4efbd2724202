// Any bytes as what an SMTP server sends: the first byte of each piece says after how many
// milliseconds the piece arrives (pieces of up to 64 bytes), the reply reader collects replies on
// the test clock and checks their codes. It must end, stay within its size limit and raise only
// its own errors.

#include "crashlog/delivery/smtp_reply.h"
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Sixteen replies of pieces up to 64 bytes: a longer input adds only clock time to poll through.
  if (size > 2048) return 0;
  FuzzedPeer peer(data, size);
  std::string transcript;
  for (int replies = 0; replies < 16 && !peer.Done(); ++replies) {
    std::string reply;
    try {
      ReadReply(peer, reply, transcript, 5000);
    } catch (const ECrashSocketError&) {
      break;
    }
    FUZZ_CHECK(!reply.empty() && reply.size() <= kMaxReplyBytes);
    try {
      const int code = ReplyNumber(reply);
      FUZZ_CHECK(code >= 0 && reply[0] >= '0' && reply[0] <= '9');
      (void)ReplyMatches(reply, {250, 251});
    } catch (const pelloran::EConvertError&) {
    }
  }
  FUZZ_CHECK(transcript.size() <= size);
  return 0;
}
