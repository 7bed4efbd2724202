// The reply reader on a scripted peer with a clock of the test's own: what arrives when, and how
// the reader takes it apart into replies.

#include "crashlog/delivery/smtp_reply.h"
#include "crashlog/delivery/socket_error.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace pelloran::crashlog {
namespace {

// Bytes that become available at given ticks; time passes only when the reader pauses.
class ScriptedPeer : public TReplySource {
 public:
  void At(std::uint32_t tick, std::string bytes) { script_.push_back({tick, std::move(bytes)}); }
  // An endless stream: `bytes` again every `every` ms from `from` on.
  void Endless(std::uint32_t from, std::uint32_t every, std::string bytes) {
    endlessFrom_ = from, endlessEvery_ = every, endless_ = std::move(bytes);
  }

  std::size_t BytesWaiting() override {
    Release();
    return waiting_.size();
  }
  std::string ReceiveBytes(std::size_t count) override {
    std::string out = waiting_.substr(0, count);
    waiting_.erase(0, count);
    return out;
  }
  std::uint32_t Ticks() override { return now_; }
  void Pause(std::uint32_t milliseconds) override { now_ += milliseconds; }
  std::uint32_t Now() const { return now_; }

 private:
  void Release() {
    while (!script_.empty() && script_.front().first <= now_) {
      waiting_ += script_.front().second;
      script_.pop_front();
    }
    if (!endless_.empty() && now_ >= endlessFrom_) {
      waiting_ += endless_;
      endlessFrom_ = now_ + endlessEvery_;
    }
  }
  std::deque<std::pair<std::uint32_t, std::string>> script_;
  std::string waiting_, endless_;
  std::uint32_t endlessFrom_ = 0, endlessEvery_ = 0, now_ = 0;
};

TEST(SmtpReply, TwoLinesWithinTheQuietSecondAreOneReply) {
  ScriptedPeer peer;
  peer.At(5, "250-mail.example.org\r\n");
  peer.At(900, "250 AUTH LOGIN\r\n");
  peer.At(3000, "354 go ahead\r\n");
  std::string reply, transcript = "Connected\r\n";
  ReadReply(peer, reply, transcript, 30000);
  EXPECT_EQ(reply, "250-mail.example.org\r\n250 AUTH LOGIN\r\n");
  EXPECT_TRUE(ReplyMatches(reply, {250}));
  EXPECT_FALSE(ReplyMatches(reply, {220, 251}));
  EXPECT_GE(peer.Now(), 1900u);  // read only after a quiet second
  ReadReply(peer, reply, transcript, 30000);
  EXPECT_EQ(reply, "354 go ahead\r\n");
  EXPECT_EQ(transcript, "Connected\r\n250-mail.example.org\r\n250 AUTH LOGIN\r\n354 go ahead\r\n");
}

TEST(SmtpReply, AReplyEndsAtItsFinalLine) {
  ScriptedPeer peer;
  peer.At(5, "250-mail.example.org\r\n250-STAR");
  peer.At(40, "TTLS\r\n250 AUTH LOGIN\r\n");
  peer.At(3000, "354 go ahead\r\n");
  std::string reply, transcript;
  ReadReply(peer, reply, transcript, 30000, SmtpReplyComplete);
  EXPECT_EQ(reply, "250-mail.example.org\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n");
  EXPECT_EQ(peer.Now(), 40u);  // at once, not after a quiet second
  ReadReply(peer, reply, transcript, 30000, SmtpReplyComplete);
  EXPECT_EQ(reply, "354 go ahead\r\n");
  EXPECT_EQ(peer.Now(), 3000u);

  // A final line whose line end has not come yet is not the end; a server that never sends a
  // final line is still read to its quiet second.
  ScriptedPeer slow;
  slow.At(0, "220 ready");
  slow.At(500, "\r\n");
  ReadReply(slow, reply, transcript, 30000, SmtpReplyComplete);
  EXPECT_EQ(reply, "220 ready\r\n");
  EXPECT_EQ(slow.Now(), 500u);
  ScriptedPeer chatty;
  chatty.At(0, "hello there\r\n");
  ReadReply(chatty, reply, transcript, 30000, SmtpReplyComplete);
  EXPECT_EQ(reply, "hello there\r\n");
  EXPECT_GT(chatty.Now(), kReplyQuietMs);
}

TEST(SmtpReply, WhereTheFinalLineEnds) {
  EXPECT_EQ(SmtpReplyLength("250 ok\r\n"), 8u);
  EXPECT_EQ(SmtpReplyLength("250\r\n"), 5u);
  EXPECT_EQ(SmtpReplyLength("250-a\r\n250 b\r\n220 next\r\n"), 14u);
  EXPECT_EQ(SmtpReplyLength("250-a\r\n"), std::string_view::npos);
  EXPECT_EQ(SmtpReplyLength("250 no line end"), std::string_view::npos);
  EXPECT_EQ(SmtpReplyLength("25 short\r\n"), std::string_view::npos);
  EXPECT_EQ(SmtpReplyLength("2500 long\r\n"), std::string_view::npos);
  EXPECT_EQ(SmtpReplyLength("text 250 x\r\n"), std::string_view::npos);
}

TEST(SmtpReply, NothingWithinTheTimeout) {
  ScriptedPeer peer;
  peer.At(40000, "220 late\r\n");
  std::string reply, transcript;
  try {
    ReadReply(peer, reply, transcript, 30000);
    FAIL() << "a reply was read";
  } catch (const ECrashSocketError& error) {
    EXPECT_EQ(error.Message(), "Socket timeout.");
  }
  EXPECT_GE(peer.Now(), 30000u);
  EXPECT_LT(peer.Now(), 30010u);
}

TEST(SmtpReply, EndlessReplyIsCutOff) {
  ScriptedPeer fast;
  fast.Endless(0, 1, std::string(1000, 'x'));
  std::string reply, transcript;
  EXPECT_THROW(ReadReply(fast, reply, transcript, 30000), ECrashSocketError);
  EXPECT_LE(transcript.size(), kMaxReplyBytes);

  // A trickle that stays under the size limit but never stops.
  ScriptedPeer slow;
  slow.Endless(0, 900, "2");
  try {
    ReadReply(slow, reply, transcript, 30000);
    FAIL() << "the trickle was read to an end";
  } catch (const ECrashSocketError& error) {
    EXPECT_EQ(error.Message(), "Socket timeout.");
  }
  EXPECT_LE(slow.Now(), 30000u + kReplyQuietMs + 10);
}

TEST(SmtpReply, TheNumberAtTheStart) {
  EXPECT_EQ(ReplyNumber("220 ready"), 220);
  EXPECT_EQ(ReplyNumber("554"), 554);
  EXPECT_EQ(ReplyNumber("250-first\r\n550 second\r\n"), 250);
  try {
    ReplyNumber("hello\r\n");
    FAIL() << "a reply without a number was taken";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "'' is not a valid integer value");
  }
  EXPECT_THROW(ReplyNumber(""), EConvertError);
  EXPECT_THROW(ReplyNumber("99999999999 overflow"), EConvertError);
}

TEST(SmtpSend, PiecesOf1024WithProgress) {
  const std::string text(2048, 'm');
  std::vector<std::size_t> pieces;
  std::vector<std::pair<std::size_t, std::size_t>> calls;
  const long long sent = SendInPieces(
      text, [&](const char*, std::size_t n) { pieces.push_back(n); return static_cast<int>(n); },
      [&](std::size_t position, std::size_t total) { calls.emplace_back(position, total); });
  EXPECT_EQ(sent, 2048);
  EXPECT_EQ(pieces, (std::vector<std::size_t>{1024, 1024}));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], (std::pair<std::size_t, std::size_t>{1025, 2048}));
  EXPECT_EQ(calls[1], (std::pair<std::size_t, std::size_t>{2049, 2048}));
  EXPECT_EQ(calls[0].first * 100 / calls[0].second, 50u);
  EXPECT_EQ(calls[1].first * 100 / calls[1].second, 100u);
}

}  // namespace
}  // namespace pelloran::crashlog
