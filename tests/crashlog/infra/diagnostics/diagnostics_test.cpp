#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/diagnostics_platform.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/diagnostics/window_texts.h"

#include <gtest/gtest.h>

#include <stdexcept>

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
  const std::vector<std::uint8_t> payload = EncodeExceptPayload("EFoo", "Bad.\r\n");
  const std::vector<std::uint8_t> expected = {1, 4, 0, 0, 0, 'E', 'F', 'o', 'o', 4, 0, 0, 0, 'B', 'a', 'd', '.'};
  EXPECT_EQ(payload, expected);
  EXPECT_EQ(WithoutFinalLineBreak("a\r\nb\r\n"), "a\r\nb\r\n");  // the first pair is not the last
  EXPECT_EQ(WithoutFinalLineBreak("\r\n"), "");
  EXPECT_EQ(WithoutFinalLineBreak("ab\n"), "ab\n");

  const auto decoded = DecodeExceptPayload(EncodeExceptPayload("EFoo", "line 1\r\nline 2"));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->ClassName, "EFoo");
  EXPECT_EQ(decoded->Message, "line 1\r\nline 2");
}

TEST(ExceptPayload, EmptyCutOrDamagedPayloadsGiveNothing) {
  const std::vector<std::uint8_t> good = EncodeExceptPayload("EFoo", "message");
  for (std::size_t length = 0; length < good.size(); ++length)
    EXPECT_FALSE(DecodeExceptPayload(std::span(good.data(), length))) << length;
  std::vector<std::uint8_t> nothing = {0};
  EXPECT_FALSE(DecodeExceptPayload(nothing));
  std::vector<std::uint8_t> huge = good;
  huge[1] = huge[2] = huge[3] = huge[4] = 0xFF;  // class name "4 GiB long"
  EXPECT_FALSE(DecodeExceptPayload(huge));
}

TEST(ExceptionDescription, ClassNamesAndMessagesTheReporterMayUse) {
  const auto ours = DescribeException(std::make_exception_ptr(EConvertError("'x' is not a number")));
  EXPECT_TRUE(ours.HasObject && ours.IsException && !ours.IsAbort);
  EXPECT_EQ(ExceptionClassText(ours), "EConvertError");
  EXPECT_EQ(ExceptionMessageText(ours), "'x' is not a number");

  const auto foreign = DescribeException(std::make_exception_ptr(std::runtime_error("hidden")));
  EXPECT_EQ(ExceptionClassText(foreign), "std::runtime_error");
  EXPECT_EQ(ExceptionMessageText(foreign), "Unknown error message.");

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

TEST(ExceptChannel, PublishedExceptionIsReadByAnotherReaderOnce) {
  CreateExceptChannel();
  auto initial = ReadSharedChannel(kExceptChannel, ThisModule());
  ASSERT_TRUE(initial);
  EXPECT_EQ(*initial, std::vector<std::uint8_t>{0});
  EXPECT_FALSE(TakePublishedException(ThisModule()));

  static const int where = 0;
  const auto error = std::make_exception_ptr(EInOutError("File not found.\r\n", 2));
  PublishException(error, &where, true);
  const TLastRaise last = LastRaisedException();
  EXPECT_EQ(last.Object, error);
  EXPECT_EQ(last.Address, &where);
  EXPECT_TRUE(last.Flag);

  const auto taken = TakePublishedException(ThisModule());
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->ClassName, "EInOutError");
  EXPECT_EQ(taken->Message, "File not found.");
  EXPECT_FALSE(TakePublishedException(ThisModule()));  // marked as taken

  // A longer exception replaces the block with a bigger one.
  PublishException(TExceptionObjectInfo{}, nullptr, false);
  const auto unknown = TakePublishedException(ThisModule());
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->ClassName, "Unknown exception type.");
  EXPECT_EQ(unknown->Message, "Unknown error message.");

  ClearLastRaisedException();
  EXPECT_FALSE(LastRaisedException().Object);
  CloseExceptChannel();
  EXPECT_FALSE(ReadSharedChannel(kExceptChannel, ThisModule()));
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
