// The control files, the command line and the choice of advertising streams.
#include <gtest/gtest.h>

#include "base/text_lines.h"

#include "batch/rmevents/ad_streams.h"
#include "batch/rmevents/command_line.h"
#include "batch/rmevents/control_texts.h"

namespace pelloran::rmevents {
namespace {

TEST(AdStreamTypes, EventAndImageMapTypesInEverySpellingAreAdvertising) {
  for (const char* t : {"application/x-pn-realevent", "application/x-pn-realevent-encrypted",
                        "application/x-pn-encrypted-realevent", "APPLICATION/X-PN-REALEVENT",
                        "application/x-pn-multirate-realevent", "application/x-pn-realevents",
                        "logical-application/x-pn-realevent", "syncMM/x-pn-realvideo",
                        "syncMM/x-pn-realvideo-encrypted", "SYNCMM/X-PN-REALVIDEO",
                        "syncmm/x-pn-realvideo-ENCRYPTED", "logical-syncMM/x-pn-realvideo"})
    EXPECT_EQ(ClassifyStreamType(t), AdKind::Events) << t;
  for (const char* t : {"application/x-pn-imagemap", "application/x-pn-multirate-imagemap",
                        "application/x-pn-imagemap-encrypted",
                        "application/x-pn-multirate-imagemap-encrypted",
                        "logical-application/x-pn-multirate-imagemap", "image_map/x-pn-realvideo",
                        "IMAGE_MAP/X-PN-REALVIDEO", "image_map/x-pn-realvideo-encrypted"})
    EXPECT_EQ(ClassifyStreamType(t), AdKind::ImageMap) << t;
  for (const char* t : {"video/x-pn-realvideo", "audio/x-pn-realaudio", "logical-fileinfo",
                        "logical-audio/x-pn-multirate-realaudio", "application/x-pn-realtext",
                        "application/x-pn-realevent-extra", "video/x-pn-realvideo-encrypted",
                        "syncMM/x-pn-realaudio", "image_map/x-pn-realpix", "syncMM/realvideo",
                        "x-syncMM/x-pn-realvideo", ""})
    EXPECT_EQ(ClassifyStreamType(t), AdKind::None) << t;
}

TEST(EventsFile, TheProgramsOwnFileGivesTitleAuthorAndCopyright) {
  // As the batch writes it: GBK text, CR LF after every line.
  EventsFile f = ParseEventsFile(
      "i 00:00:00.0 00:00:10.0 Pelloran\r\n"
      "a 00:00:00.0 00:00:10.0 www.pelloran.example\r\n"
      "c 00:00:00.0 00:00:10.0 \xD3\xC3\xA1\xB6Pelloran\xA1\xB7\xC7\xE5\xB3\xFD\r\n");
  EXPECT_EQ(f.events, 3);
  EXPECT_EQ(f.texts.title, "Pelloran");
  EXPECT_EQ(f.texts.author, "www.pelloran.example");
  EXPECT_EQ(f.texts.copyright, "\xD3\xC3\xA1\xB6Pelloran\xA1\xB7\xC7\xE5\xB3\xFD");
  EXPECT_TRUE(f.notes.empty());
}

TEST(EventsFile, UrlAndUnknownEventsAreReportedAndNeverUsed) {
  EventsFile f = ParseEventsFile(
      "u 00:00:01.0 00:00:05.0 http://example.com/\n"
      "x 00:00:01.0 00:00:05.0 something\n"
      "i 00:00:00.0 00:00:10.0 first\n"
      "i 00:00:00.0 00:00:10.0 second\n"
      "not an event\n"
      "a 0:1 2.5\n"
      "\n"
      "c 1 2 last line without an end");
  EXPECT_EQ(f.texts.title, "first");
  EXPECT_EQ(f.texts.author, "");  // an event may have an empty text
  EXPECT_EQ(f.texts.copyright, "last line without an end");
  ASSERT_EQ(f.notes.size(), 4u);
  EXPECT_NE(f.notes[0].find("line 1: URL event (u) not supported"), std::string::npos);
  EXPECT_NE(f.notes[1].find("line 2: event kind \"x\""), std::string::npos);
  EXPECT_NE(f.notes[2].find("line 4: second title"), std::string::npos);
  EXPECT_NE(f.notes[3].find("line 5: not an event line"), std::string::npos);
}

TEST(EventsFile, MalformedTimesAndOversizedTextsAreLeftOut) {
  std::string huge(70000, 'x');
  EventsFile f = ParseEventsFile("i 00:00 :10 title\r\ni 1..2 3 t\r\na 1 2 " + huge + "\r\n");
  EXPECT_TRUE(f.texts.Empty());
  EXPECT_EQ(f.notes.size(), 3u);
}

TEST(EventsFile, AGarbageFileGivesAShortReport) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "garbage\r\n";
  EventsFile f = ParseEventsFile(text);
  ASSERT_EQ(f.notes.size(), 21u);
  EXPECT_EQ(f.notes.back(), "and 980 more lines left out");
}

TEST(ImageMapFile, TheProgramsOwnMapHasNoLinks) {
  ImageMapFile m = ParseImageMapFile(
      "DURATION=0:0:0:0:1\r\n<MAP START=0:0:0:0:1 END=0:0:0:0:1 COORDS=0,0,0,0><AREA "
      "SHAPE=RECTANGLE COORDS=0,0,0,0 URL=\"\" ALT=\"\"></MAP>\r\n");
  EXPECT_EQ(m.duration, "0:0:0:0:1");
  EXPECT_EQ(m.maps, 1);
  EXPECT_EQ(m.areas, 1);
  EXPECT_EQ(m.links, 0);
}

TEST(ImageMapFile, AreasWithAUrlCountAsLinks) {
  ImageMapFile m = ParseImageMapFile(
      "<map><area url=\"http://a.example/\"><AREA URL=x><AREA URL= ></MAP><MAP></MAP>");
  EXPECT_EQ(m.maps, 2);
  EXPECT_EQ(m.areas, 3);
  EXPECT_EQ(m.links, 2);
}

TEST(ImageMapFile, UnclosedTagsAreReadInOnePass) {
  // 200,000 tags without a single '>': each is read up to the next '<'.
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "<AREA URL=x";
  ImageMapFile m = ParseImageMapFile(text);
  EXPECT_EQ(m.areas, 200000);
  EXPECT_EQ(m.links, 200000);
}

TEST(ControlTexts, LinesSplitAtEveryKindOfLineEnd) {
  auto lines = SplitLines("a\r\nb\nc\rd\r\n\r\ne");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "d");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], "e");
}

TEST(CommandLine, TheBatchRunnersLineIsUnderstood) {
  ParsedCommandLine c = ParseCommandLine({L"-i", L"D:\\\x7535\x5F71\\a b.rm", L"-o",
                                          L"D:\\Fix_a b.rm", L"-e", L"blank.txt", L"-m",
                                          L"blank2.txt", L"-l", L"result.txt"});
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.options.input, L"D:\\\x7535\x5F71\\a b.rm");
  EXPECT_EQ(c.options.output, L"D:\\Fix_a b.rm");
  EXPECT_EQ(c.options.events, L"blank.txt");
  EXPECT_EQ(c.options.imageMap, L"blank2.txt");
  EXPECT_EQ(c.options.log, L"result.txt");
}

TEST(CommandLine, FaultsAreNamedAndTheLogIsStillFound) {
  ParsedCommandLine c = ParseCommandLine({L"-x", L"-i", L"in.rm", L"-l", L"log.txt"});
  EXPECT_EQ(c.error, "unknown argument \"-x\"");
  EXPECT_EQ(c.options.log, L"log.txt");
  EXPECT_EQ(ParseCommandLine({L"-i", L"in.rm"}).error, "no output file (-o)");
  EXPECT_EQ(ParseCommandLine({L"-o", L"out.rm"}).error, "no input file (-i)");
  EXPECT_EQ(ParseCommandLine({L"-i", L"in.rm", L"-o"}).error, "option -o needs a file name");
  EXPECT_EQ(ParseCommandLine({L"/I", L"in.rm", L"/O", L"out.rm"}).error, "");
}

TEST(CommandLine, TheLogIsChineseForAChineseUserOnTheChineseCodePageAndLangDecides) {
  EXPECT_EQ(LanguageFor(0x0804, 936), LogLanguage::Chinese);
  EXPECT_EQ(LanguageFor(0x0804, 1252), LogLanguage::English);  // GBK would be unreadable there
  EXPECT_EQ(LanguageFor(0x0404, 950), LogLanguage::English);
  EXPECT_EQ(LanguageFor(0x0409, 936), LogLanguage::English);

  const std::vector<std::wstring> plain = {L"-i", L"in.rm", L"-o", L"out.rm"};
  EXPECT_EQ(ParseCommandLine(plain).options.language, LogLanguage::English);
  EXPECT_EQ(ParseCommandLine(plain, LogLanguage::Chinese).options.language, LogLanguage::Chinese);
  ParsedCommandLine en = ParseCommandLine({L"--lang", L"en", L"-i", L"in.rm", L"-o", L"out.rm"},
                                          LogLanguage::Chinese);
  EXPECT_EQ(en.error, "");
  EXPECT_EQ(en.options.language, LogLanguage::English);
  // Wherever --lang stands, a fault before it is already told in its language.
  ParsedCommandLine zh = ParseCommandLine({L"-x", L"-i", L"in.rm", L"--LANG", L"zh"});
  EXPECT_EQ(zh.options.language, LogLanguage::Chinese);
  EXPECT_EQ(zh.error, "未知参数 \"-x\"");
  EXPECT_EQ(ParseCommandLine({L"-i", L"in.rm"}, LogLanguage::Chinese).error, "没有输出文件 (-o)");
  EXPECT_EQ(ParseCommandLine({L"-i", L"a", L"-o", L"b", L"--lang", L"fr"}).error,
            "option --lang takes en or zh");
  EXPECT_EQ(ParseCommandLine({L"-i", L"a", L"-o", L"b", L"--lang"}).error,
            "option --lang takes en or zh");
}

}  // namespace
}  // namespace pelloran::rmevents
