// The build tool's pure parts: the model built from DWARF facts, PE sections and resources, and
// the options file. Built natively with the sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

#include "crashlog/infra/debuginfo/debug_info_format.h"
#include "tools/eldata/debug_model.h"
#include "tools/eldata/options_file.h"
#include "tools/eldata/pe_image.h"
#include "tools/eldata/pe_resources.h"

namespace pelloran::eldata {
namespace {

constexpr std::uint64_t kImageBase = 0x400000;
constexpr std::uint64_t kCodeBase = kImageBase + 0x1000;

crashlog::TDebugLocation Locate(const std::vector<std::uint8_t>& data, std::uint64_t address) {
  auto found = crashlog::FindDebugLocation(data, 454, kImageBase, address);
  EXPECT_TRUE(found) << std::hex << address;
  return found.value_or(crashlog::TDebugLocation{});
}

TEST(DebugModel, InlinedCodeBelongsToTheInnermostProcedureAndItsFile) {
  TDwarfFacts facts;
  facts.Files = {"/src/app/main.cpp", "/usr/include/c++/12/bits/stl_vector.h", "/src/app/other.cpp"};
  facts.Procs = {{"", "main"}, {"std::vector<int>", "push_back"}, {"pelloran::TFoo", "Run"}};
  // main: 0x1000..0x1040 with push_back inlined at 0x1010..0x1020.
  facts.Ranges = {{kCodeBase + 0x0, kCodeBase + 0x40, 0, 0}, {kCodeBase + 0x10, kCodeBase + 0x20, 1, 1},
                  {kCodeBase + 0x50, kCodeBase + 0x60, 0, 2}};
  facts.Lines = {{kCodeBase + 0x00, kCodeBase + 0x10, 0, 10}, {kCodeBase + 0x10, kCodeBase + 0x20, 1, 1287},
                 {kCodeBase + 0x20, kCodeBase + 0x38, 0, 11},
                 // 0x38..0x50: padding and a gap; then other.cpp
                 {kCodeBase + 0x50, kCodeBase + 0x58, 2, 5}, {kCodeBase + 0x58, kCodeBase + 0x60, 2, 7}};
  facts.Entries = {{kCodeBase + 0x0, 0x40, 0}, {kCodeBase + 0x50, 0x10, 2}};
  const auto built = BuildDebugModel(facts, kCodeBase);
  ASSERT_EQ(built.Model.Units.size(), 4u);  // main, stl_vector.h, main again, other
  EXPECT_EQ(built.Model.Units[0].StoredName, "main");
  EXPECT_EQ(built.Model.Units[1].StoredName, "stl_vector.h");
  const auto data = crashlog::WriteDebugInfo(built.Model, 454);

  auto at = Locate(data, kCodeBase + 0x12);
  EXPECT_EQ(at.UnitName, "stl_vector.h");
  EXPECT_EQ(at.Line, 1287);
  EXPECT_EQ(at.ClassName, "std::vector<int>");
  EXPECT_EQ(at.ProcedureName, "push_back");
  at = Locate(data, kCodeBase + 0x20);
  EXPECT_EQ(at.UnitName, "main.cpp");
  EXPECT_EQ(at.Line, 11);
  EXPECT_EQ(at.ProcedureName, "main");
  at = Locate(data, kCodeBase + 0x5A);
  EXPECT_EQ(at.UnitName, "other.cpp");
  EXPECT_EQ(at.ClassName, "pelloran::TFoo");
  EXPECT_EQ(at.ProcedureName, "Run");
  EXPECT_EQ(at.Line, 7);
  // 0x38..0x50 has no line: no unit claims it.
  EXPECT_FALSE(crashlog::FindDebugLocation(data, 454, kImageBase, kCodeBase + 0x40));

  EXPECT_EQ(crashlog::FindNameTableOffset(data, 454, "main.main"), 0u);
  EXPECT_EQ(crashlog::FindNameTableOffset(data, 454, "other.pelloran::TFoo.Run"), 0x50u);
}

TEST(DebugModel, PaddingBetweenPiecesOfOneFileBelongsToNoUnit) {
  TDwarfFacts facts;
  facts.Files = {"a.cpp"};
  facts.Procs = {{"", "f"}, {"", "g"}};
  facts.Ranges = {{kCodeBase, kCodeBase + 0x0D, 0, 0}, {kCodeBase + 0x10, kCodeBase + 0x20, 0, 1}};
  facts.Lines = {{kCodeBase, kCodeBase + 0x0D, 0, 3}, {kCodeBase + 0x10, kCodeBase + 0x20, 0, 9}};
  const auto built = BuildDebugModel(facts, kCodeBase);
  ASSERT_EQ(built.Model.Units.size(), 2u);
  const auto data = crashlog::WriteDebugInfo(built.Model, 454);
  EXPECT_EQ(Locate(data, kCodeBase + 0x0C).ProcedureName, "f");
  EXPECT_FALSE(crashlog::FindDebugLocation(data, 454, kImageBase, kCodeBase + 0x0E));  // as addr2line: no line
  EXPECT_EQ(Locate(data, kCodeBase + 0x10).ProcedureName, "g");
}

TEST(DebugModel, UnitNames) {
  EXPECT_EQ(StoredUnitName("/x/y/main.cpp"), "main");
  EXPECT_EQ(StoredUnitName("/x/y/option_stream.test.cpp"), "option_stream.test.cpp");
  EXPECT_EQ(StoredUnitName("/x/stl_vector.h"), "stl_vector.h");
  EXPECT_EQ(StoredUnitName("C:\\x\\crtexe.c"), "crtexe.c");
  EXPECT_EQ(UnitStem("/x/stl_vector.h"), "stl_vector");
}

// A small, valid 32-bit PE image: headers, .text at 0x1000, .data at 0x2000.
std::vector<std::uint8_t> MinimalImage() {
  std::vector<std::uint8_t> b(0x600, 0);
  auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); };
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); };
  put16(0, 0x5A4D);
  put32(0x3C, 0x40);
  put32(0x40, 0x00004550);
  const std::size_t fh = 0x44, oh = fh + 20;
  put16(fh, 0x014C);
  put16(fh + 2, 2);
  put32(fh + 4, 0x5F000000);
  put16(fh + 16, 224);
  put16(fh + 18, 0x0102);
  put16(oh, 0x010B);
  put32(oh + 16, 0x1000);  // entry point
  put32(oh + 20, 0x1000);
  put32(oh + 28, 0x400000);
  put32(oh + 32, 0x1000);
  put32(oh + 36, 0x200);
  put32(oh + 56, 0x3000);
  put32(oh + 60, 0x200);
  put32(oh + 92, 16);
  const std::size_t st = oh + 224;
  std::memcpy(&b[st], ".text", 5);
  put32(st + 8, 0x10);
  put32(st + 12, 0x1000);
  put32(st + 16, 0x200);
  put32(st + 20, 0x200);
  put32(st + 36, 0x60000020);
  std::memcpy(&b[st + 40], ".data", 5);
  put32(st + 48, 0x20);
  put32(st + 52, 0x2000);
  put32(st + 56, 0x200);
  put32(st + 60, 0x400);
  put32(st + 76, 0xC0000040);
  for (int i = 0; i < 16; ++i) b[0x200 + i] = static_cast<std::uint8_t>(0x90 + i);
  // a COFF "symbol table" behind the sections, to see it move
  b.insert(b.end(), {'S', 'Y', 'M', 'S'});
  put32(fh + 8, 0x600);
  return b;
}

TEST(PeImage, AddedSectionGoesBehindEverythingAndKeepsTheCode) {
  const TPeImage before(MinimalImage());
  TPeImage after(MinimalImage());
  const std::vector<std::uint8_t> payload(0x345, 0xAB);
  EXPECT_EQ(after.NextSectionRva(), 0x3000u);
  after.AddSection(".rsrc", payload, kSectionInitializedData | kSectionRead);
  ASSERT_EQ(after.Sections().size(), 3u);
  const auto& added = after.Sections()[2];
  EXPECT_EQ(added.VirtualAddress, 0x3000u);
  EXPECT_EQ(added.VirtualSize, 0x345u);
  EXPECT_EQ(added.PointerToRawData % 0x200, 0u);
  EXPECT_EQ(after.SectionData(added)[0x344], 0xAB);
  EXPECT_TRUE(SameCodeSection(before, after));
  // SizeOfImage covers the new section; the symbol table moved behind it.
  const auto& bytes = after.Bytes();
  std::uint32_t sizeOfImage, symbols;
  std::memcpy(&sizeOfImage, &bytes[0x44 + 20 + 56], 4);
  std::memcpy(&symbols, &bytes[0x44 + 8], 4);
  EXPECT_EQ(sizeOfImage, 0x4000u);
  EXPECT_EQ(std::string(bytes.begin() + symbols, bytes.begin() + symbols + 4), "SYMS");
}

TEST(PeImage, DroppedSectionDataLeavesMemoryInPlaceAndTheRestOfTheFileIntact) {
  // As the tool leaves a program: the linker's resources in the middle, relocations behind them.
  TPeImage image(MinimalImage());
  image.AddSection(".rsrc", std::vector<std::uint8_t>(0x345, 0xAB), kSectionInitializedData | kSectionRead);
  const std::vector<std::uint8_t> relocations(0x20, 0xCD);
  image.AddSection(".reloc", relocations, kSectionInitializedData | kSectionRead);
  const TPeImage before(image.Bytes());
  image.DropSectionData(2);

  EXPECT_EQ(image.Bytes().size(), before.Bytes().size() - 0x400);  // 0x345 rounded to 0x200s
  ASSERT_EQ(image.Sections().size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(image.Sections()[i].VirtualAddress, before.Sections()[i].VirtualAddress);
    EXPECT_EQ(image.Sections()[i].VirtualSize, before.Sections()[i].VirtualSize);
  }
  const auto& dropped = image.Sections()[2];
  EXPECT_EQ(dropped.SizeOfRawData, 0u);
  EXPECT_EQ(dropped.PointerToRawData, 0u);
  EXPECT_TRUE(dropped.Characteristics & kSectionUninitializedData);
  const auto reloc = image.SectionData(image.Sections()[3]);
  EXPECT_TRUE(std::equal(reloc.begin(), reloc.end(), relocations.begin(), relocations.end()));
  EXPECT_EQ(image.Sections()[3].PointerToRawData, before.Sections()[2].PointerToRawData);
  EXPECT_TRUE(SameCodeSection(before, image));
  const auto& bytes = image.Bytes();
  std::uint32_t symbols;
  std::memcpy(&symbols, &bytes[0x44 + 8], 4);
  EXPECT_EQ(std::string(bytes.begin() + symbols, bytes.begin() + symbols + 4), "SYMS");
  // Read again from its bytes, the image is what it says.
  EXPECT_EQ(TPeImage(bytes).Sections()[3].PointerToRawData, image.Sections()[3].PointerToRawData);
}

TEST(PeImage, DroppedSectionDataMovesTheDebugDirectorysFileOffsets) {
  // A build id: a debug directory entry whose record lies behind the dropped data, named by its
  // file offset (PointerToRawData, the entry's last field) as well as by its RVA.
  TPeImage image(MinimalImage());
  image.AddSection(".rsrc", std::vector<std::uint8_t>(0x345, 0xAB), kSectionInitializedData | kSectionRead);
  const auto& rsrc = image.Sections()[2];
  const std::uint32_t recordOffset = rsrc.PointerToRawData + rsrc.SizeOfRawData + 28;
  std::vector<std::uint8_t> buildId(28 + 24, 0);
  buildId[12] = 2;  // IMAGE_DEBUG_TYPE_CODEVIEW
  buildId[16] = 24;
  std::memcpy(&buildId[24], &recordOffset, 4);
  std::memcpy(&buildId[28], "RSDS", 4);
  image.AddSection(".buildid", buildId, kSectionInitializedData | kSectionRead);
  ASSERT_EQ(image.Sections()[3].PointerToRawData + 28, recordOffset);
  image.SetDirectory(kDebugDirectory, image.Sections()[3].VirtualAddress, 28);

  image.DropSectionData(2);
  const auto& bytes = image.Bytes();
  std::uint32_t pointer = 0;
  std::memcpy(&pointer, &bytes[image.Sections()[3].PointerToRawData + 24], 4);
  ASSERT_LT(pointer + 4, bytes.size());
  EXPECT_EQ(std::string(bytes.begin() + pointer, bytes.begin() + pointer + 4), "RSDS");
  EXPECT_EQ(pointer, recordOffset - 0x400);
}

TEST(PeImage, ChecksumFollowsTheLoaderRule) {
  TPeImage image(MinimalImage());
  image.UpdateChecksum();
  const auto& bytes = image.Bytes();
  std::uint32_t stored;
  std::memcpy(&stored, &bytes[0x44 + 20 + 64], 4);
  // Independent sum: 16-bit words with end-around carry, the checksum field itself as 0.
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint32_t word = bytes[i] | (bytes[i + 1] << 8);
    if (i == 0x44 + 20 + 64 || i == 0x44 + 20 + 66) word = 0;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  EXPECT_EQ(stored, sum + bytes.size());
}

TEST(PeImage, DamagedImagesAreRefused) {
  auto bytes = MinimalImage();
  bytes[0x40] = 'X';
  EXPECT_THROW(TPeImage{bytes}, std::runtime_error);
  bytes = MinimalImage();
  bytes.resize(0x300);  // section data cut off
  EXPECT_THROW(TPeImage{bytes}, std::runtime_error);
}

TEST(PeResources, TreeSurvivesWritingAndReading) {
  TPeImage image(MinimalImage());
  TResourceTree tree;
  tree[TResourceKey::Numbered(kRcData)][TResourceKey::Named("ELDATA")][0] = {{1, 2, 3, 4, 5}, 0};
  tree[TResourceKey::Numbered(kRcData)][TResourceKey::Numbered(7)][0x409] = {{9}, 1252};
  tree[TResourceKey::Named("custom")][TResourceKey::Named("Item")][0] = {{7, 7}, 0};
  tree[TResourceKey::Numbered(16)][TResourceKey::Numbered(1)][0] = {std::vector<std::uint8_t>(300, 1), 0};
  const std::uint32_t rva = image.NextSectionRva();
  const auto section = BuildResourceSection(tree, rva);
  image.AddSection(".rsrc", section, kSectionInitializedData | kSectionRead);
  image.SetDirectory(kResourceDirectory, rva, static_cast<std::uint32_t>(section.size()));
  const TPeImage reread(image.Bytes());
  const auto back = ReadResources(reread);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_TRUE(back.begin()->first.IsName);  // named types first
  const auto& eldata = back.at(TResourceKey::Numbered(kRcData)).at(TResourceKey::Named("ELDATA")).at(0);
  EXPECT_EQ(eldata.Bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(back.at(TResourceKey::Numbered(kRcData)).at(TResourceKey::Numbered(7)).at(0x409).CodePage, 1252u);
  EXPECT_EQ(back.at(TResourceKey::Numbered(16)).at(TResourceKey::Numbered(1)).at(0).Bytes.size(), 300u);
  EXPECT_EQ(back.at(TResourceKey::Named("CUSTOM")).size(), 1u);
}

TEST(OptionsFile, SettingsOverDefaults) {
  crashlog::TCrashOptionValues values;
  ParseOptionsText(
      "# comment\n"
      "ShowDialog = false\n"
      "MailAddresses = dev@example.com\n"
      "SendMode = 2\n"
      "ReportFields = 0x7FFFFF\n"
      "Texts[2] = Oops.\n"
      "Texts[3] = Line one\\r\\nLine two\n"
      "Filter = EAbort | \n"
      "Filter = EConvertError | Bad number\n"
      "SaveMiniDump = yes\n",
      "test", values);
  EXPECT_FALSE(values.ShowDialog);
  EXPECT_EQ(values.MailAddresses, "dev@example.com");
  EXPECT_EQ(values.SendMode, 2);
  EXPECT_EQ(values.ReportFields, 0x7FFFFFu);
  EXPECT_EQ(values.Texts[2], "Oops.");
  EXPECT_EQ(values.Texts[3], "Line one\r\nLine two");
  EXPECT_EQ(values.FilterClasses, (std::vector<std::string>{"EAbort", "EConvertError"}));
  EXPECT_EQ(values.FilterMessages, (std::vector<std::string>{"", "Bad number"}));
  EXPECT_TRUE(values.SaveMiniDump);
  EXPECT_TRUE(values.SaveLog);  // untouched default
}

TEST(OptionsFile, MistakesNameTheLine) {
  crashlog::TCrashOptionValues values;
  try {
    ParseOptionsText("SaveLog = true\nShowDialgo = true\n", "app.options", values);
    FAIL() << "unknown option accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("app.options:2"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ParseOptionsText("SmtpPort = 70000\n", "x", values), std::runtime_error);
  EXPECT_THROW(ParseOptionsText("Texts[71] = x\n", "x", values), std::runtime_error);
  EXPECT_THROW(ParseOptionsText("SaveLog = maybe\n", "x", values), std::runtime_error);
}

TEST(OptionsFile, TheExampleNamesEveryOption) {
  std::ifstream file(PELLORAN_EXAMPLE_OPTIONS);
  ASSERT_TRUE(file) << PELLORAN_EXAMPLE_OPTIONS;
  std::set<std::string> named;
  for (std::string line; std::getline(file, line);) {
    const auto equals = line.find(" =");
    if (line.rfind("# ", 0) == 0 && equals != std::string::npos) named.insert(line.substr(2, equals - 2));
  }
  std::vector<std::string> missing;
#define PELLORAN_CHECK_NAMED(Type, Name, Default, From, Load, Access) \
  if (!named.count(#Name)) missing.push_back(#Name);
  PELLORAN_OPTIONS(PELLORAN_CHECK_NAMED)
#undef PELLORAN_CHECK_NAMED
  for (const char* name : {"CodePage", "Texts[2]", "Filter"})
    if (!named.count(name)) missing.push_back(name);
  EXPECT_TRUE(missing.empty()) << "not in example.options: " << ::testing::PrintToString(missing);
}

TEST(OptionsFile, Utf8TextsGoIntoTheStatedCodePage) {
  crashlog::TCrashOptionValues values;
  // With a byte order mark; the code page may come after the texts it applies to.
  ParseOptionsText("\xEF\xBB\xBFTexts[2] = \xE9\x94\x99\xE8\xAF\xAF\nFilter = EAbort | \xE9\x94\x99\nCodePage = 936\n",
                   "zh.options", values);
  EXPECT_EQ(values.Texts[2], "\xB4\xED\xCE\xF3");  // GBK
  EXPECT_EQ(values.FilterMessages, std::vector<std::string>{"\xB4\xED"});

  ParseOptionsText("MailSubject = Caf\xC3\xA9\n", "en.options", values);  // 1252 when not named
  EXPECT_EQ(values.MailSubject, "Caf\xE9");

  const auto message = [](const std::string& text) {
    crashlog::TCrashOptionValues ignored;
    try {
      ParseOptionsText(text, "app.options", ignored);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  // GBK bytes written straight into the file are not UTF-8.
  EXPECT_EQ(message("CodePage = 936\nTexts[2] = \xB4\xED\xCE\xF3\n"), "app.options:2: byte 12 is not valid UTF-8");
  EXPECT_EQ(message("# \xC0\x80 overlong\n"), "app.options:1: byte 3 is not valid UTF-8");
  EXPECT_EQ(message("Texts[2] = \xE9\x94\x99\n"), "app.options:1: \"\xE9\x94\x99\" (U+9519) has no place in code page 1252");
  EXPECT_EQ(message("CodePage = 936\nTexts[4] = \xF0\x9F\x98\x80\n"),
            "app.options:2: \"\xF0\x9F\x98\x80\" (U+1F600) has no place in code page 936");
  EXPECT_EQ(message("CodePage = 1\n"), "app.options:1: code page 1 is not known on this machine");
}

}  // namespace
}  // namespace pelloran::eldata
