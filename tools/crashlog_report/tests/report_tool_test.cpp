// The report tool's parts on reports and mails written here by hand, natively under the
// sanitizers. Reports made by the real reporter are grouped by tests/tools/crashlog_report.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/crashlog_report/mime_message.h"
#include "tools/crashlog_report/report_entry.h"
#include "tools/crashlog_report/report_groups.h"
#include "tools/crashlog_report/report_output.h"
#include "tools/crashlog_report/report_sources.h"
#include "tools/crashlog_report/transfer_decoding.h"

namespace pelloran::crashlog_report {
namespace {

struct TReportFacts {
  std::string Labels = "default";  // "default" or "custom" (other texts, other widths)
  std::string Version = "2.10.0.0";
  std::string Date = "Tue, 8 Dec 2026 03:37:29 +0000";
  std::string Address = "0049B522";
  std::string Module = "Pelloran.exe";
  std::string Type = "EInOutError";
  std::string Message = "Settings file is locked.";
  bool WithAddress = true;
  std::string Request;  // reproduce steps, appended as the reporter does
};

// A report laid out as the reporter writes one, with its default texts or with other labels.
std::string Report(const TReportFacts& f) {
  const bool custom = f.Labels == "custom";
  std::string r = "CrashLog 4.5.4\r\n\r\n";
  r += custom ? "Programm:\r\n-----------------------\r\n" : "Application:\r\n-------------------------------\r\n";
  r += custom ? "  1.1 Beginn : x\r\n  1.3 Fassung : " + f.Version + "\r\n\r\n"
              : "  1.1 Start Date    : x\r\n  1.3 Version Number: " + f.Version + "\r\n\r\n";
  r += custom ? "Fehler:\r\n------\r\n" : "Exception:\r\n---------\r\n";
  r += (custom ? "  2.1 Zeit     : " : "  2.1 Date   : ") + f.Date + "\r\n";
  if (f.WithAddress) r += (custom ? "  2.2 Adresse  : " : "  2.2 Address: ") + f.Address + "\r\n";
  r += (custom ? "  2.3 Modul    : " : "  2.3 Module : ") + f.Module + "\r\n";
  r += (custom ? "  2.4 Art      : " : "  2.4 Type   : ") + f.Type + "\r\n";
  r += (custom ? "  2.5 Meldung  : " : "  2.5 Message: ") + f.Message + "\r\n\r\n";
  r += custom ? "Aufrufe:\r\n" : "Call Stack Information:\r\n";
  r += "-----------------------------------------------------------\r\n"
       "|Address |Module      |Unit      |Class |Procedure   |Line|\r\n"
       "-----------------------------------------------------------\r\n"
       "|7B6293DE|kernel32.dll|          |      |RaiseExcept |    |\r\n"
       "|0049B522|Pelloran.exe|config.cpp|      |OpenSettings|12  |\r\n"
       "|0049B560|Pelloran.exe|main.cpp  |TMain |Run         |16  |\r\n"
       "|0049B570|Pelloran.exe|main.cpp  |      |operator|   |20  |\r\n"
       "|00401389|Pelloran.exe|crtexe.c  |      |start       |321 |\r\n"
       "-----------------------------------------------------------\r\n\r\n"
       "Modules Information:\r\n-----\r\n|Handle  |Name|\r\n-----\r\n|00400000|Pelloran.exe|\r\n-----\r\n\r\n"
       "Registers:\r\n-----------------------------\r\nEAX: 00000000   EDI: 00000000\r\n";
  if (!f.Request.empty()) r += "\r\nRequest:\r\n----------------------------------------\r\n" + f.Request;
  return r;
}

// As the log keeps a report: its text and four CR LF, and one more CR LF once written.
std::string LogOf(std::initializer_list<std::string> reports) {
  std::string log;
  for (const std::string& report : reports) log += report + "\r\n\r\n\r\n\r\n\r\n";
  return log;
}

TEST(TransferDecoding, Base64AcrossLinesAndPadding) {
  EXPECT_EQ(DecodeBase64("TWFu\r\nTWE=\r\n"), "ManMa");
  EXPECT_EQ(DecodeBase64("TQ=="), "M");
  EXPECT_EQ(DecodeBase64(" T W\tF u "), "Man");
  EXPECT_EQ(DecodeBase64("AP8A/w=="), std::string("\x00\xFF\x00\xFF", 4));
}

TEST(TransferDecoding, QuotedPrintableSoftBreaksEscapesAndLineEnds) {
  // Soft break, escaped "=", blanks before a line end dropped, LF and CR LF both give CR LF,
  // a stray "=" kept.
  EXPECT_EQ(DecodeQuotedPrintable("a=3Db =\nc  \r\nd=0D=0Ae=zz=4"), "a=b c\r\nd\r\ne=zz=4");
  EXPECT_EQ(DecodeQuotedPrintable("caf=c3=A9"), "caf\xC3\xA9");
}

TEST(MimeMessage, NestedPartsNamesAndEncodings) {
  // LF line ends (as a Maildir keeps mails), an alternative part inside the mixed one, an RFC 2231
  // file name in pieces, an encoded-word file name, a forwarded mail inside.
  const std::string mail =
      "From someone Tue Dec  8 03:37:29 2026\n"
      "Subject: report\n"
      "Content-Type: multipart/mixed;\n boundary=\"outer\"\n\n"
      "preamble\n--outer\nContent-Type: multipart/alternative; boundary=inner\n\n"
      "--inner\nContent-Type: text/plain\n\nhello\n--inner\nContent-Type: text/html\n\n<p>hello</p>\n--inner--\n"
      "--outer\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: quoted-printable\n"
      "Content-Disposition: attachment; filename*0*=utf-8''Pel%20lo; filename*1=\"ran.elf\"\n\n"
      "line one=\nstill one\nline two\n"
      "--outer\nContent-Type: application/octet-stream; name=\"=?utf-8?B?5pel5b+X?= =?utf-8?Q?_b.ELF?=\"\n"
      "Content-Transfer-Encoding: base64\n\nQUJD\n"
      "--outer\nContent-Type: message/rfc822\n\nSubject: fwd\nContent-Type: text/plain\n\ninner text\n"
      "--outer--\nepilogue\n";
  TMailReading reading;
  ASSERT_TRUE(ReadMail(mail, reading));
  EXPECT_TRUE(reading.Problems.empty());
  ASSERT_EQ(reading.Parts.size(), 5u);
  EXPECT_EQ(reading.Parts[0].Content, "hello");
  EXPECT_FALSE(reading.Parts[0].Attachment);
  EXPECT_EQ(reading.Parts[1].ContentType, "text/html");
  EXPECT_EQ(reading.Parts[2].FileName, "Pel loran.elf");
  EXPECT_TRUE(reading.Parts[2].Attachment);
  EXPECT_EQ(reading.Parts[2].Content, "line onestill one\r\nline two");
  EXPECT_EQ(reading.Parts[3].FileName, "\xE6\x97\xA5\xE5\xBF\x97 b.ELF");
  EXPECT_EQ(reading.Parts[3].Content, "ABC");
  EXPECT_EQ(reading.Parts[4].Content, "inner text");

  TMailReading notMail;
  EXPECT_FALSE(ReadMail("CrashLog 4.5.4\r\n\r\nApplication:\r\n", notMail));
}

TEST(ReportEntry, ItemsByNumberWhateverTheLabels) {
  for (const char* labels : {"default", "custom"}) {
    TReportFacts facts;
    facts.Labels = labels;
    facts.WithAddress = false;
    facts.Request = "  2.2 Address: typed by the user\r\n";
    TReportEntry entry;
    std::string problem;
    ASSERT_TRUE(ReadReportEntry(Report(facts), entry, problem)) << labels << ": " << problem;
    EXPECT_FALSE(entry.Key[0]) << "2.2 is left out of the report; the request text does not count";
    EXPECT_EQ(entry.Key[1], "Pelloran.exe");
    EXPECT_EQ(entry.Key[2], "EInOutError");
    EXPECT_EQ(entry.Key[3], "Settings file is locked.");
    EXPECT_EQ(entry.Version, "2.10.0.0");
    EXPECT_EQ(entry.Time, 1796701049);
    // The first three rows with a unit; the fourth row's procedure holds a bar.
    ASSERT_EQ(entry.Stack.size(), 3u);
    EXPECT_EQ(entry.Stack[0], (TStackRow{"0049B522", "Pelloran.exe", "config.cpp", "", "OpenSettings", "12"}));
    EXPECT_EQ(entry.Stack[1], (TStackRow{"0049B560", "Pelloran.exe", "main.cpp", "TMain", "Run", "16"}));
    EXPECT_EQ(entry.Stack[2], (TStackRow{"0049B570", "Pelloran.exe", "main.cpp", "", "operator|", "20"}));
  }
}

TEST(ReportEntry, DamagedReportsAreRefused) {
  const std::string report = Report({});
  TReportEntry entry;
  std::string problem;
  const std::size_t table = report.find("|0049B560");
  EXPECT_FALSE(ReadReportEntry(report.substr(0, table), entry, problem));
  EXPECT_NE(problem.find("cut short"), std::string::npos);
  EXPECT_FALSE(ReadReportEntry(report.substr(0, report.find("Call Stack")), entry, problem));
  EXPECT_NE(problem.find("without its call stack table"), std::string::npos);
}

TEST(ReportEntry, MailDates) {
  EXPECT_EQ(ParseMailDate("Mon, 7 Dec 2026 09:05:03 +0800"), 1796605503);
  EXPECT_EQ(ParseMailDate("7 Dec 2026 01:05:03 +0000"), 1796605503);
  EXPECT_EQ(ParseMailDate("Sun, 6 Dec 2026 20:05:03 -0500"), 1796605503);
  EXPECT_FALSE(ParseMailDate(""));
  EXPECT_FALSE(ParseMailDate("Mon, 7 Foo 2026 09:05:03 +0800"));
  EXPECT_FALSE(ParseMailDate("Mon, 7 Dec 2026 25:05:03 +0800"));
}

TEST(LogSplit, WholeEntriesAMailedCopyAndACutReport) {
  const std::string a = Report({}), b = Report({.Type = "EConvertError"});
  // A cut report runs on into the next whole one; a mailed copy of one report ends with one CR LF.
  const std::string cut = a.substr(0, a.find("|0049B560"));
  const TLogSplit split = SplitLogEntries(LogOf({a}) + cut + LogOf({b}) + b);
  ASSERT_EQ(split.Entries.size(), 3u);
  EXPECT_EQ(split.Problems.size(), 1u);
  // The report's own last line end is the first of the four that end it in the log.
  EXPECT_EQ(split.Entries[0], a + "\r\n\r\n");
  EXPECT_EQ(split.Entries[1], b + "\r\n\r\n");
  EXPECT_EQ(split.Entries[2], b);
}

TEST(LogSplit, AReportPastedIntoTheReproduceStepsStaysInItsEntry) {
  const std::string pasted = Report({.Type = "EConvertError"});
  const std::string outer = Report({.Request = "It said:\r\n" + pasted});
  const TLogSplit split = SplitLogEntries(LogOf({outer}));
  ASSERT_EQ(split.Entries.size(), 1u);
  EXPECT_TRUE(split.Problems.empty());
  TReportEntry entry;
  std::string problem;
  ASSERT_TRUE(ReadReportEntry(split.Entries[0], entry, problem)) << problem;
  EXPECT_EQ(entry.Key[2], "EInOutError");
}

TEST(ReportGroups, CountsDatesVersionsAndRepeats) {
  TReportGroups groups;
  const auto add = [&](const std::string& text) {
    TReportEntry entry;
    std::string problem;
    EXPECT_TRUE(ReadReportEntry(text, entry, problem)) << problem;
    return groups.Add(text, entry);
  };
  const std::string first = Report({.Version = "2.9.1.0", .Date = "Mon, 7 Dec 2026 09:05:03 +0800"});
  EXPECT_TRUE(add(first));
  EXPECT_TRUE(add(Report({.Version = "2.10.0.0", .Date = "Mon, 7 Dec 2026 02:00:00 +0000"})));
  EXPECT_TRUE(add(Report({.Version = "2.9.1.0", .Date = "Sun, 6 Dec 2026 20:30:00 -0500"})));
  groups.BeginLog();
  EXPECT_FALSE(add(first + "\r\n\r\n")) << "the same report from a mailed copy counts once";
  EXPECT_TRUE(add(Report({.Date = "Wed, 9 Dec 2026 00:00:00 +0000", .Type = "EConvertError"})));
  EXPECT_TRUE(add(Report({.WithAddress = false})));
  EXPECT_TRUE(add(Report({.Address = ""})));

  EXPECT_EQ(groups.Entries(), 6u);
  EXPECT_EQ(groups.Repeated(), 1u);
  const std::vector<TReportGroup> sorted = groups.Sorted();
  ASSERT_EQ(sorted.size(), 4u) << "an absent address and an empty one are different keys";
  EXPECT_EQ(sorted[0].Count, 3u);
  EXPECT_EQ(sorted[0].FirstDate, "Mon, 7 Dec 2026 09:05:03 +0800");
  EXPECT_EQ(sorted[0].LastDate, "Mon, 7 Dec 2026 02:00:00 +0000");
  EXPECT_EQ(sorted[0].Versions, (std::vector<std::string>{"2.9.1.0", "2.10.0.0"}));
  // Ties by their latest report, the latest first.
  EXPECT_EQ(sorted[1].Key[2], "EConvertError");
  EXPECT_EQ(sorted[1].Count, 1u);
}

// Two crashes of one program in the same second write the same text twice into one log: both
// count. A mailed copy of that log adds nothing; a log holding it three times adds one.
TEST(ReportGroups, EntriesOfOneLogAllCountCopiesElsewhereDoNot) {
  TReportGroups groups;
  const std::string text = Report({});
  TReportEntry entry;
  std::string problem;
  ASSERT_TRUE(ReadReportEntry(text, entry, problem)) << problem;
  groups.BeginLog();
  EXPECT_TRUE(groups.Add(text, entry));
  EXPECT_TRUE(groups.Add(text, entry));
  groups.BeginLog();
  EXPECT_FALSE(groups.Add(text, entry));
  EXPECT_FALSE(groups.Add(text, entry));
  groups.BeginLog();
  EXPECT_FALSE(groups.Add(text, entry));
  EXPECT_FALSE(groups.Add(text, entry));
  EXPECT_TRUE(groups.Add(text, entry));
  EXPECT_EQ(groups.Entries(), 3u);
  EXPECT_EQ(groups.Repeated(), 4u);
  EXPECT_EQ(groups.Sorted().at(0).Count, 3u);
}

TEST(ReportReader, MailsLogsAndDamageEachOnOneLine) {
  TReportGroups groups;
  std::vector<std::string> problems;
  TReportReader reader(groups, [&](const std::string& problem) { problems.push_back(problem); });
  const std::string a = Report({}), b = Report({.Type = "EConvertError"});
  const std::string log = LogOf({a, b});
  // The reporter's own mail: the log copy in base64 lines; and a mail with the log in its text.
  std::string base64;
  {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < log.size(); i += 3) {
      const std::uint32_t n = (static_cast<unsigned char>(log[i]) << 16) |
                              (i + 1 < log.size() ? static_cast<unsigned char>(log[i + 1]) << 8 : 0) |
                              (i + 2 < log.size() ? static_cast<unsigned char>(log[i + 2]) : 0);
      base64 += alphabet[n >> 18];
      base64 += alphabet[(n >> 12) & 63];
      base64 += i + 1 < log.size() ? alphabet[(n >> 6) & 63] : '=';
      base64 += i + 2 < log.size() ? alphabet[n & 63] : '=';
      if ((i / 3) % 20 == 19) base64 += "\r\n";
    }
  }
  const std::string mail = "Date: Tue, 8 Dec 2026 03:37:29 +0000\r\nContent-Type: multipart/mixed; "
                           "boundary=\"=_b\";\r\nMIME-Version: 1.0\r\n\r\nThis is a multi-part message\r\n\r\n--=_b\r\n"
                           "Content-Type: text/plain\r\n\r\nbody\r\n\r\n--=_b\r\nContent-Type: application/octet-stream;\r\n"
                           "        name=\"Pelloran.elf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                           base64 + "\r\n--=_b--\r\n";
  EXPECT_EQ(reader.ReadMailText(mail, "m1"), 2u);
  EXPECT_EQ(reader.ReadMailText("Subject: x\r\n\r\nSee below.\r\n\r\n\r\n" + a, "m2"), 1u);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(reader.ReadMailText("Subject: spam\r\n\r\nhello\r\n", "m3"), 0u);
  EXPECT_EQ(reader.ReadLogText("\x7F" "ELF\x01\x01", "binary.elf"), 0u);
  EXPECT_EQ(reader.ReadLogText(a.substr(0, a.find("|0049B560")), "cut.elf"), 0u);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[0], "m3: a mail without an .elf attachment or a report in its text, skipped");
  EXPECT_EQ(problems[1], "binary.elf: no report in it, skipped");
  EXPECT_EQ(problems[2], "cut.elf: report 1: a report cut short in its call stack table, skipped");
  EXPECT_EQ(groups.Entries(), 2u);
  EXPECT_EQ(groups.Repeated(), 1u);

  // A file name with a line break in it (an encoded word) still gives one line.
  EXPECT_EQ(reader.ReadMailText("Content-Type: text/plain; name=\"=?utf-8?Q?a=0D=0Ab.elf?=\"\r\n\r\nx\r\n", "m4"), 0u);
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_EQ(problems[3], "m4: attachment \"a??b.elf\": no report in it, skipped");
}

TEST(ReportOutput, JsonInUtf8FromTheReportsCodePage) {
  TReportGroup group;
  group.Key = {std::nullopt, "a.exe", "EInOutError", "\xCC\xE1\xCA\xBE \"x\"\t."};
  group.Count = 2;
  group.LastDate = "Tue, 8 Dec 2026 03:37:29 +0000";
  group.Versions = {""};
  group.Stack = {{"0049B522", "a.exe", "a.cpp", "", "Run", "7"}};
  group.Tags = {{"user", {{"\xCC\xE1", 2}}}};
  group.Dumps = {"Z:\\a-20261208-033729-7-1.dmp"};
  const TReportSummary summary{2, 0, {group}};
  const TTextConverter converter("CP936");
  ASSERT_TRUE(converter.Valid());
  std::ostringstream json;
  WriteJsonReport(json, summary, converter);
  EXPECT_EQ(json.str(),
            "{\"reports\": 2, \"repeated\": 0, \"groups\": [\n  {\"count\": 2, \"address\": null, \"module\": \"a.exe\", "
            "\"type\": \"EInOutError\", \"message\": \"\xE6\x8F\x90\xE7\xA4\xBA \\\"x\\\"\\t.\", \"first_date\": null, "
            "\"last_date\": \"Tue, 8 Dec 2026 03:37:29 +0000\", \"versions\": [\"\"], \"stack\": [{\"address\": "
            "\"0049B522\", \"module\": \"a.exe\", \"unit\": \"a.cpp\", \"class\": \"\", \"procedure\": \"Run\", "
            "\"line\": \"7\"}], \"tags\": {\"user\": {\"\xE6\x8F\x90\": 2}}, "
            "\"dumps\": [\"Z:\\\\a-20261208-033729-7-1.dmp\"]}\n]}\n");
  // For a terminal, control characters in a report (an escape sequence) are shown as "?".
  std::ostringstream text;
  TReportSummary forged = summary;
  forged.Groups[0].Key[2] = "E\x1B[2JError";
  WriteTextReport(text, forged, converter);
  EXPECT_NE(text.str().find("  2.4 Type    : E?[2JError\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("  2.2 Address : (not in the reports)\n"), std::string::npos) << text.str();
  // A byte that is no GBK character becomes U+FFFD, and the rest converts.
  EXPECT_EQ(converter.ToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
}

}  // namespace
}  // namespace pelloran::crashlog_report
