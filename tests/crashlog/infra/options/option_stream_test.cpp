#include "crashlog/infra/options/option_stream.h"

#include <gtest/gtest.h>

#include <functional>

#include "crashlog/infra/options/eldata.h"
#include "tests/crashlog/infra/options/legacy_option_stream.h"

namespace pelloran::crashlog {
namespace {

using testing::BuildLegacyStream;
using testing::LegacyTextFrom;
using testing::TRawFields;

// Values that differ from the defaults and from every value the legacy writer stores, so that a
// test can tell "left unchanged" from "loaded".
TCrashOptionValues Sentinel() {
  TCrashOptionValues v;
  v.Activated = false;
  v.FilterActive = false;
  v.ReportOptions = 0x80;
  v.ShowDialog = false;
  v.LogInMailBody = false;
  v.SendWholeLog = false;
  v.AttachScreenshot = false;
  v.ShowSendProgress = false;
  v.SaveLog = false;
  v.InitialDialogPage = 9;
  v.CustomDialogLook = false;
  v.FreezeDetection = false;
  v.FreezeTimeout = 777;
  v.FreezeMessage = "old freeze";
  v.SenderAddress = "old@sender";
  v.SmtpHost = "old.host";
  v.SmtpPort = 2525;
  v.SmtpUser = "olduser";
  v.SmtpPassword = "oldpw";
  v.TerminateAction = 9;
  v.ShowTerminateButton = false;
  v.MaxLoggedErrors = 99;
  v.TerminateAfterErrors = 98;
  v.MailAddresses = "old@to";
  v.MailSubject = "old subject";
  v.SendMode = 0;
  v.ReportFields = 0x11111111;
  v.OutputPath = "C:\\old";
  v.FilterClasses = {"EOld"};
  v.FilterMessages = {"old msg"};
  v.MailBody = "old body";
  v.SaveMiniDump = true;
  v.DialogRequestCaption = "old caption";
  for (int i = 0; i < kTextCount; ++i) v.Texts[i] = "old text " + std::to_string(i);
  return v;
}

// What loading `raw` written as version v over `old` must give, field by field from the layouts.
TCrashOptionValues Expected(std::uint16_t v, const TRawFields& raw, TCrashOptionValues e) {
  e.Activated = raw.Activated != 0;
  e.FilterActive = raw.FilterActive != 0;
  e.ReportOptions = raw.ReportOptions;
  e.ShowDialog = v < 450 ? raw.ShowDialog == 0 : raw.ShowDialog != 0;
  e.LogInMailBody = raw.LogInMailBody != 0;
  if (v >= 450) {
    e.SendWholeLog = raw.SendWholeLog != 0;
    e.AttachScreenshot = raw.AttachScreenshot != 0;
    e.ShowSendProgress = raw.ShowSendProgress != 0;
  }
  if (v >= 401) {
    e.SaveLog = raw.SaveLog != 0;
    e.InitialDialogPage = raw.InitialDialogPage;
  }
  if (v >= 403) e.CustomDialogLook = raw.CustomDialogLook != 0;
  if (v >= 420) {
    e.FreezeDetection = raw.FreezeDetection != 0;
    e.FreezeTimeout = v < 422 ? raw.FreezeTimeout / 1000 : raw.FreezeTimeout;
    e.FreezeMessage = raw.FreezeMessage;
    if (v >= 450) e.SenderAddress = raw.SenderAddress;
    e.SmtpHost = raw.SmtpHost;
  }
  if (v >= 450) e.SmtpPort = raw.SmtpPort;
  if (v >= 421) {
    e.SmtpUser = raw.SmtpUser;
    e.SmtpPassword = raw.SmtpPassword;
    e.TerminateAction = raw.TerminateAction;
  }
  e.ShowTerminateButton = raw.ShowTerminateButton != 0;
  e.MaxLoggedErrors = raw.MaxLoggedErrors;
  e.TerminateAfterErrors = raw.TerminateAfterErrors;
  e.MailAddresses = raw.MailAddresses;
  e.MailSubject = raw.MailSubject;
  e.SendMode = v >= 450 ? raw.SendMode : raw.SendMode == 0 ? 0 : e.SmtpHost.empty() ? 1 : 2;
  e.ReportFields = raw.ReportFields;
  e.OutputPath = raw.OutputPath;
  e.FilterClasses.clear();
  e.FilterMessages.clear();
  for (const auto& [cls, msg] : raw.Filters) {
    e.FilterClasses.push_back(cls);
    e.FilterMessages.push_back(msg);
  }
  e.MailBody = raw.MailBody;
  for (int i = 0; i < kTextCount; ++i)
    if (LegacyTextFrom(i) <= v) e.Texts[i] = raw.Texts[i];
  return e;
}

constexpr std::uint16_t kLayouts[] = {400, 401, 403, 420, 421, 422, 423, 449, 450, 454};

TEST(OptionDefaults, FieldsAndTexts) {
  const TCrashOptionValues v;
  EXPECT_TRUE(v.Activated && v.FilterActive && v.ShowDialog && v.ShowSendProgress && v.ShowTerminateButton);
  EXPECT_TRUE(v.SaveLog && v.CustomDialogLook);
  EXPECT_FALSE(v.LogInMailBody || v.AttachScreenshot || v.SendWholeLog || v.FreezeDetection);
  EXPECT_EQ(v.SmtpPort, 25);
  EXPECT_EQ(v.TerminateAction, 1);
  EXPECT_EQ(v.FreezeTimeout, 60);
  EXPECT_EQ(v.FreezeMessage, "The application seems to be frozen.");
  EXPECT_FALSE(v.SenderAddress.empty());
  EXPECT_EQ(v.ReportFields, 0xFFFFFFFFu);
  EXPECT_EQ(v.ReportOptions, 0);
  EXPECT_EQ(v.InitialDialogPage, 0);
  EXPECT_EQ(v.MaxLoggedErrors, 32);
  EXPECT_EQ(v.TerminateAfterErrors, 3);
  EXPECT_EQ(v.SendMode, 0);
  EXPECT_TRUE(v.SmtpHost.empty() && v.OutputPath.empty() && v.MailBody.empty() && v.FilterClasses.empty());
  EXPECT_EQ(v.Texts[0], "Information.");
  EXPECT_EQ(v.Texts[3],
            "An error has occurred during program execution.\r\n"
            "Please read the following information for further details.");
  EXPECT_EQ(v.Texts[14], "&Restart");
  EXPECT_EQ(v.Texts[44], "Build #");
  EXPECT_EQ(v.Texts[60], "Please describe the steps to reproduce the error:");
  EXPECT_EQ(v.Texts[70], "Memory Dump");
  EXPECT_EQ(kReportFieldNames[0], "Application|Start Date");
  EXPECT_EQ(kReportFieldNames[22], "Operating System|Language");
  for (int i = 0; i < kTextCount; ++i) {
    EXPECT_FALSE(v.Texts[i].empty()) << i;
    EXPECT_EQ(TextFromVersion(i), LegacyTextFrom(i)) << i;
  }
}

TEST(StoredString, ScrambledWithCountAndFinalCrLfRule) {
  TByteWriter w;
  WriteStoredString(w, "ab");
  WriteStoredString(w, "");
  EXPECT_EQ(w.Data(), (std::vector<std::uint8_t>{2, 0, 0, 0, 'a' ^ 0x5B, 'b' ^ 0x5B, 0, 0, 0, 0}));

  EXPECT_EQ(StripFinalCrLf("abc\r\n"), "abc");
  EXPECT_EQ(StripFinalCrLf("a\r\nb\r\n"), "a\r\nb\r\n");
  EXPECT_EQ(StripFinalCrLf("\r\n"), "");
  EXPECT_EQ(StripFinalCrLf("abc\n"), "abc\n");

  TCrashOptionValues v;
  v.MailBody = "abc\r\n";
  v.MailSubject = "a\r\nb\r\n";
  TCrashOptionValues back = Sentinel();
  const auto inBytes = SaveOptionStream(v);
  TByteReader in(inBytes);
  ASSERT_TRUE(LoadOptionStream(in, kCurrentDataVersion, back));
  EXPECT_EQ(back.MailBody, "abc");
  EXPECT_EQ(back.MailSubject, "a\r\nb\r\n");
}

TEST(OptionStream, CurrentLayoutStartsWithTheFlagsInStreamOrder) {
  TCrashOptionValues v;
  v.Activated = false;
  v.ReportOptions = kSkipDuplicates | kAskReproduceSteps;
  v.InitialDialogPage = 3;
  v.FreezeTimeout = 0x01020304;
  v.FreezeMessage = "F";
  const auto bytes = SaveOptionStream(v);
  const std::vector<std::uint8_t> head{0, 1, 3, 1, 0, 0, 0, 1, 1, 3, 1, 0, 4, 3, 2, 1, 1, 0, 0, 0, 'F' ^ 0x5B};
  ASSERT_GE(bytes.size(), head.size());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + head.size()), head);
}

TEST(OptionStream, FreshSetRoundTripsAt454) {
  const TCrashOptionValues fresh;
  TCrashOptionValues back = Sentinel();
  const auto bytes = SaveOptionStream(fresh);
  TByteReader in(bytes);
  ASSERT_TRUE(LoadOptionStream(in, 454, back));
  EXPECT_EQ(in.Position(), bytes.size());
  EXPECT_EQ(back, fresh);
}

TEST(OptionStream, EveryStoredFieldRoundTripsWithFilterListsPadded) {
  TCrashOptionValues v = Sentinel();
  v.FilterClasses = {"EA", "EB"};
  v.FilterMessages = {"ma", "mb", "mc"};
  v.Texts[69] = "\xB6\xD1\xD5\xBB";  // GBK text: every byte value survives the scrambling
  TCrashOptionValues back;
  const auto bytes = SaveOptionStream(v);
  TByteReader in(bytes);
  ASSERT_TRUE(LoadOptionStream(in, 454, back));
  EXPECT_EQ(in.Position(), bytes.size());
  v.FilterClasses.push_back("");
  EXPECT_EQ(back, v);

  v.FilterClasses = {"E1", "E2", "E3"};
  v.FilterMessages = {};
  const auto againBytes = SaveOptionStream(v);
  TByteReader again(againBytes);
  ASSERT_TRUE(LoadOptionStream(again, 454, back));
  EXPECT_EQ(back.FilterMessages, (std::vector<std::string>{"", "", ""}));
}

TEST(OptionStream, EveryOlderLayoutLoadsWithItsConversions) {
  const TRawFields raw;
  for (std::uint16_t v : kLayouts) {
    SCOPED_TRACE(v);
    const auto bytes = BuildLegacyStream(v, raw);
    TCrashOptionValues loaded = Sentinel();
    TByteReader in(bytes);
    EXPECT_TRUE(LoadOptionStream(in, v, loaded));
    EXPECT_EQ(in.Position(), bytes.size()) << "layout read must end where the writer ended";
    EXPECT_EQ(loaded, Expected(v, raw, Sentinel()));
  }
}

TEST(OptionStream, Version400KeepsEverythingItDoesNotCarry) {
  const TCrashOptionValues old = Sentinel();
  TCrashOptionValues loaded = old;
  const auto inBytes = BuildLegacyStream(400, TRawFields{});
  TByteReader in(inBytes);
  ASSERT_TRUE(LoadOptionStream(in, 400, loaded));
  EXPECT_EQ(loaded.SaveLog, old.SaveLog);
  EXPECT_EQ(loaded.InitialDialogPage, old.InitialDialogPage);
  EXPECT_EQ(loaded.CustomDialogLook, old.CustomDialogLook);
  EXPECT_EQ(loaded.FreezeDetection, old.FreezeDetection);
  EXPECT_EQ(loaded.FreezeTimeout, old.FreezeTimeout);
  EXPECT_EQ(loaded.FreezeMessage, old.FreezeMessage);
  EXPECT_EQ(loaded.SmtpHost, old.SmtpHost);
  EXPECT_EQ(loaded.SmtpUser, old.SmtpUser);
  EXPECT_EQ(loaded.SmtpPort, old.SmtpPort);
  EXPECT_EQ(loaded.Texts[8], old.Texts[8]);
  EXPECT_EQ(loaded.Texts[14], old.Texts[14]);
  EXPECT_EQ(loaded.Texts[15], old.Texts[15]);
  EXPECT_EQ(loaded.Texts[7], TRawFields{}.Texts[7]);
  EXPECT_EQ(loaded.Texts[52], TRawFields{}.Texts[52]);
  EXPECT_FALSE(loaded.ShowDialog);  // stored 1 meant "hide"
}

TEST(OptionStream, Version421FreezeTimeoutInMilliseconds) {
  TRawFields raw;
  raw.FreezeTimeout = 5000;
  for (auto [version, seconds] : {std::pair<std::uint16_t, int>{420, 5}, {421, 5}, {422, 5000}}) {
    TCrashOptionValues loaded;
    const auto inBytes = BuildLegacyStream(version, raw);
  TByteReader in(inBytes);
    ASSERT_TRUE(LoadOptionStream(in, version, loaded));
    EXPECT_EQ(loaded.FreezeTimeout, seconds) << version;
  }
  raw.FreezeTimeout = -1999;  // truncation toward zero
  TCrashOptionValues loaded;
  const auto inBytes = BuildLegacyStream(421, raw);
  TByteReader in(inBytes);
  ASSERT_TRUE(LoadOptionStream(in, 421, loaded));
  EXPECT_EQ(loaded.FreezeTimeout, -1);
}

TEST(OptionStream, Version449SendFlagBecomesAMode) {
  TRawFields raw;
  raw.SendMode = 1;
  raw.SmtpHost = "";
  TCrashOptionValues loaded;
  const auto noHostBytes = BuildLegacyStream(449, raw);
  TByteReader noHost(noHostBytes);
  ASSERT_TRUE(LoadOptionStream(noHost, 449, loaded));
  EXPECT_EQ(loaded.SendMode, kSendMailClient);

  raw.SmtpHost = "mail.example.com";
  const auto withHostBytes = BuildLegacyStream(449, raw);
  TByteReader withHost(withHostBytes);
  ASSERT_TRUE(LoadOptionStream(withHost, 449, loaded));
  EXPECT_EQ(loaded.SendMode, kSendSmtpServer);

  raw.SendMode = 0;
  const auto offBytes = BuildLegacyStream(449, raw);
  TByteReader off(offBytes);
  ASSERT_TRUE(LoadOptionStream(off, 449, loaded));
  EXPECT_EQ(loaded.SendMode, kSendNone);

  // Before 420 the host is not stored: the one held already decides.
  raw.SendMode = 1;
  loaded.SmtpHost.clear();
  const auto v400Bytes = BuildLegacyStream(400, raw);
  TByteReader v400(v400Bytes);
  ASSERT_TRUE(LoadOptionStream(v400, 400, loaded));
  EXPECT_EQ(loaded.SendMode, kSendMailClient);
}

TEST(OptionStream, MaxLoggedErrorsZeroIsLoadedAsStored) {
  TRawFields raw;
  raw.MaxLoggedErrors = 0;
  TCrashOptionValues loaded;
  const auto inBytes = BuildLegacyStream(454, raw);
  TByteReader in(inBytes);
  ASSERT_TRUE(LoadOptionStream(in, 454, loaded));
  EXPECT_EQ(loaded.MaxLoggedErrors, 0);
}

TEST(AddedBlock, FollowsTheTextsWhereReadersOf454Stop) {
  TCrashOptionValues v;
  v.SaveMiniDump = true;
  v.DialogRequestCaption = "Steps";
  v.MailBody = "body";
  TByteWriter record, block;
  SaveOptionRecord(v, record);
  SaveAddedBlock(v, block);
  const auto bytes = SaveOptionStream(v);
  ASSERT_EQ(bytes.size(), record.Size() + block.Size());
  EXPECT_TRUE(std::equal(record.Data().begin(), record.Data().end(), bytes.begin()));
  // Layout 455, the byte count of the rest, SaveMiniDump on, then the texts.
  const std::uint32_t count = static_cast<std::uint32_t>(block.Size() - 6);
  const std::vector<std::uint8_t> head{0xC7, 0x01, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8), 0, 0, 1};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin() + static_cast<std::ptrdiff_t>(record.Size())));

  // A reader of 454 reads the record and stops in front of the block.
  TCrashOptionValues old = Sentinel();
  TByteReader in(bytes);
  ASSERT_TRUE(LoadOptionRecord(in, 454, old));
  EXPECT_EQ(in.Position(), record.Size());
  EXPECT_EQ(old.MailBody, "body");
  EXPECT_TRUE(old.SaveMiniDump);  // the sentinel's value, untouched

  // In an ELDATA body the block follows the debug information, which such a reader finds as before.
  const std::vector<std::uint8_t> debugInfo{9, 8, 7};
  const auto body = BuildEldataBody(v, debugInfo);
  TByteReader oldBody(body);
  TCrashOptionValues loaded = Sentinel();
  ASSERT_TRUE(LoadOptionRecord(oldBody, 454, loaded));
  EXPECT_EQ(ReadEldataDebugInfo(oldBody), debugInfo);
  loaded = Sentinel();
  std::optional<std::vector<std::uint8_t>> readBack;
  ASSERT_TRUE(ReadEldataBody(body, 454, loaded, readBack));
  EXPECT_EQ(readBack, debugInfo);
  EXPECT_EQ(loaded, v);
}

TEST(AddedBlock, OtherLayoutsOfTheBlock) {
  TCrashOptionValues saved;
  saved.DialogRequestCaption = "Steps";
  TByteWriter current;
  SaveAddedBlock(saved, current);
  const std::vector<std::uint8_t> fields(current.Data().begin() + 6, current.Data().end());
  const auto header = [](std::uint16_t layout, std::size_t count) {
    return std::vector<std::uint8_t>{static_cast<std::uint8_t>(layout), static_cast<std::uint8_t>(layout >> 8),
                                     static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8), 0, 0};
  };
  const auto join = [](std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct TCase {
    const char* what;
    std::vector<std::uint8_t> block;
    bool complete;
    bool read;  // the fields came from the block
    std::size_t unread;
  } cases[] = {
      {"a later layout: its own fields are skipped",
       join(join(header(456, fields.size() + 2), fields), {0xAA, 0xBB, 0x55}), true, true, 1},
      {"a layout before the fields", header(454, 0), true, false, 0},
      {"fewer bytes than its fields", join(header(455, 1), {0}), true, false, 0},
      {"a count beyond the end", join(header(455, fields.size() + 1), fields), false, false, 0},
      {"a cut header", {0xC7, 0x01, 1}, false, false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = SaveOptionStream(saved);
    bytes.resize(bytes.size() - current.Size());
    bytes.insert(bytes.end(), c.block.begin(), c.block.end());
    TCrashOptionValues loaded = Sentinel();
    TByteReader in(bytes);
    EXPECT_EQ(LoadOptionStream(in, 454, loaded), c.complete);
    EXPECT_EQ(loaded.DialogRequestCaption, c.read ? "Steps" : "old caption");
    EXPECT_EQ(loaded.MailBody, "");  // the record before it was read
    if (c.complete) {
      EXPECT_EQ(in.Remaining(), c.unread);
    }
  }
}

// Per field: "still the old value" or "the loaded value" are the only acceptable states.
struct TFieldCheck {
  const char* name;
  std::function<bool(const TCrashOptionValues&, const TCrashOptionValues&)> same;
};

std::vector<TFieldCheck> FieldChecks() {
  std::vector<TFieldCheck> checks;
#define FIELD(f) checks.push_back({#f, [](const TCrashOptionValues& a, const TCrashOptionValues& b) { return a.f == b.f; }})
  FIELD(Activated); FIELD(FilterActive); FIELD(ReportOptions); FIELD(ShowDialog); FIELD(LogInMailBody);
  FIELD(SendWholeLog); FIELD(AttachScreenshot); FIELD(ShowSendProgress); FIELD(SaveLog);
  FIELD(InitialDialogPage); FIELD(CustomDialogLook); FIELD(FreezeDetection); FIELD(FreezeTimeout);
  FIELD(FreezeMessage); FIELD(SenderAddress); FIELD(SmtpHost); FIELD(SmtpPort); FIELD(SmtpUser);
  FIELD(SmtpPassword); FIELD(TerminateAction); FIELD(ShowTerminateButton); FIELD(MaxLoggedErrors);
  FIELD(TerminateAfterErrors); FIELD(MailAddresses); FIELD(MailSubject); FIELD(SendMode); FIELD(ReportFields);
  FIELD(OutputPath); FIELD(MailBody);
#undef FIELD
  for (int i = 0; i < kTextCount; ++i)
    checks.push_back({"Texts", [i](const TCrashOptionValues& a, const TCrashOptionValues& b) {
                        return a.Texts[i] == b.Texts[i];
                      }});
  return checks;
}

bool IsPrefixOf(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

TEST(OptionStream, EveryTruncationLeavesTheRestUnchanged) {
  const auto checks = FieldChecks();
  for (std::uint16_t v : kLayouts) {
    SCOPED_TRACE(v);
    const auto bytes = BuildLegacyStream(v, TRawFields{});
    const TCrashOptionValues old = Sentinel();
    const TCrashOptionValues full = Expected(v, TRawFields{}, old);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
      TCrashOptionValues loaded = old;
      TByteReader in(std::span<const std::uint8_t>(bytes.data(), length));
      ASSERT_FALSE(LoadOptionStream(in, v, loaded)) << length;
      for (const auto& check : checks)
        ASSERT_TRUE(check.same(loaded, old) || check.same(loaded, full)) << check.name << " at " << length;
      ASSERT_EQ(loaded.Texts[70], old.Texts[70]) << length;
      ASSERT_EQ(loaded.FilterClasses.size(), loaded.FilterMessages.size()) << length;
      ASSERT_TRUE(loaded.FilterClasses == old.FilterClasses || IsPrefixOf(loaded.FilterClasses, full.FilterClasses))
          << length;
      if (length >= 1) {
        ASSERT_EQ(loaded.Activated, full.Activated);
      }
    }
  }
}

TEST(OptionStream, DamagedCountsNeverReadPastTheEnd) {
  const TCrashOptionValues old = Sentinel();
  // A string count far beyond the stream: that string and everything after it stay.
  testing::TLegacyWriter w;
  for (int i = 0; i < 12; ++i) w.U8(1);
  w.U32(30);           // FreezeTimeout
  w.U32(0xFFFFFFFF);   // FreezeMessage count
  w.U8('x');
  TCrashOptionValues loaded = old;
  TByteReader in(w.bytes);
  EXPECT_FALSE(LoadOptionStream(in, 454, loaded));
  EXPECT_EQ(loaded.FreezeTimeout, 30);
  EXPECT_EQ(loaded.FreezeMessage, old.FreezeMessage);
  EXPECT_EQ(loaded.MailBody, old.MailBody);

  // A negative pair count gives empty lists; the rest of the stream still reads.
  TRawFields raw;
  raw.Filters.clear();
  auto bytes = BuildLegacyStream(454, raw);
  TCrashOptionValues empty = old;
  {
    // Find the pair count (0) just before MailBody: patch it to -5.
    const auto body = BuildLegacyStream(454, raw);
    testing::TLegacyWriter tail;
    tail.Str(raw.MailBody);
    for (int i = 0; i < 71; ++i) tail.Str(raw.Texts[i]);
    const std::size_t countAt = body.size() - tail.bytes.size() - 4;
    bytes[countAt] = 0xFB;
    bytes[countAt + 1] = bytes[countAt + 2] = bytes[countAt + 3] = 0xFF;
  }
  TByteReader negative(bytes);
  EXPECT_TRUE(LoadOptionStream(negative, 454, empty));
  EXPECT_TRUE(empty.FilterClasses.empty());
  EXPECT_TRUE(empty.FilterMessages.empty());
  EXPECT_EQ(empty.MailBody, raw.MailBody);

  // A pair count of two billion over one stored pair: one pair, nothing reserved, then the end.
  raw.Filters = {{"EOnly", "only"}};
  auto huge = BuildLegacyStream(454, raw);
  testing::TLegacyWriter after;
  after.Str("EOnly");
  after.Str("only");
  after.Str(raw.MailBody);
  for (int i = 0; i < 71; ++i) after.Str(raw.Texts[i]);
  const std::size_t at = huge.size() - after.bytes.size() - 4;
  huge[at] = 0x00; huge[at + 1] = 0x94; huge[at + 2] = 0x35; huge[at + 3] = 0x77;
  huge.resize(at + 4 + 4 + 5 + 4 + 4);  // count, the one pair, nothing more
  TCrashOptionValues one = old;
  TByteReader in2(huge);
  EXPECT_FALSE(LoadOptionStream(in2, 454, one));
  EXPECT_EQ(one.FilterClasses, std::vector<std::string>{"EOnly"});
  EXPECT_EQ(one.FilterMessages, std::vector<std::string>{"only"});
  EXPECT_EQ(one.MailBody, old.MailBody);
}

}  // namespace
}  // namespace pelloran::crashlog
