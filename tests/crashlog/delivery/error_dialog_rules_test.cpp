// The error dialog's rules on plain values: profile numbers, placement, the collapsed size, the
// layout, list cells and icons, the reproduce text and the mailslot message.
#include "crashlog/delivery/error_dialog_rules.h"

#include <gtest/gtest.h>

#include <map>

namespace pelloran::crashlog {
namespace {

TProfileReader Profile(std::map<std::string, std::string> values) {
  return [values](const std::string& key, const std::string& fallback) {
    const auto found = values.find(key);
    return found == values.end() ? fallback : found->second;
  };
}

TEST(ErrorDialogRules, ProfileNumbersThatAreNotDecimalIntegersGiveTheDefault) {
  EXPECT_EQ(ProfileInt("640", 1), 640);
  EXPECT_EQ(ProfileInt("-12", 1), -12);
  EXPECT_EQ(ProfileInt("+7", 1), 7);
  for (const char* bad : {"", "abc", "12px", "0x10", "1.5", " ", "-", "99999999999"}) EXPECT_EQ(ProfileInt(bad, 5), 5) << bad;
}

TEST(ErrorDialogRules, PlacementDefaultsAreCentredAndStoredValuesPulledOntoTheScreen) {
  const TScreenSize screen{1280, 1024};
  TDialogPlacement p = LoadPlacement(Profile({}), screen, 20);
  EXPECT_EQ(p.Width, 640);
  EXPECT_EQ(p.Height, 385);
  EXPECT_EQ(p.Left, (1280 - 640) / 2);
  EXPECT_EQ(p.Top, (1024 - 385 - 20) / 2);
  EXPECT_EQ(p.WindowsState, kShowNormal);

  // Past the right and bottom edges: pulled back so that the window ends at the edge.
  p = LoadPlacement(Profile({{"Left", "1000"}, {"Top", "900"}, {"WindowsState", "3"}}), screen, 34);
  EXPECT_EQ(p.Left, 1280 - 640);
  EXPECT_EQ(p.Top, 1024 - 385 - 34);
  EXPECT_EQ(p.WindowsState, kShowMaximized);
  // Negative positions become 0; values that are not numbers are the defaults.
  p = LoadPlacement(Profile({{"Left", "-50"}, {"Top", "-1"}, {"Width", "wide"}, {"WindowsState", "0"}}), screen, 20);
  EXPECT_EQ(p.Left, 0);
  EXPECT_EQ(p.Top, 0);
  EXPECT_EQ(p.Width, 640);
  EXPECT_EQ(p.WindowsState, kShowNormal);  // 0 would hide the dialog
  // A window larger than the screen is shrunk to fit it, band included.
  p = LoadPlacement(Profile({{"Width", "5000"}, {"Height", "3000"}}), screen, 20);
  EXPECT_EQ(p.Width, 1280);
  EXPECT_EQ(p.Height, 1024 - 20);
  EXPECT_EQ(p.Left, 0);
  EXPECT_EQ(p.Top, 0);
}

TEST(ErrorDialogRules, CollapsedSizeGrowsWithTheWidestLineUpTo640) {
  const TSystemFrame frame{3, 3, 15};
  const int margin = 2 * 3 + 58, limit = 640 - margin;
  // Short lines: the minimum width.
  TCollapsedSize size = CollapsedSize({{60, 13}, {100, 13}}, frame);
  EXPECT_EQ(size.WindowWidth, 250);
  EXPECT_EQ(size.TextWidth, 250 - margin);
  EXPECT_EQ(size.TextHeight, 26);
  EXPECT_EQ(size.WindowHeight, 0 + 2 * 2 + 88 + 15);
  // A medium line: its width plus 16 plus the margin.
  size = CollapsedSize({{300, 13}, {100, 13}}, frame);
  EXPECT_EQ(size.WindowWidth, 300 + 16 + margin);
  // A line wider than the limit wraps: one more line height per limit exceeded, never wider than 640.
  size = CollapsedSize({{2 * limit + 10, 13}, {100, 13}}, frame);
  EXPECT_EQ(size.WindowWidth, 640);
  const int extra = (2 * limit + 10 + 16 - limit) / limit + 1;
  EXPECT_EQ(size.TextHeight, extra * 13 + 13 + 13);
  EXPECT_EQ(size.WindowHeight, std::max(size.TextHeight - 39, 0) + 4 + 88 + 15);

  EXPECT_EQ(CollapsedMeasureLines("one\r\ntwo\nthree", "send", "copy"),
            (std::vector<std::string>{"one", "two", "three", "send    copy"}));
}

TEST(ErrorDialogRules, LayoutPlacesTheControlsAboveTheBand) {
  const TDialogLayout l = LayoutFor(600, 400, 34);
  const int y = 400 - 34 - 32;
  EXPECT_EQ(l.Tabs, (TControlBox{4, 52, 592, 400 - 90 - 34}));
  EXPECT_EQ(l.Ok, (TControlBox{(600 - 75) / 2, y, 75, 25}));
  EXPECT_EQ(l.Terminate, (TControlBox{5, y, 75, 25}));
  EXPECT_EQ(l.Details, (TControlBox{520, y, 75, 25}));
  EXPECT_EQ(l.Send, (TControlBox{4, y + 34, 296, 13}));
  EXPECT_EQ(l.Copy, (TControlBox{600 - 296 - 4, y + 34, 296, 13}));
  EXPECT_EQ(l.Screenshot, (TControlBox{23, y + 50, 577, 13}));
  // Buttons whose (translated) texts need more room keep their places at the centre and the edges.
  EXPECT_EQ(ButtonWidthFor(40), 75);
  EXPECT_EQ(ButtonWidthFor(100), 116);
  const TDialogLayout wide = LayoutFor(600, 400, 34, {90, 80, 120});
  EXPECT_EQ(wide.Ok, (TControlBox{255, y, 90, 25}));
  EXPECT_EQ(wide.Terminate, (TControlBox{5, y, 80, 25}));
  EXPECT_EQ(wide.Details, (TControlBox{475, y, 120, 25}));
  EXPECT_EQ(CheckBoxBand(true, true), 34);
  EXPECT_EQ(CheckBoxBand(true, false), 20);
  EXPECT_EQ(CheckBoxBand(false, true), 20);
  EXPECT_FALSE(TerminateButtonShown(true, 3, 3));
  EXPECT_TRUE(TerminateButtonShown(true, 4, 3));
  EXPECT_FALSE(TerminateButtonShown(false, 4, 3));
}

TEST(ErrorDialogRules, ListCellsAndIcons) {
  EXPECT_EQ(ShortVersion("4.5.4.0"), "4.5.x");
  EXPECT_EQ(ShortVersion("6.0.2900.2180"), "6.0.x");
  EXPECT_EQ(ShortVersion("10.2"), "10.2");
  EXPECT_EQ(ShortVersion(""), "");
  EXPECT_EQ(SizeInKb(0), "0 Kb");
  EXPECT_EQ(SizeInKb(511), "0 Kb");
  EXPECT_EQ(SizeInKb(512), "0 Kb");       // half: to even
  EXPECT_EQ(SizeInKb(1536), "2 Kb");      // half: to even
  EXPECT_EQ(SizeInKb(2560), "2 Kb");      // half: to even
  EXPECT_EQ(SizeInKb(2561), "3 Kb");
  EXPECT_EQ(SizeInKb(0xFFFFFFFFu), "4194304 Kb");
  EXPECT_EQ(ModuleIcon("C:\\app\\Prog.EXE"), kIconVcl);
  EXPECT_EQ(ModuleIcon("C:\\x.dir\\vcl70.bpl"), kIconBpl);
  EXPECT_EQ(ModuleIcon("pkg.Dpl"), kIconBpl);
  EXPECT_EQ(ModuleIcon("C:\\windows\\system32\\kernel32.dll"), kIconDll);
  EXPECT_EQ(ModuleIcon("C:\\a.exe\\noext"), kIconDll);

  TCrashModuleInfo program, package, library, odd;
  program.ModuleKind = kModuleProgram;
  program.FileName = "Z:\\build\\app.exe";
  package.ModuleKind = kModulePackage;
  library.ModuleKind = kModuleLibrary;
  odd.ModuleKind = 7;
  auto entry = [](std::uint8_t kind, TCrashModuleInfo* module) {
    TCrashDebugInfo e;
    e.LocationKind = kind;
    e.Module = module;
    return e;
  };
  EXPECT_FALSE(ShowsInCallStackList(entry(kLocationUnknown, nullptr)));
  EXPECT_FALSE(ShowsInCallStackList(entry(kLocationModule, &library)));
  EXPECT_TRUE(ShowsInCallStackList(entry(kLocationExport, &library)));
  EXPECT_TRUE(ShowsInCallStackList(entry(kLocationExportUnit, &package)));
  EXPECT_FALSE(ShowsInCallStackList(entry(kLocationExportUnit, &program)));
  EXPECT_TRUE(ShowsInCallStackList(entry(kLocationDebugInfo, &program)));
  EXPECT_EQ(CallStackIcon(entry(kLocationDebugInfo, &library)), kIconPas);
  EXPECT_EQ(CallStackIcon(entry(kLocationExport, &program)), kIconVcl);
  EXPECT_EQ(CallStackIcon(entry(kLocationExport, &package)), kIconBpl);
  EXPECT_EQ(CallStackIcon(entry(kLocationExport, &library)), kIconDll);
  EXPECT_EQ(CallStackIcon(entry(kLocationExportUnit, &odd)), kIconPas);

  TCrashDebugInfo e = entry(kLocationDebugInfo, &program);
  e.Address = 0x4012AB;
  e.UnitName = "main.cpp";
  e.ClassName = "TForm1";
  e.ProcedureName = "Timer1Timer";
  EXPECT_EQ(CallStackCells(e), (std::array<std::string, 6>{"004012AB", "app.exe", "main.cpp", "TForm1", "Timer1Timer", ""}));
  e.Line = 42;
  EXPECT_EQ(CallStackCells(e)[5], "42");
  EXPECT_EQ(CallStackColumnKey(5), "Col5");
  EXPECT_EQ(ModuleColumnKey(0), "ColMod0");
}

TEST(ErrorDialogRules, ReproduceTextAndIdeMessage) {
  EXPECT_EQ(TrimReproduceText(" \t\r\nopen a file\r\nclick start \x01\r\n  "), "open a file\r\nclick start");
  EXPECT_EQ(TrimReproduceText("\xD6\xD0\xCE\xC4"), "\xD6\xD0\xCE\xC4");  // GBK bytes are no blanks
  EXPECT_EQ(TrimReproduceText(" \t "), "");

  const auto message = IdeSourceLocationMessage("main_form.cpp", 0x01020304);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(message.data())), "main_form.cpp");
  for (std::size_t i = 13; i < 2048; ++i) ASSERT_EQ(message[i], 0) << i;
  EXPECT_EQ(message[2048], 0x04);
  EXPECT_EQ(message[2051], 0x01);
  // A name longer than the field is cut and stays terminated.
  const auto longName = IdeSourceLocationMessage(std::string(3000, 'u'), 7);
  EXPECT_EQ(longName[2046], 'u');
  EXPECT_EQ(longName[2047], 0);
  EXPECT_EQ(longName[2048], 7);
}

TEST(ErrorDialogRules, CaptionGradientDarkensByFourPercentPerStep) {
  EXPECT_EQ(CaptionColors(true).GradientStart, 130u | 154u << 8 | 194u << 16);
  const auto steps = CaptionGradient(CaptionColors(true).GradientStart, 17);
  ASSERT_EQ(steps.size(), 3u);
  // 130 * 0.96 = 124.8 -> 125; 154 * 0.96 = 147.84 -> 148; 194 * 0.96 = 186.24 -> 186.
  EXPECT_EQ(steps[0], 125u | 148u << 8 | 186u << 16);
  // 125 * 0.96 = 120; 148 * 0.96 = 142.08 -> 142; 186 * 0.96 = 178.56 -> 179.
  EXPECT_EQ(steps[1], 120u | 142u << 8 | 179u << 16);
  EXPECT_TRUE(CaptionGradient(0, 4).empty());
}

}  // namespace
}  // namespace pelloran::crashlog
