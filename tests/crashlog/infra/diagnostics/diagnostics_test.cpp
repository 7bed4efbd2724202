#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/diagnostics_platform.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/diagnostics/window_texts.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace pelloran::crashlog {
namespace {

// Message boxes are recorded instead of shown; the answer to give is set per test.
struct ShownBox {
  std::string Text, Caption;
  unsigned Flags;
};
std::vector<ShownBox> shownBoxes;
int boxAnswer = 0;
int RecordBox(const std::string& text, const std::string& caption, unsigned flags) {
  shownBoxes.push_back({text, caption, flags});
  return boxAnswer;
}

struct SentMail {
  std::string Recipient, Subject, Body, Attachment;
};
std::vector<SentMail> sentMails;
bool mailAccepted = false;
bool RecordMail(const std::string& recipient, const std::string& subject, const std::string& body,
                const std::string& attachment) {
  sentMails.push_back({recipient, subject, body, attachment});
  return mailAccepted;
}

// Every test starts with the process trace on and no boxes, mails or warnings recorded.
class Diagnostics : public ::testing::Test {
 protected:
  void SetUp() override {
    shownBoxes.clear();
    sentMails.clear();
    boxAnswer = 0;
    mailAccepted = false;
    SetReporterMessageBox(&RecordBox);
    SetBugMailSender(&RecordMail);
    SetTraceEnabled(true);
    ClearLastError();
    SetSmtpProgressOpen(false);
    firstLine_ = TraceLog().Lines().size();
  }
  void TearDown() override {
    DeleteFileA(TraceLog().LogPath().c_str());  // saved by the internal-error handler
    SetReporterMessageBox(nullptr);
    SetBugMailSender(nullptr);
    SetTraceEnabled(false);
  }
  static std::string LastTraceLine() {
    const auto lines = TraceLog().Lines();
    return lines.empty() ? std::string() : lines.back().substr(19);  // after "dd/mm/yy hh:nn:ss  "
  }
  // Whether a line of this test holds `text` (the process trace keeps the lines of earlier tests).
  bool Traced(const std::string& text) const {
    const auto lines = TraceLog().Lines();
    for (std::size_t i = firstLine_; i < lines.size(); ++i)
      if (lines[i].find(text) != std::string::npos) return true;
    return false;
  }
  std::size_t firstLine_ = 0;
};

TEST(ErrorCodes, NamesAndWarningText) {
  EXPECT_EQ(ErrorCodeName(eeNone), "eeNone");
  EXPECT_EQ(ErrorCodeName(eeShowError), "eeShowError");
  EXPECT_EQ(ErrorCodeName(eeLogError), "eeLogError");
  EXPECT_EQ(ErrorCodeName(eeEmailMAPIError), "eeEmailMAPIError");
  EXPECT_EQ(ErrorCodeName(eeEmailShellError), "eeEmailShellError");
  EXPECT_EQ(ErrorCodeName(eeEmailSMTPError), "eeEmailSMTPError");
  EXPECT_EQ(static_cast<int>(eeEmailSMTPError), 5);
  EXPECT_EQ(WarningText(eeLogError, "Disk full."), "[WARNING] - Code: eeLogError - Message: \"Disk full.\"");
}

TEST_F(Diagnostics, WarningIsRecordedTracedAndClearedAgain) {
  ReportWarning(eeEmailMAPIError, "Cannot open the MAPI dll.");
  EXPECT_EQ(LastErrorCode(), eeEmailMAPIError);
  EXPECT_EQ(LastErrorMessage(), "Cannot open the MAPI dll.");
  EXPECT_EQ(LastTraceLine(), "[WARNING] - Code: eeEmailMAPIError - Message: \"Cannot open the MAPI dll.\"");
  EXPECT_TRUE(shownBoxes.empty());
  ClearLastError();
  EXPECT_EQ(LastErrorCode(), eeNone);
  EXPECT_EQ(LastErrorMessage(), "");
}

TEST_F(Diagnostics, SmtpWarningsAreShownOnlyWhileTheProgressWindowIsOpen) {
  ReportWarning(eeEmailSMTPError, "Connection refused.");
  EXPECT_TRUE(shownBoxes.empty());
  SetSmtpProgressOpen(true);
  ReportWarning(eeEmailMAPIError, "Not SMTP.");
  EXPECT_TRUE(shownBoxes.empty());
  ReportWarning(eeEmailSMTPError, "Connection refused.");
  ASSERT_EQ(shownBoxes.size(), 1u);
  EXPECT_EQ(shownBoxes[0].Text, "Connection refused.");
  EXPECT_EQ(shownBoxes[0].Caption, "Error.");
  EXPECT_EQ(shownBoxes[0].Flags, 0x242010u);
}

TEST_F(Diagnostics, SectionErrorNamesTheProgramsExceptionOrAGeneralError) {
  try {
    throw EConvertError("Bad reply 550.");
  } catch (...) {
    ReportSectionError(eeEmailSMTPError, "SMTP");
  }
  EXPECT_EQ(LastErrorCode(), eeEmailSMTPError);
  EXPECT_EQ(LastErrorMessage(), "[SMTP] Bad reply 550.");

  try {
    throw std::runtime_error("not one of ours");
  } catch (...) {
    ReportSectionError(eeEmailSMTPError, "SMTP");
  }
  EXPECT_EQ(LastErrorMessage(), "General 'SMTP' error.");

  ReportSectionError(eeLogError, "Log");  // outside any handler
  EXPECT_EQ(LastErrorCode(), eeLogError);
  EXPECT_EQ(LastErrorMessage(), "General 'Log' error.");
}

TEST_F(Diagnostics, InternalErrorIsTracedWithAMemoryDumpAndOffersTheBugMail) {
  static const std::uint8_t code[32] = {0x55, 0x8B, 0xEC, 0x00, 0xFF};
  boxAnswer = kAnswerYes;
  mailAccepted = true;
  try {
    throw Exception("List index out of bounds (3)");
  } catch (...) {
    HandleInternalError("InternalExceptNotify.7", code);
  }
  EXPECT_TRUE(Traced("  [ERROR] - Section: InternalExceptNotify.7 - Message: \"List index out of bounds (3)\""));
  EXPECT_TRUE(Traced("  Memory Dump: $55 $8B $EC $00 $FF $00 "));
  ASSERT_EQ(shownBoxes.size(), 1u);
  EXPECT_EQ(shownBoxes[0].Caption, "Probably internal bug");
  EXPECT_EQ(shownBoxes[0].Flags, 0x242014u);
  EXPECT_EQ(shownBoxes[0].Text,
            "Error: 'List index out of bounds (3)'\r\n\r\nThis is an internal CrashLog bug.\r\n"
            "Do you want to send the bug information to CrashLog author?");
  ASSERT_EQ(sentMails.size(), 1u);
  EXPECT_EQ(sentMails[0].Recipient, "crashlog-support@example.com");
  EXPECT_EQ(sentMails[0].Subject, "CrashLog 4.5.4 critical bug.");
  EXPECT_EQ(sentMails[0].Body, "CrashLog 4.5.4 critical bug.");
  EXPECT_EQ(sentMails[0].Attachment, ChangeFileExtension(ModuleFileName(nullptr), ".log"));
}

TEST_F(Diagnostics, WithoutAMailClientTheUserIsToldWhereToSendTheTrace) {
  boxAnswer = kAnswerYes;
  try {
    throw 42;  // not an exception object of the program
  } catch (...) {
    HandleInternalError("Section", nullptr);
  }
  EXPECT_TRUE(Traced("[ERROR] - Section: Section - Message: \"General internal error.\""));
  EXPECT_TRUE(Traced("  Memory Dump: "));
  ASSERT_EQ(shownBoxes.size(), 2u);
  EXPECT_EQ(shownBoxes[1].Caption, "Information");
  EXPECT_EQ(shownBoxes[1].Flags, 0x242030u);
  const std::string log = TraceLog().LogPath();
  EXPECT_EQ(shownBoxes[1].Text, "Cannot connect with your email client.\r\nPlease send the file \"" + log +
                                    "\" by hand to crashlog-bugs@example.org\r\nafter click on OK button to close this box.");
  // The trace was saved where the user is told to find it.
  EXPECT_NE(GetFileAttributesA(log.c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileA(log.c_str());
}

TEST_F(Diagnostics, TheBoxesSpeakTheTextsHandedDown) {
  TWindowTexts texts;
  texts.ErrorCaption = "错误";
  texts.SmtpErrorMessage = "无法发送：%1";
  texts.InternalBugCaption = "内部错误";
  texts.InternalBugQuestion = "“%1”是内部错误。发送吗？";
  texts.MailClientMissingCaption = "信息";
  texts.MailClientMissingMessage = "请将“%1”发送到 %2。";
  SetWindowTexts(texts);
  SetSmtpProgressOpen(true);
  ReportWarning(eeEmailSMTPError, "100%2 refused.");  // what is put in is not looked at again
  SetSmtpProgressOpen(false);
  boxAnswer = kAnswerYes;
  try {
    throw Exception("坏了");
  } catch (...) {
    HandleInternalError("Section", nullptr);
  }
  SetWindowTexts({});
  ASSERT_EQ(shownBoxes.size(), 3u);
  EXPECT_EQ(shownBoxes[0].Caption, "错误");
  EXPECT_EQ(shownBoxes[0].Text, "无法发送：100%2 refused.");
  EXPECT_EQ(LastErrorMessage(), "100%2 refused.");  // the record keeps the message itself
  EXPECT_EQ(shownBoxes[1].Caption, "内部错误");
  EXPECT_EQ(shownBoxes[1].Text, "“坏了”是内部错误。发送吗？");
  EXPECT_EQ(shownBoxes[2].Caption, "信息");
  EXPECT_EQ(shownBoxes[2].Text, "请将“" + TraceLog().LogPath() + "”发送到 crashlog-bugs@example.org。");
}

TEST_F(Diagnostics, InternalErrorAsksNothingWhileTheTraceIsOffAndIgnoresAborts) {
  SetTraceEnabled(false);
  boxAnswer = kAnswerYes;
  try {
    throw Exception("quiet");
  } catch (...) {
    HandleInternalError("Off", nullptr);
  }
  EXPECT_TRUE(shownBoxes.empty());

  SetTraceEnabled(true);
  const std::size_t linesBefore = TraceLog().Lines().size();
  try {
    throw EAbort("silent");
  } catch (...) {
    HandleInternalError("Abort", nullptr);
  }
  EXPECT_EQ(TraceLog().Lines().size(), linesBefore);
  EXPECT_TRUE(shownBoxes.empty());
}

TEST_F(Diagnostics, UnreadableAddressGivesAnEmptyDump) {
  boxAnswer = 7;  // No
  try {
    throw Exception("x");
  } catch (...) {
    HandleInternalError("Dump", reinterpret_cast<const void*>(0x10));
  }
  EXPECT_TRUE(Traced("  Memory Dump: "));
  EXPECT_FALSE(Traced("  Memory Dump: $"));
  EXPECT_TRUE(sentMails.empty());
  EXPECT_FALSE(ReadProcessBytes(reinterpret_cast<const void*>(0x10), 4).has_value());
}

TEST(ExceptPayload, LayoutAndTheFinalLineBreakRule) {
  const std::vector<std::uint8_t> payload = EncodeExceptPayload("EFoo", "Bad.\r\n", 0x1234, 0x00401005);
  const std::vector<std::uint8_t> expected = {1, 4, 0, 0, 0, 'E', 'F', 'o', 'o', 4, 0, 0, 0, 'B', 'a', 'd', '.',
                                              0x34, 0x12, 0, 0, 0x05, 0x10, 0x40, 0};
  EXPECT_EQ(payload, expected);
  EXPECT_EQ(WithoutFinalLineBreak("a\r\nb\r\n"), "a\r\nb\r\n");  // the first pair is not the last
  EXPECT_EQ(WithoutFinalLineBreak("\r\n"), "");
  EXPECT_EQ(WithoutFinalLineBreak("ab\n"), "ab\n");

  const auto decoded = DecodeExceptPayload(payload);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->ClassName, "EFoo");
  EXPECT_EQ(decoded->Message, "Bad.");
  EXPECT_TRUE(decoded->Describes(0x1234, 0x00401005));
  EXPECT_FALSE(decoded->Describes(0x1235, 0x00401005));
  EXPECT_FALSE(decoded->Describes(0x1234, 0x00401000));

  // A writer that stops after the strings: read as before, describing no raise in particular.
  const std::vector<std::uint8_t> stringsOnly(payload.begin(), payload.end() - 8);
  const auto older = DecodeExceptPayload(stringsOnly);
  ASSERT_TRUE(older);
  EXPECT_EQ(older->Message, "Bad.");
  EXPECT_FALSE(older->Describes(0, 0));
  EXPECT_FALSE(DecodeExceptPayload(EncodeExceptPayload("E", "m", 5, 0))->Describes(5, 0));
}

TEST(ExceptPayload, TextsTooLongForTheBlockAreCutAndMarked) {
  const std::string gbk = "ab\xD6\xD0\xCE\xC4\xD6\xD0\xCE\xC4\xD6\xD0";  // 2 + 5 double-byte characters
  // Room for 11 message bytes after "EFoo": 8 of the text, then the mark.
  std::vector<std::uint8_t> block(kExceptPayloadOverhead + 4 + 11);
  ASSERT_EQ(WriteExceptPayload(block, "EFoo", gbk, 7, 9), block.size());
  const auto cut = DecodeExceptPayload(block);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->ClassName, "EFoo");
  EXPECT_EQ(cut->Message, gbk.substr(0, 8) + "...");
  EXPECT_TRUE(cut->Describes(7, 9));
  // One byte less: the character at bytes 6 and 7 no longer fits whole and is left out entirely.
  std::vector<std::uint8_t> smaller(kExceptPayloadOverhead + 4 + 10);
  EXPECT_EQ(WriteExceptPayload(smaller, "EFoo", gbk, 7, 9), smaller.size() - 1);
  EXPECT_EQ(DecodeExceptPayload(smaller)->Message, gbk.substr(0, 6) + "...");
  std::vector<std::uint8_t> roomy(kExceptPayloadOverhead + 4 + 12);
  EXPECT_EQ(DecodeExceptPayload(std::span(roomy.data(), WriteExceptPayload(roomy, "EFoo", gbk, 7, 9)))->Message, gbk);
  // The class name takes at most its own limit.
  const std::string longName(3000, 'N');
  const auto named = DecodeExceptPayload(EncodeExceptPayload(longName, "m"));
  ASSERT_TRUE(named);
  EXPECT_EQ(named->ClassName, longName.substr(0, kExceptClassNameLimit - 3) + "...");
  EXPECT_EQ(named->Message, "m");
  EXPECT_EQ(WriteExceptPayload(std::span(block.data(), kExceptPayloadOverhead - 1), "E", "m", 1, 1), 0u);
  EXPECT_EQ(CutLength("abc", 3, 3), 3u);   // fits whole: no mark needed
  EXPECT_EQ(CutLength("abcd", 3, 3), 0u);  // only the mark would fit

}

TEST(ExceptPayload, EmptyCutOrDamagedPayloadsGiveNothing) {
  const std::vector<std::uint8_t> good = EncodeExceptPayload("EFoo", "message");
  for (std::size_t length = 0; length < good.size() - 8; ++length)
    EXPECT_FALSE(DecodeExceptPayload(std::span(good.data(), length))) << length;
  std::vector<std::uint8_t> nothing = {0};
  EXPECT_FALSE(DecodeExceptPayload(nothing));
  std::vector<std::uint8_t> huge = good;
  huge[1] = huge[2] = huge[3] = huge[4] = 0xFF;  // class name "4 GiB long"
  EXPECT_FALSE(DecodeExceptPayload(huge));
}

namespace app {
struct QuotaError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
}  // namespace app

TEST(ExceptionDescription, ClassNamesAndMessagesOfEveryKindOfThrownValue) {
  const auto ours = DescribeException(std::make_exception_ptr(EConvertError("'x' is not a number")));
  EXPECT_TRUE(ours.HasObject && ours.IsException && !ours.IsAbort && ours.HasMessage);
  EXPECT_EQ(ExceptionClassText(ours), "EConvertError");
  EXPECT_EQ(ExceptionMessageText(ours), "'x' is not a number");

  const auto standard = DescribeException(std::make_exception_ptr(std::runtime_error("disk full")));
  EXPECT_FALSE(standard.IsException);
  EXPECT_EQ(ExceptionClassText(standard), "std::runtime_error");
  EXPECT_EQ(ExceptionMessageText(standard), "disk full");

  const auto derived = DescribeException(std::make_exception_ptr(app::QuotaError("quota of 5 GB used up")));
  EXPECT_EQ(ExceptionClassText(derived), "pelloran::crashlog::(anonymous namespace)::app::QuotaError");
  EXPECT_EQ(ExceptionMessageText(derived), "quota of 5 GB used up");
  EXPECT_TRUE(derived.ClassChainHolds("std::runtime_error"));
  EXPECT_TRUE(derived.ClassChainHolds("std::exception"));

  const auto noMemory = DescribeException(std::make_exception_ptr(std::bad_alloc()));
  EXPECT_EQ(ExceptionClassText(noMemory), "std::bad_alloc");
  EXPECT_EQ(ExceptionMessageText(noMemory), "std::bad_alloc");

  const auto number = DescribeException(std::make_exception_ptr(42));
  EXPECT_TRUE(number.HasObject && !number.HasMessage);
  EXPECT_EQ(ExceptionClassText(number), "int");
  EXPECT_EQ(ExceptionMessageText(number), "Unknown error message.");
  const char* text = "a bare text";
  const auto pointer = DescribeException(std::make_exception_ptr(text));
  EXPECT_EQ(ExceptionClassText(pointer), "char const*");
  EXPECT_EQ(ExceptionMessageText(pointer), "Unknown error message.");

  const auto none = DescribeException(std::exception_ptr());
  EXPECT_EQ(ExceptionClassText(none), "Unknown exception type.");
  EXPECT_EQ(ExceptionMessageText(none), "Unknown error message.");

  EXPECT_TRUE(DescribeException(std::make_exception_ptr(EAbort(""))).IsAbort);
  // The chain is compared by name without case.
  const TClassInfo root{"EXCEPTION", nullptr};
  const TClassInfo leaf{"EMine", &root};
  EXPECT_TRUE(ClassChainIsException(&leaf));
  const TClassInfo other{"TObject", nullptr};
  EXPECT_FALSE(ClassChainIsException(&other));
}

TEST(ExceptionDescription, AUtf8WhatIsWrittenInTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 936u) << "the test session runs in code page 936";
  // "磁盘已满" in UTF-8, and in GBK.
  const std::string utf8 = "\xE7\xA3\x81\xE7\x9B\x98\xE5\xB7\xB2\xE6\xBB\xA1 (D:)";
  const std::string gbk = "\xB4\xC5\xC5\xCC\xD2\xD1\xC2\xFA (D:)";
  EXPECT_TRUE(IsUtf8BeyondAscii(utf8));
  EXPECT_FALSE(IsUtf8BeyondAscii(gbk));
  EXPECT_FALSE(IsUtf8BeyondAscii("plain ASCII"));
  EXPECT_FALSE(IsUtf8BeyondAscii("\xC0\xAF"));          // an overlong form
  EXPECT_FALSE(IsUtf8BeyondAscii("\xED\xA0\x80"));      // a surrogate
  EXPECT_FALSE(IsUtf8BeyondAscii("\xE7\xA3"));          // cut short
  EXPECT_EQ(ExceptionMessageText(DescribeException(std::make_exception_ptr(std::runtime_error(utf8)))), gbk);
  EXPECT_EQ(ExceptionMessageText(DescribeException(std::make_exception_ptr(std::runtime_error(gbk)))), gbk);
}

// The block as another module of the process reads it: opened by name, read through its mapping.
std::vector<std::uint8_t> ExceptBlockBytes(std::size_t count) {
  const std::string name = SharedChannelName(GetCurrentProcessId(), reinterpret_cast<std::uintptr_t>(ThisModule()),
                                             kExceptChannel);
  HANDLE block = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  if (block == nullptr) return {};
  std::vector<std::uint8_t> bytes;
  if (const void* view = MapViewOfFile(block, FILE_MAP_READ, 0, 0, 0)) {
    const auto* at = static_cast<const std::uint8_t*>(view);
    bytes.assign(at, at + count);
    UnmapViewOfFile(view);
  }
  CloseHandle(block);
  return bytes;
}

TEST_F(Diagnostics, TheExceptChannelIsMadeOnceAndWrittenInPlace) {
  ASSERT_TRUE(CreateExceptChannel());
  // A reader holds the block from start-up on: every later raise reaches it, with no new block.
  SharedChannel reader = SharedChannel::Open(kExceptChannel, ThisModule());
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader.PayloadSize() + 4, kExceptChannelSize);
  EXPECT_EQ(ExceptBlockBytes(5), (std::vector<std::uint8_t>{0x00, 0x00, 0x01, 0x00, 0}));  // 64 KB, nothing
  const auto self = static_cast<std::uint32_t>(GetCurrentThreadId());
  EXPECT_FALSE(TakePublishedException(ThisModule(), self, 0x401000));

  static const int where = 0;
  const auto address = reinterpret_cast<std::uintptr_t>(&where);
  PublishException(DescribeException(std::make_exception_ptr(EInOutError("File not found.\r\n", 2))), &where, true,
                   self);
  const TLastRaise last = LastRaisedException();
  EXPECT_EQ(last.Address, &where);
  EXPECT_TRUE(last.Flag);
  // What a reader of the strings alone finds, in the block it already held.
  const auto plain = DecodeExceptPayload(reader.Bytes());
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->ClassName, "EInOutError");
  EXPECT_EQ(plain->Message, "File not found.");

  // Another raise's report takes nothing, and leaves it for its own.
  EXPECT_FALSE(TakePublishedException(ThisModule(), self + 1, address));
  EXPECT_FALSE(TakePublishedException(ThisModule(), self, address + 1));
  const auto taken = TakePublishedException(ThisModule(), self, address);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->ClassName, "EInOutError");
  EXPECT_EQ(taken->Message, "File not found.");
  EXPECT_FALSE(TakePublishedException(ThisModule(), self, address));  // marked as taken
  EXPECT_EQ(reader.Payload()[0], 0);

  // A message longer than the block is cut to fit it.
  const std::string huge(100000, 'x');
  PublishException("std::length_error", huge, &where, true, self);
  const auto cut = TakePublishedException(ThisModule(), self, address);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->Message.size(), kExceptChannelSize - 8 - kExceptPayloadOverhead - 17);
  EXPECT_EQ(cut->Message.substr(cut->Message.size() - 4), "x...");

  PublishException(TExceptionObjectInfo{}, nullptr, false, self);
  const auto unknown = TakePublishedException(ThisModule(), self, 0);
  EXPECT_FALSE(unknown);  // a raise without address describes nothing a report could name

  ClearLastRaisedException();
  EXPECT_EQ(LastRaisedException().Address, nullptr);
  reader.Delete();
  CloseExceptChannel();
  EXPECT_FALSE(ReadSharedChannel(kExceptChannel, ThisModule()));
}

TEST_F(Diagnostics, NoReaderSeesAPayloadHalfWritten) {
  ASSERT_TRUE(CreateExceptChannel());
  // Two raises of very different lengths written over each other as fast as they come, while the
  // report of the first one keeps reading: whatever it takes is the first one whole.
  const std::string shortMessage = "short";
  const std::string longMessage(5000, 'L');
  std::atomic<bool> stop{false};
  const auto self = static_cast<std::uint32_t>(GetCurrentThreadId());
  // The writer pauses a little after each pair (a program raises at most every few microseconds),
  // so that a reader gets to take one now and then even on a busy machine.
  std::thread writer([&] {
    while (!stop) {
      PublishException("EShort", shortMessage, reinterpret_cast<const void*>(0x1000), true, self);
      PublishException("ELongerClassName", longMessage, reinterpret_cast<const void*>(0x2000), true, self);
      Sleep(0);
    }
  });
  int seen = 0;
  const DWORD start = GetTickCount();
  for (int i = 0; seen < 50 && GetTickCount() - start < 5000; ++i) {
    const bool first = i % 2 == 0;
    if (const auto taken = TakePublishedException(ThisModule(), self, first ? 0x1000 : 0x2000)) {
      ++seen;
      EXPECT_EQ(taken->ClassName, first ? "EShort" : "ELongerClassName");
      ASSERT_EQ(taken->Message, first ? shortMessage : longMessage);
    }
  }
  stop = true;
  writer.join();
  EXPECT_GT(seen, 0);
  CloseExceptChannel();
}

TEST_F(Diagnostics, AnExceptBlockMadeBeforeTheReporterIsNotTrusted) {
  // Somebody made the block first and wrote a raise of their own choosing into it.
  const std::string name = SharedChannelName(GetCurrentProcessId(), reinterpret_cast<std::uintptr_t>(ThisModule()),
                                             kExceptChannel);
  HANDLE forged = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kExceptChannelSize, name.c_str());
  ASSERT_NE(forged, nullptr);
  auto* view = static_cast<std::uint8_t*>(MapViewOfFile(forged, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  const auto self = static_cast<std::uint32_t>(GetCurrentThreadId());
  const std::uint32_t total = kExceptChannelSize;
  std::memcpy(view, &total, 4);
  WriteExceptPayload(std::span(view + 4, 1000), "EForged", "forged message", self, 0x1000);

  EXPECT_FALSE(CreateExceptChannel());
  EXPECT_TRUE(Traced("CreateExceptChannel: the EXCEPT block existed before the reporter made it"));
  EXPECT_FALSE(TakePublishedException(ThisModule(), self, 0x1000));
  EXPECT_TRUE(Traced("TakePublishedException: this module's EXCEPT block is not its own"));
  // Nothing of ours goes into it either.
  PublishException("EReal", "real message", reinterpret_cast<const void*>(0x1000), true, self);
  EXPECT_EQ(DecodeExceptPayload(std::span(view + 4, 1000))->ClassName, "EForged");
  UnmapViewOfFile(view);
  CloseHandle(forged);
  CloseExceptChannel();
  // Made afresh, it is ours again.
  EXPECT_TRUE(CreateExceptChannel());
  CloseExceptChannel();
}

TEST(SafecallFlag, NamedBlockSeenByOtherHoldersAndClearedWhenTaken) {
  ASSERT_TRUE(OpenSafecallFlag());
  EXPECT_FALSE(TakeSafecallFlag());
  SetSafecallFlag();

  HANDLE other = OpenFileMappingA(FILE_MAP_READ, FALSE, "CRASHLOG_SAFECALLS_LIST");
  ASSERT_NE(other, nullptr);
  const auto* view = static_cast<const volatile std::uint8_t*>(MapViewOfFile(other, FILE_MAP_READ, 0, 0, 4));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 1);
  EXPECT_TRUE(TakeSafecallFlag());
  EXPECT_EQ(view[0], 0);
  EXPECT_FALSE(TakeSafecallFlag());
  UnmapViewOfFile(const_cast<const std::uint8_t*>(view));
  CloseHandle(other);

  CloseSafecallFlag();
  SetSafecallFlag();  // closed: nothing to set, nothing to crash
  EXPECT_FALSE(TakeSafecallFlag());
}

}  // namespace
}  // namespace pelloran::crashlog
