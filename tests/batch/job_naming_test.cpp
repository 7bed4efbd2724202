#include "batch/job_naming.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "batch/column_fit.h"
#include "batch/control_files.h"

namespace pelloran {
namespace {

const LeadByteTable& Gbk() { return GbkLeadBytes(); }

TEST(JobNaming, AcceptsOnlyRealMediaExtensionsInAnyCase) {
  for (const char* ok : {"movie.rm", "movie.Rmvb", "MOVIE.RMVB", "a.rA", "C:\\x\\y.Rm", "a.b.ra"})
    EXPECT_TRUE(IsAcceptedMediaFile(ok, Gbk())) << ok;
  for (const char* refused : {"movie.avi", "movie", "movie.rmvb2", "movie.ram", "movie.", ".rmx",
                              "C:\\dir.rm\\movie", "D:dir.rm:movie", ""})
    EXPECT_FALSE(IsAcceptedMediaFile(refused, Gbk())) << refused;
}

TEST(JobNaming, OutputGoesBesideTheInputWithFixPrefix) {
  EXPECT_EQ(OutputPathFor("C:\\影片\\a.rmvb", Gbk()), "C:\\影片\\Fix_a.rmvb");
  EXPECT_EQ(OutputPathFor("D:a.RM", Gbk()), "D:Fix_a.RM");
  EXPECT_EQ(OutputPathFor("a.ra", Gbk()), "Fix_a.ra");
  EXPECT_EQ(OutputPathFor("\\\\server\\share\\b.rm", Gbk()), "\\\\server\\share\\Fix_b.rm");
}

TEST(JobNaming, TrailByteThatLooksLikeABackslashIsNotADelimiter) {
  // "\xB1\x5C" is "盶": its trail byte is 0x5C, the code of "\".
  const std::string dbcsWithBackslash = "\xB1\x5C";
  const std::string path = "C:\\" + dbcsWithBackslash + "\\" + dbcsWithBackslash + ".rm";
  EXPECT_EQ(LastPathDelimiter(path, Gbk()), 5u);
  EXPECT_EQ(OutputPathFor(path, Gbk()), "C:\\" + dbcsWithBackslash + "\\Fix_" + dbcsWithBackslash + ".rm");
  EXPECT_TRUE(IsAcceptedMediaFile(path, Gbk()));
  // Read byte by byte, the 0x5C would split the name: the file name would be ".rm" only.
  LeadByteTable none{};
  EXPECT_EQ(OutputPathFor("C:\\" + dbcsWithBackslash + ".rm", none), "C:\\\xB1\\Fix_.rm");
  // A double-byte character whose trail byte is "." (none in GBK, but the rule is the same) or
  // a lead byte at the very end of the text does not upset the scan.
  EXPECT_EQ(ExtractExtension("a.rm\xB1", Gbk()), ".rm\xB1");
}

TEST(JobNaming, ExtensionIsTakenAfterTheLastDelimiter) {
  EXPECT_EQ(ExtractExtension("C:\\dir.rm\\movie", Gbk()), "");
  EXPECT_EQ(ExtractExtension("C:\\dir\\movie.RmVb", Gbk()), ".RmVb");
  EXPECT_EQ(AsciiUpper("a.rmvb影"), "A.RMVB影");
}

TEST(ControlFiles, EventsFileIsThreeGbkLinesWithCrLf) {
  const std::string text = EventsFileText();
  EXPECT_EQ(text,
            "i 00:00:00.0 00:00:10.0 Pelloran\r\n"
            "a 00:00:00.0 00:00:10.0 www.pelloran.example\r\n"
            "c 00:00:00.0 00:00:10.0 \xD3\xC3\xA1\xB6Pelloran\xA1\xB7\xC7\xE5\xB3\xFDRM\xB6\xF1\xD2\xE2"
            "\xB5\xAF\xB3\xF6\xB9\xE3\xB8\xE6\r\n");
}

TEST(ControlFiles, ImageMapFileIsTwoLinesAndTheMapIs107Bytes) {
  const std::string text = ImageMapFileText();
  EXPECT_EQ(text.substr(0, 20), "DURATION=0:0:0:0:1\r\n");
  const std::string line2 = text.substr(20);
  ASSERT_EQ(line2.size(), 107u + 2);
  EXPECT_EQ(line2.substr(107), "\r\n");
  EXPECT_EQ(line2.substr(0, 107),
            "<MAP START=0:0:0:0:1 END=0:0:0:0:1 COORDS=0,0,0,0><AREA SHAPE=RECTANGLE COORDS=0,0,0,0 "
            "URL=\"\" ALT=\"\"></MAP>");
}

TEST(ToolLog, IsNormalisedToCrLfAfterEveryLine) {
  EXPECT_EQ(NormaliseLog(""), "");
  EXPECT_EQ(NormaliseLog("***"), "***\r\n");
  EXPECT_EQ(NormaliseLog("a\nb\n***"), "a\r\nb\r\n***\r\n");
  EXPECT_EQ(NormaliseLog("a\rb\r\nc\n"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(NormaliseLog("a\n\nb"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(NormaliseLog("\n"), "\r\n");
  EXPECT_EQ(NormaliseLog("\r\r\n"), "\r\n\r\n");
  EXPECT_EQ(NormaliseLog(std::string("ok\n***\0hidden\n", 15)), "ok\r\n***\r\n");
  EXPECT_EQ(NormaliseLog(std::string("\0***", 4)), "");
}

TEST(ToolLog, FinishedWhenThreeAsterisksStandAnywhere) {
  EXPECT_TRUE(LogMarksFinished(NormaliseLog("***")));
  EXPECT_TRUE(LogMarksFinished(NormaliseLog("error: no streams***")));
  EXPECT_FALSE(LogMarksFinished(NormaliseLog("** *\n**")));
  EXPECT_FALSE(LogMarksFinished(NormaliseLog(std::string("\0***", 4))));
}

TEST(JobNaming, UnicodePathsFollowTheSameRules) {
  for (const wchar_t* ok : {L"\uD55C.rm", L"C:\\\uD55C\\y.Rm", L"emoji\U0001F600.RMVB", L"a.b.rA"})
    EXPECT_TRUE(IsAcceptedMediaFile(std::wstring_view(ok)));
  for (const wchar_t* refused : {L"\uD55C.avi", L"C:\\dir.rm\\movie", L"D:dir.rm:movie", L"movie.rm\uD55C",
                                 L"movie.ram", L""})
    EXPECT_FALSE(IsAcceptedMediaFile(std::wstring_view(refused)));
  EXPECT_EQ(OutputPathFor(std::wstring_view(L"C:\\\uD55C\\\U0001F600.rm")), L"C:\\\uD55C\\Fix_\U0001F600.rm");
  EXPECT_EQ(OutputPathFor(std::wstring_view(L"D:a.RM")), L"D:Fix_a.RM");
  EXPECT_EQ(OutputPathFor(std::wstring_view(L"a.ra")), L"Fix_a.ra");
}

TEST(JobColumns, TheResultGetsAllItNeedsAndThePathsShareTheRest) {
  // Everything fits: the output column its need, the input column the rest.
  JobColumnWidths w = FitJobColumns(750, 200, 250, 180);
  EXPECT_EQ(w.Result, 180);
  EXPECT_EQ(w.Output, 250);
  EXPECT_EQ(w.Input, 750 - 180 - 250);
  // Too wide together: the one that fits in half keeps its need.
  w = FitJobColumns(750, 900, 200, 180);
  EXPECT_EQ(w.Output, 200);
  EXPECT_EQ(w.Input, 750 - 180 - 200);
  w = FitJobColumns(750, 200, 900, 180);
  EXPECT_EQ(w.Input, 200);
  EXPECT_EQ(w.Output, 750 - 180 - 200);
  // Both long: half each, and never more than the list has.
  w = FitJobColumns(750, 900, 900, 181);
  EXPECT_EQ(w.Input + w.Output + w.Result, 750);
  EXPECT_LE(std::abs(w.Input - w.Output), 1);
  // A result wider than the list still shows whole; the paths keep a useful minimum.
  w = FitJobColumns(300, 500, 500, 280);
  EXPECT_EQ(w.Result, 280);
  EXPECT_GE(w.Input, kMinPathColumnWidth);
  EXPECT_GE(w.Output, kMinPathColumnWidth);
}

}  // namespace
}  // namespace pelloran
