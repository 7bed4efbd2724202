#include "crashlog/infra/diagnostics/trace.h"
#include "base/exceptions.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <fstream>
#include <climits>

namespace pelloran::crashlog {
namespace {

using pelloran::testing::FileExists;
using pelloran::testing::ReadWholeFile;
using pelloran::testing::RunProgram;
using pelloran::testing::ScratchFolder;
using pelloran::testing::SiblingProgram;

TLocalTime FixedClock() noexcept { return {2026, 12, 7, 9, 5, 3, 250}; }

TTraceLog::TSetup TraceSetup(TTraceSwitches switches, std::string logPath = {}) {
  TTraceLog::TSetup setup;
  setup.Switches = switches;
  setup.LogPath = std::move(logPath);
  setup.Clock = &FixedClock;
  return setup;
}

TEST(TraceArgs, EachKindInItsOwnForm) {
  const TTraceFormatSettings settings;
  const Exception error("x");
  const Exception* noError = nullptr;
  const char* noText = nullptr;
  EXPECT_EQ(FormatTraceArgs({42, -7, 4000000000u, LLONG_MIN}, settings), "(42, -7, 4000000000, -9223372036854775808)");
  EXPECT_EQ(FormatTraceArgs({true, false, 'q'}, settings), "(True, False, q)");
  EXPECT_EQ(FormatTraceArgs({"a", std::string("b c"), std::string_view("d"), noText}, settings), "('a', 'b c', 'd', '')");
  EXPECT_EQ(FormatTraceArgs({reinterpret_cast<const void*>(0x4AB0), nullptr}, settings), "($00004AB0, nil)");
  EXPECT_EQ(FormatTraceArgs({&error, noError, TraceArg::ObjectNamed("TFoo")}, settings), "(Exception, nil, TFoo)");
  EXPECT_EQ(FormatTraceArgs({TUnknownTraceValue{}}, settings), "(Unknown)");
  EXPECT_EQ(FormatTraceArgs({}, settings), "");
}

TEST(TraceArgs, FloatsInTheGeneralFormat) {
  EXPECT_EQ(FormatFloatGeneral(1.5, "."), "1.5");
  EXPECT_EQ(FormatFloatGeneral(-0.25, ","), "-0,25");
  EXPECT_EQ(FormatFloatGeneral(100, "."), "100");
  EXPECT_EQ(FormatFloatGeneral(0.1, "."), "0.1");           // 15 digits hide the binary error
  EXPECT_EQ(FormatFloatGeneral(1.0 / 3, "."), "0.333333333333333");
  EXPECT_EQ(FormatFloatGeneral(0.00001, "."), "0.00001");   // smallest fixed one
  EXPECT_EQ(FormatFloatGeneral(0.000001, "."), "1E-6");
  EXPECT_EQ(FormatFloatGeneral(123456789012345.0, "."), "123456789012345");
  EXPECT_EQ(FormatFloatGeneral(1.5e15, "."), "1.5E15");
  EXPECT_EQ(FormatFloatGeneral(0, "."), "0");
  EXPECT_EQ(FormatFloatGeneral(DBL_MAX * 2, "."), "INF");
}

TEST(TraceArgs, CurrencyPlacesSymbolSignAndGroups) {
  TTraceFormatSettings settings;  // "$", 2 decimals, "$1" and "($1)"
  EXPECT_EQ(FormatCurrency({12345678}, settings), "$1,234.57");
  EXPECT_EQ(FormatCurrency({-5000}, settings), "($0.50)");
  EXPECT_EQ(FormatCurrency({0}, settings), "$0.00");
  settings.CurrencySymbol = "EUR";
  settings.DecimalSeparator = ",";
  settings.ThousandSeparator = ".";
  settings.CurrencyFormat = 3;
  settings.NegativeCurrencyFormat = 8;
  EXPECT_EQ(FormatCurrency({-12345678900}, settings), "-1.234.567,89 EUR");
  settings.CurrencyDecimals = 0;
  EXPECT_EQ(FormatCurrency({15000}, settings), "2 EUR");  // 1.5 rounds away from zero
  EXPECT_EQ(FormatCurrency({LLONG_MIN}, settings), "-922.337.203.685.478 EUR");
  EXPECT_EQ(FormatTraceArgs({TCurrency{10000}}, TTraceFormatSettings{}), "($1.00)");
}

TEST(TraceStamp, DayMonthTwoDigitYearAndTime) {
  EXPECT_EQ(FormatTraceStamp({2026, 12, 7, 9, 5, 3, 999}), "07/12/26 09:05:03");
  EXPECT_EQ(FormatTraceStamp({2000, 1, 31, 23, 59, 59, 0}), "31/01/00 23:59:59");
}

TEST(TraceLines, EntryIndentsTheNextLinesAndExitStepsBack) {
  TTraceLog log(TraceSetup({true, false}));
  log.Write("TCrashModuleOptions.Assign", {"a", "b"}, 2);
  log.Write("Inner", {}, 0);
  log.Write("TCrashModuleOptions.Assign=", {true}, -2);
  log.Write("After", {}, 0);
  const std::vector<std::string> expected = {
      "07/12/26 09:05:03  TCrashModuleOptions.Assign('a', 'b')",
      "07/12/26 09:05:03    Inner",
      "07/12/26 09:05:03  TCrashModuleOptions.Assign=(True)",
      "07/12/26 09:05:03  After",
  };
  EXPECT_EQ(log.Lines(), expected);
  // Stepping out further than in stops at no indentation.
  log.Write("Unbalanced=", {}, -6);
  EXPECT_EQ(log.Indentation(), "");
  EXPECT_EQ(log.Lines().back(), "07/12/26 09:05:03  Unbalanced=");
}

TEST(TraceLines, NothingIsWrittenWhileTheTraceIsOff) {
  TTraceLog log(TraceSetup({false, false}));
  EXPECT_FALSE(log.Enabled());
  log.Write("Ignored", {1}, 2);
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(log.Indentation(), "");
  EXPECT_FALSE(log.Save());

  TTraceLog::TSetup underDebugger = TraceSetup({false, false});
  underDebugger.DebuggerAttached = true;
  EXPECT_TRUE(TTraceLog(underDebugger).Enabled());
}

TEST(TraceSwitches, OnlyASwitchWordThatNamesNoPathCarriesThem) {
  EXPECT_FALSE(ReadTraceSwitches("").Debug);
  EXPECT_TRUE(ReadTraceSwitches("-debug").Debug);
  EXPECT_FALSE(ReadTraceSwitches("-debug").Save);
  EXPECT_TRUE(ReadTraceSwitches("/xSaVe").Save);
  EXPECT_FALSE(ReadTraceSwitches("/xSaVe").Debug);
  const TTraceSwitches both = ReadTraceSwitches("/DeBuG+save");
  EXPECT_TRUE(both.Debug && both.Save);
  // Not switch words: a path holding the words, a bare word, an existing file named like a switch.
  for (const char* path : {"D:\\Debug\\save\\a.rm", "C:\\Debug Save\\b.rmvb", "debug+save", "Z:/debug-save.rm"}) {
    const TTraceSwitches none = ReadTraceSwitches(path);
    EXPECT_FALSE(none.Debug || none.Save) << path;
  }
  const TTraceSwitches file = ReadTraceSwitches("-debug-save", true);
  EXPECT_FALSE(file.Debug || file.Save);
}

TEST(TraceFile, SavedBesideTheModuleWithTheLogExtension) {
  EXPECT_EQ(ChangeFileExtension("C:\\app\\prog.exe", ".log"), "C:\\app\\prog.log");
  EXPECT_EQ(ChangeFileExtension("C:\\app.d\\prog", ".log"), "C:\\app.d\\prog.log");
  EXPECT_EQ(ChangeFileExtension("lib.v2.dll", ".log"), "lib.v2.log");
  // "\xC7\x5C" is one double-byte character whose second byte equals '\': it ends no folder.
  EXPECT_EQ(ChangeFileExtension("C:\\app\\v1.\xC7\x5C", ".log"), "C:\\app\\v1.log");
  EXPECT_EQ(ChangeFileExtension("C:\\a.b\\\xC7\x5C", ".log"), "C:\\a.b\\\xC7\x5C.log");
  EXPECT_EQ(ChangeFileExtension("C:\\\xC7\x5C.d\\prog", ".log"), "C:\\\xC7\x5C.d\\prog.log");
}

TEST(TraceFile, DebugAndSaveRewriteTheFileOnEveryLine) {
  ScratchFolder folder;
  const std::string path = folder.File("trace.log");
  TTraceLog both(TraceSetup({true, true}, path));
  both.Write("First", {}, 2);
  EXPECT_EQ(ReadWholeFile(path), "07/12/26 09:05:03  First\r\n");
  both.Write("First=", {}, -2);
  EXPECT_EQ(ReadWholeFile(path), "07/12/26 09:05:03  First\r\n07/12/26 09:05:03  First=\r\n");
  // Changed by someone else in between: the next line brings back the whole trace.
  { std::ofstream(path, std::ios::binary) << "changed"; }
  both.Write("Second", {}, 0);
  EXPECT_EQ(ReadWholeFile(path), "07/12/26 09:05:03  First\r\n07/12/26 09:05:03  First=\r\n07/12/26 09:05:03  Second\r\n");
  // A long trace: after each line the file is the whole trace.
  for (int i = 0; i < 300; ++i) both.Write("Step", {i}, 0);
  std::string whole;
  for (const std::string& line : both.Lines()) whole += line + "\r\n";
  EXPECT_EQ(ReadWholeFile(path), whole);

  // DEBUG alone traces but writes only when asked to.
  const std::string debugPath = folder.File("debug.log");
  TTraceLog debugOnly(TraceSetup({true, false}, debugPath));
  debugOnly.Write("Line", {}, 0);
  EXPECT_FALSE(FileExists(debugPath));
  EXPECT_TRUE(debugOnly.Save());
  EXPECT_EQ(ReadWholeFile(debugPath), "07/12/26 09:05:03  Line\r\n");

  // SAVE under a debugger: the trace runs, but lines are not written one by one.
  const std::string savePath = folder.File("save.log");
  TTraceLog::TSetup saveSetup = TraceSetup({false, true}, savePath);
  saveSetup.DebuggerAttached = true;
  TTraceLog saveOnly(saveSetup);
  saveOnly.Write("Line", {}, 0);
  EXPECT_FALSE(FileExists(savePath));
}

// The process trace reads its switches from the real command line of a program.
TEST(TraceFile, SwitchesOfTheLastCommandLineParameter) {
  ScratchFolder folder;
  const std::string probe = folder.File("probe.exe");
  ASSERT_TRUE(CopyFileA(SiblingProgram("crashlog_diag_probe.exe").c_str(), probe.c_str(), FALSE));
  const std::string log = folder.File("probe.log");

  EXPECT_EQ(RunProgram("\"" + probe + "\" trace /xsave"), 0u);
  EXPECT_FALSE(FileExists(log));
  EXPECT_EQ(RunProgram("\"" + probe + "\" trace -Debug"), 0u);
  EXPECT_FALSE(FileExists(log));
  EXPECT_EQ(RunProgram("\"" + probe + "\" trace \"/dEbUg SaVe\""), 12u);  // the file grows line by line
  const std::string text = ReadWholeFile(log);
  EXPECT_NE(text.find("  Probe(1, a)\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Probe=(True)\r\n"), std::string::npos) << text;
  // Only the last parameter counts.
  DeleteFileA(log.c_str());
  EXPECT_EQ(RunProgram("\"" + probe + "\" trace -debugsave last"), 0u);
  EXPECT_FALSE(FileExists(log));
  // A file (or folder) of that name is a file, not a switch; so is a path holding the words.
  const std::string named = folder.File("-debug-save");
  { std::ofstream(named, std::ios::binary) << "x"; }
  const DWORD fromFile = RunProgram("\"" + probe + "\" trace -debug-save", folder.Path());
  EXPECT_EQ(fromFile, 0u);
  EXPECT_EQ(RunProgram("\"" + probe + "\" trace \"D:\\Debug Save\\clip.rm\""), 0u);
  EXPECT_FALSE(FileExists(log));
}

}  // namespace
}  // namespace pelloran::crashlog
