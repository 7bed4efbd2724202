// The MX query byte for byte, and answers built here by a packet builder of the test's own:
// preferences, equal preferences, compressed names, and malformed answers of every kind.

#include "crashlog/delivery/dns_message.h"
#include "crashlog/delivery/socket_error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelloran::crashlog {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Builds DNS messages field by field, names as labels or with pointers.
struct Packet {
  Bytes B;
  Packet& U8(int v) { B.push_back(static_cast<std::uint8_t>(v)); return *this; }
  Packet& U16(int v) { return U8(v >> 8).U8(v & 0xFF); }
  Packet& U32(std::uint32_t v) { return U16(v >> 16).U16(v & 0xFFFF); }
  Packet& Labels(const std::string& dotted, bool terminate = true) {
    std::size_t from = 0;
    while (from < dotted.size()) {
      std::size_t dot = dotted.find('.', from);
      if (dot == std::string::npos) dot = dotted.size();
      U8(static_cast<int>(dot - from));
      B.insert(B.end(), dotted.begin() + from, dotted.begin() + dot);
      from = dot + 1;
    }
    if (terminate) U8(0);
    return *this;
  }
  Packet& Pointer(int offset) { return U8(0xC0 | offset >> 8).U8(offset & 0xFF); }
  std::size_t Size() const { return B.size(); }
};

// Header of an answer to our query with one question for `domain`.
Packet Answer(int answers, const std::string& domain = "example.org", int id = 0x4141) {
  Packet p;
  p.U16(id).U16(0x8180).U16(1).U16(answers).U16(0).U16(0);
  p.Labels(domain).U16(15).U16(1);
  return p;
}

// An MX record owned by the question name (pointer to offset 12), exchange as given by `name`.
template <typename Name>
void Mx(Packet& p, int preference, Name name) {
  p.Pointer(12).U16(15).U16(1).U32(3600);
  const std::size_t lengthAt = p.Size();
  p.U16(0).U16(preference);
  name(p);
  const std::size_t length = p.Size() - lengthAt - 2;
  p.B[lengthAt] = static_cast<std::uint8_t>(length >> 8);
  p.B[lengthAt + 1] = static_cast<std::uint8_t>(length);
}
void MxNamed(Packet& p, int preference, const std::string& host) {
  Mx(p, preference, [&](Packet& q) { q.Labels(host); });
}

std::string Parse(const Packet& p) { return ParseMxResponse(p.B); }

TEST(DnsQuery, TheMxQueryByteForByte) {
  const std::string query = BuildMxQuery("mail.example.org", 0x4141);
  const std::string expected("AA\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
                             "\x04mail\x07" "example\x03org\x00\x00\x0F\x00\x01",
                             12 + 18 + 4);
  EXPECT_EQ(query, expected);
  EXPECT_EQ(BuildMxQuery("example.org.", 0x4141), BuildMxQuery("example.org", 0x4141));
  EXPECT_THROW(BuildMxQuery("", 0x4141), ECrashSocketError);
  EXPECT_THROW(BuildMxQuery("a..b", 0x4141), ECrashSocketError);
  EXPECT_THROW(BuildMxQuery(std::string(64, 'a') + ".org", 0x4141), ECrashSocketError);
  std::string longName;
  for (int i = 0; i < 26; ++i) longName += "abcdefghi.";  // 260 bytes
  EXPECT_THROW(BuildMxQuery(longName + "org", 0x4141), ECrashSocketError);
}

TEST(DnsQuery, TheIdIsTheCallersAndOnlyAnAnswerToTheQuestionCounts) {
  const std::string query = BuildMxQuery("example.org", 0xBEEF);
  EXPECT_EQ(query.substr(0, 2), "\xBE\xEF");
  EXPECT_EQ(query.substr(2), BuildMxQuery("example.org", 0x4141).substr(2));

  Packet ours = Answer(1, "Example.ORG", 0xBEEF);
  MxNamed(ours, 10, "mx.example.org");
  EXPECT_TRUE(AnswersMxQuery(ours.B, 0xBEEF, "example.org"));
  EXPECT_TRUE(AnswersMxQuery(ours.B, 0xBEEF, "example.org."));
  EXPECT_FALSE(AnswersMxQuery(ours.B, 0xBEEE, "example.org"));   // another id
  EXPECT_FALSE(AnswersMxQuery(ours.B, 0xBEEF, "example.net"));   // another question
  EXPECT_FALSE(AnswersMxQuery(ours.B, 0xBEEF, "mx.example.org"));
  Packet query2 = ours;
  query2.B[2] &= 0x7F;  // not a response
  EXPECT_FALSE(AnswersMxQuery(query2.B, 0xBEEF, "example.org"));
  Packet otherType = ours;
  otherType.B[12 + 13 + 1] = 1;  // asks for A records
  EXPECT_FALSE(AnswersMxQuery(otherType.B, 0xBEEF, "example.org"));
  Packet twoQuestions = ours;
  twoQuestions.B[5] = 2;
  EXPECT_FALSE(AnswersMxQuery(twoQuestions.B, 0xBEEF, "example.org"));
  for (std::size_t length = 0; length < 12 + 13 + 4; ++length)
    EXPECT_FALSE(AnswersMxQuery(Bytes(ours.B.begin(), ours.B.begin() + length), 0xBEEF, "example.org")) << length;
}

TEST(DnsAnswer, LowestPreferenceWinsAndTheFirstOfEqualOnes) {
  Packet p = Answer(2);
  MxNamed(p, 20, "mx20.example.org");
  MxNamed(p, 10, "mx10.example.org");
  EXPECT_EQ(Parse(p), "mx10.example.org");

  Packet q = Answer(3);
  MxNamed(q, 10, "first.example.org");
  MxNamed(q, 10, "second.example.org");
  MxNamed(q, 30, "third.example.org");
  EXPECT_EQ(Parse(q), "first.example.org");
}

TEST(DnsAnswer, CompressedNames) {
  Packet p = Answer(2);
  // "mx1" + pointer to the question name; then "backup" + pointer into the first exchange.
  std::size_t firstExchange = 0;
  Mx(p, 30, [&](Packet& q) {
    firstExchange = q.Size();
    q.Labels("mx1", false).Pointer(12);
  });
  Mx(p, 5, [&](Packet& q) { q.Labels("backup", false).Pointer(static_cast<int>(firstExchange)); });
  EXPECT_EQ(Parse(p), "backup.mx1.example.org");

  const auto name = DecodeDnsName(p.B, firstExchange);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->Name, "mx1.example.org");
  EXPECT_EQ(name->Next, firstExchange + 4 + 2);  // after the first pointer
}

TEST(DnsAnswer, OtherRecordsAndAnswersWithoutExchangers) {
  Packet p = Answer(2);
  p.Pointer(12).U16(5).U16(1).U32(60).U16(9).Labels("alias.x");  // a CNAME is skipped
  MxNamed(p, 10, "mx.example.org");
  p.B[11] = 1;  // one additional record that is not an answer
  p.Pointer(12).U16(1).U16(1).U32(60).U16(4).U32(0x7F000001);
  EXPECT_EQ(Parse(p), "mx.example.org");

  EXPECT_EQ(Parse(Answer(0)), "");  // NODATA
  Packet nullMx = Answer(1);
  Mx(nullMx, 0, [](Packet& q) { q.U8(0); });  // "." : no mail for this domain
  EXPECT_EQ(Parse(nullMx), "");
}

TEST(DnsAnswer, EveryTruncationFailsCleanly) {
  Packet p = Answer(2);
  MxNamed(p, 20, "mx20.example.org");
  Mx(p, 10, [](Packet& q) { q.Labels("mx10", false).Pointer(12); });
  ASSERT_EQ(Parse(p), "mx10.example.org");
  for (std::size_t length = 0; length < p.Size(); ++length) {
    const Bytes cut(p.B.begin(), p.B.begin() + length);
    EXPECT_THROW(ParseMxResponse(cut), ECrashSocketError) << length;
  }
}

TEST(DnsAnswer, HostileAnswersAreRefused) {
  // A pointer to itself, and two pointers pointing at each other.
  Packet loop = Answer(1);
  Mx(loop, 10, [](Packet& q) { q.Pointer(static_cast<int>(q.Size())); });
  EXPECT_THROW(Parse(loop), ECrashSocketError);
  Packet pingPong = Answer(1);
  Mx(pingPong, 10, [](Packet& q) {
    const int here = static_cast<int>(q.Size());
    q.Pointer(here + 2).Pointer(here);
  });
  EXPECT_THROW(Parse(pingPong), ECrashSocketError);

  // A name longer than 255 bytes made of pointers to a long label chain.
  Packet longName = Answer(1);
  Mx(longName, 10, [](Packet& q) {
    std::string labels;
    for (int i = 0; i < 5; ++i) labels += std::string(60, 'a' + i) + ".";
    q.Labels(labels + "org");
  });
  EXPECT_THROW(Parse(longName), ECrashSocketError);

  // A pointer past the end, a reserved label type, record data past the end.
  Packet outside = Answer(1);
  Mx(outside, 10, [](Packet& q) { q.Pointer(0x3FFF); });
  EXPECT_THROW(Parse(outside), ECrashSocketError);
  Packet reserved = Answer(1);
  Mx(reserved, 10, [](Packet& q) { q.U8(0x80).U8(1).U8(0); });
  EXPECT_THROW(Parse(reserved), ECrashSocketError);
  Packet longData = Answer(1);
  MxNamed(longData, 10, "mx.example.org");
  longData.B[longData.Size() - 19] = 0x40;  // data length far beyond the message
  EXPECT_THROW(Parse(longData), ECrashSocketError);

  // The exchange must end inside its record, even when the message goes on.
  Packet spill = Answer(2);
  Mx(spill, 10, [](Packet& q) { q.U8(4).U8('s'); });  // label says 4 bytes, record holds 1
  MxNamed(spill, 20, "abc.example.org");
  EXPECT_THROW(Parse(spill), ECrashSocketError);

  // A query instead of an answer (whose answer it is, AnswersMxQuery tells).
  Packet question = Answer(0);
  question.B[2] = 0x01;
  EXPECT_THROW(Parse(question), ECrashSocketError);
}

TEST(DnsAnswer, HugeAnswerIsReadWithinItsLength) {
  Packet p = Answer(2000);
  for (int i = 0; i < 2000; ++i) MxNamed(p, 1000 - i / 2, "mx" + std::to_string(i) + ".example.org");
  EXPECT_GT(p.Size(), 40000u);
  EXPECT_EQ(Parse(p), "mx1998.example.org");
}

}  // namespace
}  // namespace pelloran::crashlog
