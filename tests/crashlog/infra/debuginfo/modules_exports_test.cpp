// Export names, the export search and the code-size estimate (pure parts of the registry).
#include <gtest/gtest.h>

#include "crashlog/infra/debuginfo/modules_exports.h"

namespace pelloran::crashlog {
namespace {

TEST(ExportNames, DecoratedNamesGiveUnitClassAndProcedure) {
  auto p = ParseExportName("@Forms@TApplication@HandleException$qqrp14System@TObject");
  EXPECT_EQ(p.LocationKind, 3);
  EXPECT_EQ(p.UnitName, "Forms.cpp");
  EXPECT_EQ(p.ClassName, "TApplication");
  EXPECT_EQ(p.ProcedureName, "HandleException");

  p = ParseExportName("@Sysutils@Format$qqrx17System@AnsiString");
  EXPECT_EQ(p.LocationKind, 3);
  EXPECT_EQ(p.UnitName, "Sysutils.cpp");
  EXPECT_EQ(p.ClassName, "");
  EXPECT_EQ(p.ProcedureName, "Format");

  // The first "@@" keeps its second '@' as '_'; a trailing '@' goes.
  p = ParseExportName("@Unit@@Init@");
  EXPECT_EQ(p.LocationKind, 3);
  EXPECT_EQ(p.UnitName, "Unit.cpp");
  EXPECT_EQ(p.ProcedureName, "_Init");

  EXPECT_EQ(ParseExportName("@$xp$11TFoo").LocationKind, 1);       // type information, no code name
  EXPECT_EQ(ParseExportName("@A@B@C@D$qqrv").LocationKind, 1);      // too many parts
}

TEST(ExportNames, DottedAndPlainNames) {
  auto p = ParseExportName("Unit1.Proc");
  EXPECT_EQ(p.LocationKind, 3);
  EXPECT_EQ(p.UnitName, "Unit1.cpp");
  EXPECT_EQ(p.ClassName, "");
  EXPECT_EQ(p.ProcedureName, "Proc");

  p = ParseExportName("Unit1.TFoo.Bar@12");
  EXPECT_EQ(p.LocationKind, 3);
  EXPECT_EQ(p.ClassName, "TFoo");
  EXPECT_EQ(p.ProcedureName, "Bar");

  p = ParseExportName("GetVersion");
  EXPECT_EQ(p.LocationKind, 2);
  EXPECT_EQ(p.UnitName, "");
  EXPECT_EQ(p.ProcedureName, "GetVersion");

  EXPECT_EQ(ParseExportName("?Method@Class@@QAEXXZ").LocationKind, 1);  // another compiler's names
  EXPECT_EQ(ParseExportName("a.b.c.d").LocationKind, 1);
  EXPECT_EQ(ParseExportName("Unit.Name@8").ProcedureName, "Name");  // cut before the first '@'
}

TEST(ExportSearch, FindsTheHoldingEntryInclusiveOfItsEnd) {
  TCrashFunctionsList list = {{"a", 0x1000, 0x10}, {"b", 0x1020, 0x0}, {"c", 0x1030, 0x20}};
  EXPECT_EQ(FindExportIndex(list, 0x1000), 0);
  EXPECT_EQ(FindExportIndex(list, 0x1010), 0);  // Address + Size still belongs to it
  EXPECT_EQ(FindExportIndex(list, 0x1011), -1);
  EXPECT_EQ(FindExportIndex(list, 0x1020), 1);
  EXPECT_EQ(FindExportIndex(list, 0x1021), -1);
  EXPECT_EQ(FindExportIndex(list, 0x1050), 2);
  EXPECT_EQ(FindExportIndex(list, 0x0FFF), -1);
  EXPECT_EQ(FindExportIndex({}, 0x1000), -1);
  // Without overlaps the search alone answers, hits and misses alike.
  ASSERT_FALSE(ExportsOverlap(list));
  for (std::uint32_t a : {0x0FFFu, 0x1000u, 0x1010u, 0x1011u, 0x1020u, 0x1021u, 0x1050u, 0x1051u})
    EXPECT_EQ(FindExportIndex(list, a, false), FindExportIndex(list, a, true)) << std::hex << a;
  EXPECT_TRUE(ExportsOverlap({{"big", 0x100, 0x80}, {"small", 0x110, 0x4}}));
  EXPECT_TRUE(ExportsOverlap({{"one", 0x100, 8}, {"two", 0x108, 8}}));  // ends are inclusive
}

TEST(ExportSearch, OverlappingEntriesStillGiveAHoldingOne) {
  // "big" runs over the next entry; a lookup past "small" must not report "small".
  TCrashFunctionsList list = {{"big", 0x100, 0x80}, {"small", 0x110, 0x4}, {"next", 0x200, 0x10}};
  const int index = FindExportIndex(list, 0x150);
  ASSERT_GE(index, 0);
  EXPECT_EQ(list[index].Name, "big");
  // Aliases at one address: the first in list order.
  TCrashFunctionsList aliases = {{"one", 0x100, 8}, {"two", 0x100, 8}};
  EXPECT_EQ(FindExportIndex(aliases, 0x104), 0);
}

TEST(CodeSize, FrameProceduresEndAtLeaveOrPopThenReturn) {
  // push ebp; mov ebp,esp; ... (a C3 inside an operand is not the end) ... leave; ret
  const std::uint8_t frame[] = {0x55, 0x89, 0xE5, 0xB8, 0xC3, 0, 0, 0, 0xC9, 0xC3, 0x90};
  EXPECT_EQ(EstimateCodeSize(frame), 9u);
  const std::uint8_t popRet[] = {0x55, 0x89, 0xE5, 0x5D, 0xC2, 0x04, 0x00};
  EXPECT_EQ(EstimateCodeSize(popRet), 4u);
  const std::uint8_t plain[] = {0x83, 0xEC, 0x10, 0xCB};
  EXPECT_EQ(EstimateCodeSize(plain), 3u);
  const std::uint8_t none[] = {0x55, 0x90, 0x90};
  EXPECT_EQ(EstimateCodeSize(none), 1u);
  const std::uint8_t atEnd[] = {0x55, 0xC9};  // the return would lie beyond the code's end
  EXPECT_EQ(EstimateCodeSize(atEnd), 1u);
}

}  // namespace
}  // namespace pelloran::crashlog
