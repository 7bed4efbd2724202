// TLS record framing on bytes as they arrive, and the session rules read from EHLO replies and
// addresses.

#include "crashlog/delivery/smtp_session_rules.h"
#include "crashlog/delivery/socket_error.h"
#include "crashlog/delivery/tls_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace pelloran::crashlog {
namespace {

std::string Record(unsigned char type, std::size_t body, unsigned char minor = 3) {
  std::string record = {static_cast<char>(type), 3, static_cast<char>(minor), static_cast<char>(body >> 8),
                        static_cast<char>(body & 0xFF)};
  return record + std::string(body, 'b');
}

TEST(TlsRecord, WholeRecordsOnlyAsTheyArrive) {
  const std::string stream = Record(22, 300) + Record(20, 1) + Record(23, 40);
  TTlsRecordQueue queue;
  std::string seen;
  // One byte at a time: a record is handed out exactly when its last byte is there.
  for (std::size_t i = 0; i < stream.size(); ++i) {
    queue.Append(stream.substr(i, 1));
    const std::string_view front = queue.Front();
    const std::size_t ends[] = {305, 311, 356};
    const bool atEnd = i + 1 == ends[0] || i + 1 == ends[1] || i + 1 == ends[2];
    EXPECT_EQ(front.empty(), !atEnd) << i;
    if (!front.empty()) {
      seen += front;
      queue.Consume(front.size());
    }
  }
  EXPECT_EQ(seen, stream);
  EXPECT_EQ(queue.Size(), 0u);

  TTlsRecordQueue batch;
  batch.Append(stream.substr(0, 330));  // two whole records and part of the third
  EXPECT_EQ(batch.WholeRecords().size(), 311u);
  batch.Consume(311);
  EXPECT_EQ(batch.Pending(), stream.substr(311, 19));
}

TEST(TlsRecord, APlainTextPeerIsFoundOutAtOnce) {
  EXPECT_EQ(ScanTlsRecord("2").State, TTlsRecordState::Malformed);  // "220 ready"
  EXPECT_EQ(ScanTlsRecord(std::string("\x16\x02", 2)).State, TTlsRecordState::Malformed);
  EXPECT_EQ(ScanTlsRecord(std::string("\x16\x03\x05", 3)).State, TTlsRecordState::Malformed);
  EXPECT_EQ(ScanTlsRecord(Record(22, kMaxTlsRecordBody + 1).substr(0, 5)).State, TTlsRecordState::Malformed);
  EXPECT_EQ(ScanTlsRecord(Record(22, kMaxTlsRecordBody)).State, TTlsRecordState::Complete);
  EXPECT_EQ(ScanTlsRecord(Record(24, 1)).State, TTlsRecordState::Malformed);
  EXPECT_EQ(ScanTlsRecord(std::string("\x17\x03", 2)).State, TTlsRecordState::Incomplete);
  EXPECT_EQ(ScanTlsRecord(Record(21, 2, 1)).Length, 7u);

  TTlsRecordQueue queue;
  queue.Append(Record(22, 4) + "220 plain greeting\r\n");
  EXPECT_EQ(queue.Front().size(), 9u);
  EXPECT_EQ(queue.WholeRecords().size(), 9u);
  queue.Consume(9);
  EXPECT_THROW(queue.WholeRecords(), ECrashSocketError);
  try {
    (void)queue.Front();
    FAIL() << "plain text taken for a record";
  } catch (const ECrashSocketError& error) {
    EXPECT_EQ(error.Message(), "The server did not answer in TLS.");
  }
}

TEST(SmtpSessionRules, ExtensionsOfAnEhloReply) {
  const std::string reply = "250-mail.example.org greets you\r\n250-PIPELINING\r\n250-starttls\r\n250 AUTH LOGIN\r\n";
  EXPECT_TRUE(EhloOffers(reply, "STARTTLS"));
  EXPECT_TRUE(EhloOffers(reply, "AUTH"));
  EXPECT_FALSE(EhloOffers(reply, "PIPE"));
  EXPECT_FALSE(EhloOffers(reply, "8BITMIME"));
  // The greeting line names the server; a server called STARTTLS offers nothing by it.
  EXPECT_FALSE(EhloOffers("250-STARTTLS\r\n250 SIZE 100\r\n", "STARTTLS"));
  EXPECT_FALSE(EhloOffers("", "STARTTLS"));
  EXPECT_TRUE(EhloRefused(502));
  EXPECT_TRUE(EhloRefused(500));
  EXPECT_FALSE(EhloRefused(421));
  EXPECT_FALSE(EhloRefused(250));
}

TEST(SmtpSessionRules, PrivateNetworks) {
  const auto address = [](unsigned a, unsigned b, unsigned c, unsigned d) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                    static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
  };
  for (const auto& [a, b] : {std::pair{127u, 0u}, {127u, 255u}, {10u, 1u}, {172u, 16u}, {172u, 31u}, {192u, 168u}})
    EXPECT_TRUE(IsPrivateNetworkAddress(address(a, b, 3, 4))) << a << "." << b;
  for (const auto& [a, b] : {std::pair{172u, 15u}, {172u, 32u}, {192u, 169u}, {8u, 8u}, {11u, 0u}, {128u, 0u}})
    EXPECT_FALSE(IsPrivateNetworkAddress(address(a, b, 3, 4))) << a << "." << b;

  // A password in clear: to a loopback address, however it was named; to a private address only
  // when the configured host is that address written out.
  std::uint32_t parsed = 0;
  ASSERT_TRUE(ParseIPv4Literal("10.0.0.5", parsed));
  EXPECT_EQ(parsed, address(10, 0, 0, 5));
  for (const char* notLiteral : {"", "10.0.0", "10.0.0.5.", "10.0.0.256", "10.0.0.0005", "mail.local", "10.0.0.5 ", "0x0a.0.0.5"})
    EXPECT_FALSE(ParseIPv4Literal(notLiteral, parsed)) << notLiteral;
  EXPECT_EQ(ClearPasswordRule("localhost", address(127, 0, 0, 1)), TClearPasswordRule::Loopback);
  EXPECT_EQ(ClearPasswordRule("10.0.0.5", address(10, 0, 0, 5)), TClearPasswordRule::ConfiguredPrivateAddress);
  EXPECT_EQ(ClearPasswordRule("192.168.1.2", address(192, 168, 1, 2)), TClearPasswordRule::ConfiguredPrivateAddress);
  EXPECT_EQ(ClearPasswordRule("mail.office.lan", address(10, 0, 0, 5)), TClearPasswordRule::Refused);  // through DNS
  EXPECT_EQ(ClearPasswordRule("10.0.0.6", address(10, 0, 0, 5)), TClearPasswordRule::Refused);
  EXPECT_EQ(ClearPasswordRule("8.8.4.4", address(8, 8, 4, 4)), TClearPasswordRule::Refused);
  EXPECT_EQ(DataTranscriptLine(1234), "(message of 1234 bytes sent)\r\n");
}

}  // namespace
}  // namespace pelloran::crashlog
