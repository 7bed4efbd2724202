// The call stack table of a long stack: a recursion shown once with a row saying how often it
// ran, a long stack cut to its first and last hundred rows, fold rows as wide as the table's rule
// with their text in the procedure cell, and a whole report of a deep recursion well under its
// size bound. Expected rows are written out here from those rules.
#include "crashlog/capture/call_stack_text.h"
#include "crashlog/capture/report_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelloran::crashlog {
namespace {

using TKind = TStackTableRow::TKind;

// The rows as short words: "f3" a frame, "r2x7" two rows repeated 7 times, "o250" rows left out.
std::vector<std::string> Words(const std::vector<TStackTableRow>& rows) {
  std::vector<std::string> words;
  for (const TStackTableRow& row : rows) {
    switch (row.Kind) {
      case TKind::Frame: words.push_back("f" + std::to_string(row.Frame)); break;
      case TKind::Repeat: words.push_back("r" + std::to_string(row.Rows) + "x" + std::to_string(row.Times)); break;
      case TKind::LeftOut: words.push_back("o" + std::to_string(row.Rows)); break;
    }
  }
  return words;
}
using TWords = std::vector<std::string>;

TEST(FoldStackRows, ARecursionIsShownOnceWithHowOftenItRan) {
  // Fault, then 5000 frames of one procedure, then its callers.
  std::vector<std::uint32_t> addresses = {0x100};
  addresses.insert(addresses.end(), 5000, 0x200);
  addresses.insert(addresses.end(), {0x300, 0x400});
  EXPECT_EQ(Words(FoldStackRows(addresses)), (TWords{"f0", "f1", "r1x5000", "f5001", "f5002"}));

  // Two procedures calling each other, entered from a third.
  addresses = {0x100, 0x900};
  for (int i = 0; i < 300; ++i) addresses.insert(addresses.end(), {0x200, 0x300});
  addresses.push_back(0x400);
  EXPECT_EQ(Words(FoldStackRows(addresses)), (TWords{"f0", "f1", "f2", "f3", "r2x300", "f602"}));

  // A run of three within a longer cycle: the cycle that saves the most rows wins.
  addresses.clear();
  for (int i = 0; i < 4; ++i) addresses.insert(addresses.end(), {0xA, 0xA, 0xA, 0xB});
  EXPECT_EQ(Words(FoldStackRows(addresses)), (TWords{"f0", "f1", "f2", "f3", "r4x4"}));

  // A frame seen twice in a row is no recursion worth a row; two frames twice are.
  EXPECT_EQ(Words(FoldStackRows(std::vector<std::uint32_t>{1, 2, 2, 3})), (TWords{"f0", "f1", "f2", "f3"}));
  EXPECT_EQ(Words(FoldStackRows(std::vector<std::uint32_t>{1, 2, 3, 2, 3})), (TWords{"f0", "f1", "f2", "r2x2"}));
  EXPECT_TRUE(FoldStackRows({}).empty());
}

TEST(FoldStackRows, MoreThanTwoHundredRowsKeepTheFirstAndLastHundred) {
  std::vector<std::uint32_t> addresses;
  for (std::uint32_t i = 0; i < 200; ++i) addresses.push_back(0x1000 + i);
  EXPECT_EQ(FoldStackRows(addresses).size(), 200u);  // 200 rows stay as they are
  for (std::uint32_t i = 200; i < 450; ++i) addresses.push_back(0x1000 + i);
  TWords expected;
  for (int i = 0; i < 100; ++i) expected.push_back("f" + std::to_string(i));
  expected.push_back("o250");
  for (int i = 350; i < 450; ++i) expected.push_back("f" + std::to_string(i));
  EXPECT_EQ(Words(FoldStackRows(addresses)), expected);

  // A folded run and its row stay together on either side of the cut: here rows 98 to 100 of the
  // head and 150 to 152 of the tail would have been cut apart.
  addresses.clear();
  for (std::uint32_t i = 0; i < 98; ++i) addresses.push_back(0x1000 + i);
  for (int i = 0; i < 9; ++i) addresses.insert(addresses.end(), {0xAA, 0xBB});
  for (std::uint32_t i = 0; i < 50; ++i) addresses.push_back(0x2000 + i);
  for (int i = 0; i < 9; ++i) addresses.insert(addresses.end(), {0xCC, 0xDD});
  for (std::uint32_t i = 0; i < 99; ++i) addresses.push_back(0x3000 + i);
  const std::vector<TStackTableRow> rows = FoldStackRows(addresses);
  const TWords words = Words(rows);
  // 98 + 3 + 50 + 3 + 99 = 253 rows: the head ends before the first group, the tail starts after
  // the second one.
  ASSERT_EQ(words.size(), 98u + 1 + 99);
  EXPECT_EQ(words[97], "f97");
  EXPECT_EQ(words[98], "o56");
  EXPECT_EQ(words[99], "f" + std::to_string(98 + 18 + 50 + 18));
}

TEST(CallStackTable, FoldRowsAreRowsAsWideAsTheRuleWithTheirTextAsProcedure) {
  TCrashModuleInfo program;
  program.FileName = "C:\\app\\Pelloran.exe";
  TCrashStackList stack = {{kLocationDebugInfo, &program, 0x00401010, "overflow.cpp", "", "Recurse", 12}};
  stack.insert(stack.end(), 7800, {kLocationDebugInfo, &program, 0x00401020, "overflow.cpp", "", "Recurse", 13});
  stack.push_back({kLocationDebugInfo, &program, 0x00401100, "overflow.cpp", "", "Start", 30});
  const TCrashOptionValues options;
  const std::string text = ComposeListsText(options, stack, {});
  const std::string rule(8 + 12 + 12 + 5 + 34 + 4 + 7, '-');
  const std::string expected =
      "Call Stack Information:\r\n" + rule + "\r\n" +
      "|Address |Module      |Unit        |Class|Procedure/Method                  |Line|\r\n" + rule + "\r\n" +
      "|00401010|Pelloran.exe|overflow.cpp|     |Recurse                           |12  |\r\n"
      "|00401020|Pelloran.exe|overflow.cpp|     |Recurse                           |13  |\r\n"
      "|        |            |            |     |(the row above, 7800 times in all)|    |\r\n"
      "|00401100|Pelloran.exe|overflow.cpp|     |Start                             |30  |\r\n" +
      rule + "\r\n\r\n";
  ASSERT_EQ(text.substr(0, expected.size()), expected);
}

TEST(CallStackTable, TheReportOfADeepRecursionStaysSmall) {
  TCrashModuleInfo program;
  program.FileName = "C:\\app\\Pelloran.exe";
  TCrashStackList stack;
  // A recursion of four procedures with template names of thousands of bytes, 3000 rounds deep,
  // under 450 distinct callers.
  const std::string longName(5000, 'n');
  for (int round = 0; round < 3000; ++round)
    for (std::uint32_t i = 0; i < 4; ++i)
      stack.push_back({kLocationDebugInfo, &program, 0x00402000 + i, "unit.cpp", "TClass", longName + "r", 7});
  for (std::uint32_t i = 0; i < 450; ++i)
    stack.push_back({kLocationDebugInfo, &program, 0x00500000 + i, "unit.cpp", "TClass", longName, 9});
  TReportInputs inputs;
  inputs.CallStack = stack;
  TReportState state;
  const std::string& report = state.BuildReport(TCrashOptionValues{}, inputs);
  EXPECT_LT(report.size(), 256u * 1024);
  EXPECT_NE(report.find("(the 4 rows above, 3000 times in all)"), std::string::npos);
  EXPECT_NE(report.find("(" + std::to_string(4 + 1 + 450 - 200) + " rows left out)"), std::string::npos);
}

TEST(CallStackTable, FoldRowsSayWhatTheOptionsSay) {
  using TKind = TStackTableRow::TKind;
  const TCrashOptionValues english;
  EXPECT_EQ(FoldRowText({TKind::Repeat, 0, 1, 5}, english), "(the row above, 5 times in all)");
  EXPECT_EQ(FoldRowText({TKind::LeftOut, 0, 1, 0}, english), "(1 row left out)");
  TCrashOptionValues own;
  own.StackRepeatOneRow = "(上一行共 %1 次)";
  own.StackRepeatRows = "(上面 %1 行共 %2 次)";
  own.StackLeftOutOneRow = "(略去 1 行)";
  own.StackLeftOutRows = "(略去 %1 行)";
  EXPECT_EQ(FoldRowText({TKind::Repeat, 0, 1, 5}, own), "(上一行共 5 次)");
  EXPECT_EQ(FoldRowText({TKind::Repeat, 0, 3, 7}, own), "(上面 3 行共 7 次)");
  EXPECT_EQ(FoldRowText({TKind::LeftOut, 0, 1, 0}, own), "(略去 1 行)");
  EXPECT_EQ(FoldRowText({TKind::LeftOut, 0, 250, 0}, own), "(略去 250 行)");
  EXPECT_EQ(FoldRowText({TKind::Frame, 4, 0, 0}, own), "");
}

TEST(CallStackTable, ALongNameIsCutAtAWholeCharacter) {
  EXPECT_EQ(StackCellText(std::string(200, 'a')), std::string(200, 'a'));
  EXPECT_EQ(StackCellText(std::string(201, 'a')), std::string(197, 'a') + "...");
  // GBK: two bytes a character; 98 of them are 196 bytes, a 99th would pass 197.
  std::string gbk;
  for (int i = 0; i < 150; ++i) gbk += "\xB5\xDD";
  EXPECT_EQ(StackCellText("x" + gbk), "x" + gbk.substr(0, 196) + "...");
  EXPECT_EQ(StackCellText(gbk), gbk.substr(0, 196) + "...");
}

}  // namespace
}  // namespace pelloran::crashlog
