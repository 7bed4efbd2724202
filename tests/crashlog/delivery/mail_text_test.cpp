// Mail texts against expectations written out from the rules: base64 lines, address lists, the
// MIME message with and without attachments, SMTP dot transparency and the mailto command line.

#include "crashlog/delivery/mail_text.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace pelloran::crashlog {
namespace {

using pelloran::testing::ScratchFolder;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

const std::string kB = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";

TEST(Base64, LinesOfEightyCharactersEachEndedByCrLf) {
  EXPECT_EQ(Base64EncodeText(""), "");
  EXPECT_EQ(Base64EncodeText("abc"), "YWJj\r\n");
  EXPECT_EQ(Base64EncodeText("ab"), "YWI=\r\n");
  EXPECT_EQ(Base64EncodeText("a"), "YQ==\r\n");
  EXPECT_EQ(Base64EncodeText("\xFF\xFE\xFD"), "//79\r\n");
  std::string quads;
  for (int i = 0; i < 20; ++i) quads += "QUFB";  // "AAA"
  EXPECT_EQ(Base64EncodeText(std::string(60, 'A')), quads + "\r\n");
  EXPECT_EQ(Base64EncodeText(std::string(61, 'A')), quads + "\r\nQQ==\r\n");
  std::istringstream stream(std::string(120, 'A'));
  EXPECT_EQ(Base64EncodeStream(stream), quads + "\r\n" + quads + "\r\n");
}

TEST(Base64, FilesOfThreeAndSixtyOneBytes) {
  ScratchFolder folder;
  WriteFile(folder.File("three.bin"), "abc");
  WriteFile(folder.File("sixty-one.bin"), std::string(61, 'A'));
  EXPECT_EQ(Base64EncodeFile(folder.File("three.bin")), "YWJj\r\n");
  const std::string lines = Base64EncodeFile(folder.File("sixty-one.bin"));
  ASSERT_EQ(lines.size(), 80u + 2 + 4 + 2);
  EXPECT_EQ(lines.substr(80), "\r\nQQ==\r\n");
  EXPECT_EQ(Base64EncodeFile(folder.File("missing.bin")), "");
  EXPECT_EQ(Base64EncodeFile(""), "");
}

TEST(AddressList, SeparatorsBlanksAndEmptyPieces) {
  using List = std::vector<std::string>;
  EXPECT_EQ(SplitAddressList("p@x.org; q@y.org,"), (List{"p@x.org", "q@y.org"}));
  EXPECT_EQ(SplitAddressList("p,,q"), (List{"p", "", "q"}));
  EXPECT_EQ(SplitAddressList("  one@x.org  "), (List{"one@x.org"}));
  EXPECT_EQ(SplitAddressList(""), List{});
  EXPECT_EQ(SplitAddressList("   "), List{});
  EXPECT_EQ(SplitAddressList(";"), (List{""}));
}

class MimeMessage : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(folder_.File("Report.elf"), "abc");
    WriteFile(folder_.File("Screenshot.png"), std::string(61, 'A'));
  }
  std::string Part(const std::string& name, const std::string& type, const std::string& base64) {
    return "\r\n--" + kB + "\r\nContent-Type: " + type + ";\r\n        name=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n        filename=\"" + name +
           "\"\r\n\r\n" + base64;
  }
  std::string Expected(const std::string& recipient, const std::string& parts) {
    return "Date: Mon, 7 Dec 2026 09:05:03 +0800\r\n"
           "From: <crash@pelloran.example>\r\n"
           "Subject: Pelloran error\r\n"
           "To: <" + recipient + ">\r\n"
           "Content-Type: multipart/mixed; boundary=\"" + kB + "\";\r\n"
           "MIME-Version: 1.0\r\n"
           "X-Priority: 1\r\n"
           "X-Library: CrashLog 4.5.4\r\n"
           "\r\n"
           "This is a multi-part message in MIME format\r\n\r\n--" + kB + "\r\n"
           "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
           "Body line\r\n.hidden\r\n" + parts + "--" + kB + "--\r\n";
  }
  TMimeMessage Message(const std::string& recipient, std::vector<std::string> attachments) {
    return TMimeMessage{"Mon, 7 Dec 2026 09:05:03 +0800", "crash@pelloran.example", "Pelloran error", recipient,
                        "Body line\r\n.hidden", std::move(attachments)};
  }
  ScratchFolder folder_;
};

TEST_F(MimeMessage, AttachmentsPresentAndMissing) {
  const std::string log = Part("Report.elf", "application/octet-stream", "YWJj\r\n");
  std::string quads;
  for (int i = 0; i < 20; ++i) quads += "QUFB";
  const std::string png = Part("Screenshot.png", "image/png", quads + "\r\nQQ==\r\n");
  EXPECT_EQ(BuildMimeAttachmentPart(folder_.File("Report.elf")), log);
  EXPECT_EQ(BuildMimeAttachmentPart(folder_.File("Screenshot.png")), png);
  EXPECT_EQ(BuildMimeAttachmentPart(folder_.File("absent.elf")), "");
  EXPECT_EQ(BuildMimeAttachmentPart("  "), "");

  EXPECT_EQ(BuildMimeMessage(Message("a@x.org", {folder_.File("Report.elf"), folder_.File("Screenshot.png")})),
            Expected("a@x.org", log + png));
  EXPECT_EQ(BuildMimeMessage(Message("a@x.org", {"", folder_.File("gone.png"), folder_.File("Report.elf")})),
            Expected("a@x.org", log));
  EXPECT_EQ(BuildMimeMessage(Message("a@x.org", {})), Expected("a@x.org", ""));
}

TEST_F(MimeMessage, OneMessagePerRecipient) {
  for (const std::string& recipient : SplitAddressList("first@x.org;second@y.org, third@z.org"))
    EXPECT_EQ(BuildMimeMessage(Message(recipient, {folder_.File("Report.elf")})),
              Expected(recipient, Part("Report.elf", "application/octet-stream", "YWJj\r\n")));
}

TEST(SmtpData, LinesStartingWithADotAreDoubled) {
  EXPECT_EQ(SmtpDataText("a\r\n.b\r\n"), "a\r\n..b\r\n.");
  EXPECT_EQ(SmtpDataText(".first\r\n.\r\nlast\r\n"), "..first\r\n..\r\nlast\r\n.");
  EXPECT_EQ(SmtpDataText("no end"), "no end\r\n.");
  // Lone line ends become CR LF, so that no server sees a line the others do not.
  EXPECT_EQ(SmtpDataText("a\n.b\rc\r\n"), "a\r\n..b\r\nc\r\n.");
  EXPECT_EQ(SmtpDataText("mid.dot\r\n"), "mid.dot\r\n.");
}

TEST(Mailto, PartsPercentEncodedAndAmpersandsDropped) {
  TMailtoMail mail{"a@x.org;b@y.org", "Error \"bad\"", "Hi & bye", "Line \"1\"\r\n100%", ""};
  const std::string line = MailtoCommandLine("\"C:\\mail.exe\" -compose \"%1\"", mail);
  EXPECT_EQ(line,
            "\"C:\\mail.exe\" -compose \"mailto:a@x.org;b@y.org?Subject=Error%20%22bad%22&Body="
            "Hi%20%20bye%0D%0A%0D%0A%0D%0ALine%20%221%22%0D%0A100%25\"");
  mail.ReproduceText = "Steps";
  EXPECT_EQ(MailtoReportBody(mail), "Steps\r\n\r\n\r\n\r\n\r\n\r\nLine \"1\"\r\n100%");
  EXPECT_EQ(MailtoCommandLine("viewer.exe /plain", mail), "viewer.exe /plain");
  EXPECT_EQ(MailtoCommandLine("%1 %1", TMailtoMail{"a", "s", "m", "r", ""}),
            "mailto:a?Subject=s&Body=m%0D%0A%0D%0A%0D%0Ar mailto:a?Subject=s&Body=m%0D%0A%0D%0A%0D%0Ar");
}

TEST(Mailto, LongBodyCutToFitWithANote) {
  // A report of 20,000 blanks and GBK characters: far too long once encoded.
  std::string report;
  for (int i = 0; i < 5000; ++i) report += " \xD6\xD0";  // 中
  const TMailtoMail mail{"a@x.org", "s", "m", report, ""};
  const std::string head = "mailer.exe \"mailto:a@x.org?Subject=s&Body=";
  const std::string line = MailtoCommandLine("mailer.exe \"%1\"", mail, 3000);
  ASSERT_LE(line.size(), 3000u);
  ASSERT_GT(line.size(), 2990u);
  ASSERT_EQ(line.substr(0, head.size()), head);
  const std::string note = MailtoPercentEncode(kMailtoCutNote);
  ASSERT_EQ(line.substr(line.size() - note.size() - 1), note + "\"");
  // Cut at a whole character: the kept part is the encoding of a prefix of m + body made of
  // whole " 中" pieces, or that plus a blank.
  const std::string kept = line.substr(head.size(), line.size() - head.size() - note.size() - 1);
  const std::string full = MailtoPercentEncode("m" + MailtoReportBody(mail));
  EXPECT_EQ(full.substr(0, kept.size()), kept);
  EXPECT_TRUE(kept.ends_with("%D6%D0") || kept.ends_with("%20")) << kept.substr(kept.size() - 12);

  // The program's own note, after the same blank lines.
  TMailtoMail own = mail;
  own.CutNote = "[\xB1\xA8\xB8\xE6]";  // GBK
  const std::string ownLine = MailtoCommandLine("mailer.exe \"%1\"", own, 3000);
  EXPECT_TRUE(ownLine.ends_with(MailtoPercentEncode("\r\n\r\n[\xB1\xA8\xB8\xE6]") + "\"")) << ownLine.substr(ownLine.size() - 40);
  EXPECT_LE(ownLine.size(), 3000u);
}

TEST(LogCopy, PathAndLines) {
  EXPECT_EQ(LogCopyPathFor("C:\\Temp\\", false, "D:\\Apps\\Pelloran.elf"), "C:\\Temp\\Pelloran.elf");
  EXPECT_EQ(LogCopyPathFor("C:\\Temp\\", true, "D:\\Apps\\Pelloran.elf"), "");
  // A log kept in the temporary folder itself: the copy, deleted after the mail, is another file.
  EXPECT_EQ(LogCopyPathFor("C:\\Temp\\", false, "c:/temp/Pelloran.elf"), "C:\\Temp\\Pelloran-copy.elf");
  EXPECT_EQ(LogCopyPathFor("C:\\Temp\\", false, "C:\\TEMP\\errors"), "C:\\Temp\\errors-copy");
  EXPECT_EQ(CrLfLines("a\nb\r\nc"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(CrLfLines("a\r\n"), "a\r\n");
  EXPECT_EQ(CrLfLines(""), "");
}

}  // namespace
}  // namespace pelloran::crashlog
