// The page texts, the IntraWeb page (with stand-ins for the framework's classes), and a WinCGI
// program writing its output file.

#include "base/exceptions.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/web/intraweb.h"
#include "crashlog/infra/web/web.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"
#include "tests/crashlog/infra/web/web_probe_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <utility>
#include <vector>

// Stand-ins for the web framework: an application with its show-message method, and a server
// controller that publishes its HTML headers as a string list.
namespace IWApplication {
class TIWApplication {
 public:
  void ShowMessage(const std::string& message, int messageType) {
    Shown.emplace_back(message, messageType);
    if (Refuse) throw pelloran::Exception("The session has ended.");
  }
  std::vector<std::pair<std::string, int>> Shown;
  bool Refuse = false;
};
}  // namespace IWApplication

namespace IWServerControllerBase {
class TStringList : public pelloran::crashlog::TIWStrings {
 public:
  std::string GetText() const override {
    std::string text;
    for (const std::string& line : Lines) text += line + "\r\n";
    return text;
  }
  void SetText(std::string_view text) override {
    Lines.clear();
    while (!text.empty()) {
      const std::size_t end = text.find("\r\n");
      Lines.emplace_back(text.substr(0, end));
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
    }
  }
  std::vector<std::string> Lines;
};

class TIWServerControllerBase : public pelloran::crashlog::TIWPublishedObject {
 public:
  pelloran::crashlog::TIWStrings* PublishedStrings(std::string_view name) override {
    return Publishes && name == "HTMLHeaders" ? &HTMLHeaders : nullptr;
  }
  TStringList HTMLHeaders;
  bool Publishes = true;
};
}  // namespace IWServerControllerBase

namespace pelloran::testing {
namespace {

using namespace crashlog;

std::size_t Occurrences(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

std::string CgiHeader(std::size_t length) {
  return "Status: 500 Error\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(length) +
         "\r\nContent:\r\n\r\n";
}

TEST(WebPage, HtmlTextBreaksLinesKeepsSpacesAndEncodesMarkup) {
  EXPECT_EQ(HtmlText("first word\r\nsecond word"), "first&nbsp;word<br>second&nbsp;word");
  // A message cannot close the font element or open one of its own.
  EXPECT_EQ(HtmlText("</font><script>alert(\"x\")</script> & 'y'"),
            "&lt;/font&gt;&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&nbsp;&amp;&nbsp;&#39;y&#39;");
  EXPECT_EQ(HtmlText("a\rb\nc"), "a\rb\nc");
  EXPECT_EQ(ErrorPage(kProbeTitle, kProbeReport), kProbePage);
  EXPECT_EQ(ErrorPage("A < B", ""),
            "<html><head><title>A &lt; B</title></head><body><p><small>"
            "<font face=\"Lucida Console,Courier\"></font></small></p></body></html>");
}

TEST(WebPage, CgiHeaderPrecedesThePageAndIsapiHeaderHasNoStatus) {
  const std::string page(120, 'p');
  EXPECT_EQ(WebErrorOutput(page),
            "Status: 500 Error\r\n"
            "Content-Type: text/html\r\n"
            "Content-Length: 120\r\n"
            "Content:\r\n"
            "\r\n" +
                page);
  EXPECT_EQ(WebErrorHeader(120, false), "Content-Type: text/html\r\nContent-Length: 120\r\nContent:\r\n\r\n");
}

class IntraWebTest : public ::testing::Test {
 protected:
  void SetUp() override {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpmf-conversions"
    // The method's own code, as a lookup by name in the debug information finds it.
    auto* const showMessage =
        reinterpret_cast<void*>((void (*)(IWApplication::TIWApplication*, const std::string&, int))(
            &IWApplication::TIWApplication::ShowMessage));
#pragma GCC diagnostic pop
    SetIntraWebHooked(true, showMessage);
    ASSERT_TRUE(IsWebApplication());
    controller_.HTMLHeaders.Lines = {"<meta name=\"robots\" content=\"none\">", "<link rel=\"icon\" href=\"a.ico\">"};
  }
  void TearDown() override { SetIntraWebHooked(false, nullptr); }

  bool Show() {
    ClearLastError();
    TIntraWebObjectsScope handler({&controller_, &application_});
    return ShowIntraWebError("Access violation at <b>0x1234</b>\r\nin  two", "Error & more.");
  }

  IWApplication::TIWApplication application_;
  IWServerControllerBase::TIWServerControllerBase controller_;
};

TEST_F(IntraWebTest, TwoCallsLeaveOneMarkedBlockAndShowTheEncodedMessage) {
  ASSERT_TRUE(Show()) << LastErrorMessage();
  ASSERT_TRUE(Show()) << LastErrorMessage();

  const std::string headers = controller_.HTMLHeaders.GetText();
  EXPECT_EQ(headers,
            "<meta name=\"robots\" content=\"none\">\r\n"
            "<link rel=\"icon\" href=\"a.ico\">"
            "<!--crashlog_start-->"
            "<style>.BUTNOKCSS {position:absolute;left:8px;top:8px}"
            ".TEXTMESSAGECSS {position:absolute;left:8px;top:41px;FONT-FAMILY: Lucida Console,Courier}</style>"
            "<title>Error &amp; more.</title>"
            "<!--crashlog_end-->\r\n");
  EXPECT_EQ(Occurrences(headers, "<!--crashlog_start-->"), 1u);
  EXPECT_EQ(Occurrences(headers, "<!--crashlog_end-->"), 1u);

  ASSERT_EQ(application_.Shown.size(), 2u);
  const std::pair<std::string, int> expected{
      "Access&nbsp;violation&nbsp;at&nbsp;&lt;b&gt;0x1234&lt;/b&gt;\r\nin&nbsp;&nbsp;two", 2};
  EXPECT_EQ(application_.Shown[0], expected);
  EXPECT_EQ(application_.Shown[1], expected);
  EXPECT_EQ(LastErrorCode(), eeNone);
}

TEST_F(IntraWebTest, MissingObjectsHeadersOrSessionAreWarnings) {
  // Only the thread whose handler runs has objects.
  bool elsewhere = true;
  {
    TIntraWebObjectsScope handler({&controller_, &application_});
    std::thread([&] { elsewhere = ShowIntraWebError("m", "t"); }).join();
  }
  EXPECT_FALSE(elsewhere);
  EXPECT_EQ(LastErrorMessage(), "IntraWeb: IntraWebApplication e/o IntraWebServerController are set to nil.");
  EXPECT_FALSE(ShowIntraWebError("m", "t"));  // the handler has returned
  EXPECT_TRUE(application_.Shown.empty());

  controller_.Publishes = false;
  EXPECT_TRUE(Show());
  EXPECT_EQ(LastErrorMessage(), "IntraWeb: HTMLHeaders = nil.");
  EXPECT_EQ(application_.Shown.size(), 1u);

  controller_.Publishes = true;
  application_.Refuse = true;
  EXPECT_FALSE(Show());
  EXPECT_EQ(LastErrorCode(), eeShowError);
  EXPECT_EQ(LastErrorMessage(), "[IntraWeb] The session has ended.");
}

// A WinCGI profile as the server writes it; `output` empty leaves "Output File" out.
void WriteProfile(const std::string& path, const std::string& requestMethod, const std::string& output) {
  std::ofstream profile(path, std::ios::binary);
  profile << "[CGI]\r\nRequest Method=" << requestMethod << "\r\nExecutable Path=/probe\r\n"
          << "[System]\r\nGMT Offset=0\r\n";
  if (!output.empty()) profile << "Output File=" << output << "\r\n";
}

void WriteLongerOutput(const std::string& path) {
  std::ofstream(path, std::ios::binary) << std::string(4000, 'x');
}

void WriteEmpty(const std::string& path) { std::ofstream(path, std::ios::binary).flush(); }

// A report goes into a file only when a server asked for it: the profile names the third
// parameter as its output file, and that file is empty when the program starts.
TEST(WinCGI, OutputOnlyIntoTheEmptyFileThatTheProfileNames) {
  ScratchFolder folder;
  const std::string profile = folder.File("request.ini");
  const std::string output = folder.File("request.out");
  const std::string other = folder.File("other.out");
  const std::string probe = "\"" + SiblingProgram("crashlog_web_wincgi_probe.exe") + "\" \"" + profile + "\" \"" +
                            folder.File("content.txt") + "\" ";
  const std::string expected = CgiHeader(kProbePage.size()) + std::string(kProbePage);

  // As a server runs it: the page is the whole output.
  WriteProfile(profile, "POST", output);
  WriteEmpty(output);
  EXPECT_EQ(RunProgram(probe + "\"" + output + "\""), 0u);
  EXPECT_EQ(ReadWholeFile(output), expected);

  // The same file under another spelling of its path is still the same file.
  WriteEmpty(output);
  EXPECT_EQ(RunProgram(probe + "\"" + folder.File(".\\request.out") + "\""), 0u);
  EXPECT_EQ(ReadWholeFile(output), expected);

  // A file that already holds something (a dropped media file) is nobody's output.
  WriteLongerOutput(output);
  EXPECT_EQ(RunProgram(probe + "\"" + output + "\""), 2u);
  EXPECT_EQ(ReadWholeFile(output), std::string(4000, 'x'));

  // The third parameter is not the file the profile names; or there is none.
  WriteEmpty(output);
  WriteEmpty(other);
  EXPECT_EQ(RunProgram(probe + "\"" + other + "\""), 2u);
  EXPECT_EQ(RunProgram(probe + "\"\""), 2u);
  EXPECT_EQ(ReadWholeFile(output), "");
  EXPECT_EQ(ReadWholeFile(other), "");

  // A profile without a request method is no WinCGI request.
  WriteProfile(profile, "", output);
  EXPECT_EQ(RunProgram(probe + "\"" + output + "\""), 2u);
  EXPECT_EQ(ReadWholeFile(output), "");
}

}  // namespace
}  // namespace pelloran::testing
