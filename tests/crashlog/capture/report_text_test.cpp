// The report text byte for byte, against texts written out here from the layout rules: the
// general section with every field, with fields switched off and GBK labels; the two tables with
// every location kind and with long labels; registers and memory dump; the parts joined; and the
// live values gathered from this process.
#include "crashlog/capture/log_item.h"
#include "crashlog/capture/report_gather.h"
#include "crashlog/capture/report_state.h"
#include "crashlog/infra/debuginfo/modules.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <initializer_list>

namespace pelloran::crashlog {
namespace {

// A finished section: the title, a "-" line as long as the longest (already padded) item line.
std::string Section(std::string_view title, std::initializer_list<std::string_view> items) {
  std::size_t longest = 1;
  for (std::string_view item : items) longest = std::max(longest, item.size());
  std::string text = std::string(title) + ":\r\n" + std::string(longest, '-') + "\r\n";
  for (std::string_view item : items) text.append(item).append("\r\n");
  return text;
}

TGeneralInputs SampleGeneral() {
  TGeneralInputs in;
  in.Facts = {"Mon, 7 Dec 2026 09:05:03 +0800", "Pelloran", "2.10.0.0", "\"a\" \"b c\"",
              "Mon, 7 Dec 2026 09:06:00 +0800", "Pelloran.exe", "TMainForm", "Pelloran", "TButton", "Start\r\nnow",
              "VM", "tester", "2047 Mb", "1024 Mb", "40 Gb", "1.5 Gb", "", "7601", "Service Pack 1",
              "Chinese (Simplified)"};
  in.Exception.Object = {true, "EInOutError", true, false, true, "Not found: \r\nC:\\x"};
  in.Exception.Address = 0x0040ABCD;
  return in;
}

const std::string kAllGeneral =
    "CrashLog 4.5.4\r\n\r\n" +
    Section("Application", {"  1.1 Start Date      : Mon, 7 Dec 2026 09:05:03 +0800", "  1.2 Name/Description: Pelloran",
                            "  1.3 Version Number  : 2.10.0.0", "  1.4 Parameters      : \"a\" \"b c\""}) +
    "\r\n" +
    Section("Exception", {"  2.1 Date   : Mon, 7 Dec 2026 09:06:00 +0800", "  2.2 Address: 0040ABCD",
                          "  2.3 Module : Pelloran.exe", "  2.4 Type   : EInOutError",
                          "  2.5 Message: Not found:   C:\\x."}) +
    "\r\n" +
    Section("Active Controls", {"  3.1 Form Class   : TMainForm", "  3.2 Form Text    : Pelloran",
                                "  3.3 Control Class: TButton", "  3.4 Control Text : Start  now"}) +
    "\r\n" +
    Section("Computer", {"  4.1 Name        : VM", "  4.2 User        : tester", "  4.3 Total Memory: 2047 Mb",
                         "  4.4 Free Memory : 1024 Mb", "  4.5 Total Disk  : 40 Gb", "  4.6 Free Disk   : 1.5 Gb"}) +
    "\r\n" +
    Section("Operating System", {"  5.1 Type    : ", "  5.2 Build # : 7601", "  5.3 Update  : Service Pack 1",
                                 "  5.4 Language: Chinese (Simplified)"});

TEST(GeneralSection, EveryFieldShownWithItsColonLinedUp) {
  const TCrashOptionValues options;
  const TGeneralText general = ComposeGeneralText(options, SampleGeneral());
  EXPECT_EQ(general.Text, kAllGeneral);
  EXPECT_EQ(general.Duplicate, (TDuplicateValues{"0040ABCD", "Pelloran.exe", "EInOutError", "Not found:   C:\\x."}));

  // Overrides from a peer module win over the object; without either, the fallback texts.
  TGeneralInputs in = SampleGeneral();
  in.Exception.TypeOverride = "EPeer";
  in.Exception.MessageOverride = "From the peer.";
  EXPECT_EQ(ComposeGeneralText(options, in).Duplicate,
            (TDuplicateValues{"0040ABCD", "Pelloran.exe", "EPeer", "From the peer."}));
  in.Exception = {};
  EXPECT_EQ(ComposeGeneralText(options, in).Duplicate,
            (TDuplicateValues{"", "Pelloran.exe", "Unknown exception type.", "Unknown error message."}));
}

TEST(GeneralSection, SwitchedOffFieldsLeaveGapsEmptySectionsVanishGbkCountsTwoColumns) {
  TCrashOptionValues options;
  // Off: Application|Name (1), Exception|Address (5), all Active Controls (9-12), every Computer
  // field but User (13, 15-18), all of Operating System (19-22).
  options.ReportFields &= ~(1u << 1 | 1u << 5 | 0xFu << 9 | 1u << 13 | 0x1Fu << 15 | 0xFu << 19);
  options.Texts[19] = "应用程序";
  options.Texts[20] = "启动时间";  // 8 bytes: "  1.1 启动时间" is 14 wide, "  1.3 Version Number" 20
  TGeneralInputs in = SampleGeneral();
  in.Facts.VersionNumber = "去广告 2.10";
  ASSERT_EQ(std::string("启动时间").size(), 8u);  // the test is compiled to GBK bytes
  const std::string expected =
      "CrashLog 4.5.4\r\n\r\n" +
      Section("应用程序", {"  1.1 启动时间      : Mon, 7 Dec 2026 09:05:03 +0800",
                           "  1.3 Version Number: 去广告 2.10", "  1.4 Parameters    : \"a\" \"b c\""}) +
      "\r\n" +
      Section("Exception", {"  2.1 Date   : Mon, 7 Dec 2026 09:06:00 +0800", "  2.3 Module : Pelloran.exe",
                            "  2.4 Type   : EInOutError", "  2.5 Message: Not found:   C:\\x."}) +
      "\r\n" + Section("Computer", {"  4.2 User: tester"}) + "\r\n";  // the empty line before the gone section stays
  EXPECT_EQ(ComposeGeneralText(options, in).Text, expected);

  // Active Controls exist only for programs with windows, whatever the bits say.
  in.GuiApplication = false;
  const std::string console = ComposeGeneralText(TCrashOptionValues{}, in).Text;
  EXPECT_EQ(console.find("Active Controls"), std::string::npos);
  EXPECT_NE(console.find("Exception:"), std::string::npos);
  options.ReportFields = 0;
  EXPECT_EQ(ComposeGeneralText(options, in).Text, "CrashLog 4.5.4\r\n\r\n");
}

// ---- the tables ----------------------------------------------------------------------------

struct TSampleStack {
  TCrashModuleInfo Program, Kernel;
  TCrashStackList Entries;
  TSampleStack() {
    Program.FileName = "C:\\app\\Pelloran.exe";
    Kernel.FileName = "C:\\windows\\system32\\kernel32.dll";
    Entries = {{kLocationDebugInfo, &Program, 0x0040ABCD, "batch_runner.cpp", "TMainForm", "Timer1Timer", 1234},
               {kLocationUnknown, nullptr, 0x11111111, "", "", "AVeryLongNameThatMustNotWidenAnyColumn", 0},
               {kLocationModule, &Kernel, 0x22222222, "", "", "", 0},
               {kLocationExport, &Kernel, 0x7B812345, "", "", "RaiseException", 0},
               {kLocationExportUnit, &Program, 0x00401000, "Forms.pas", "TApplication", "HandleException", 0},
               {kLocationDebugInfo, nullptr, 0x00500000, "lost.cpp", "", "Orphan", 7}};
  }
};

const std::vector<TModuleRow> kModuleRows = {
    {0x00400000, "Pelloran.exe", "Pelloran 去广告", "2.10.0.0", 123456, "C:\\app"},
    {0x7B800000, "kernel32.dll", "", "", 0, "C:\\windows\\system32"},
    {0x10000000, "x.dll", "", "", 5, "C:\\"}};

// Title, rule, header row, rule, rows, rule; the rule as long as the header row.
std::string Table(std::string_view title, std::string_view header, std::initializer_list<std::string_view> rows) {
  const std::string rule(header.size(), '-');
  std::string text = std::string(title) + ":\r\n" + rule + "\r\n" + std::string(header) + "\r\n" + rule;
  for (std::string_view row : rows) text.append("\r\n").append(row);
  return text + "\r\n" + rule;
}

const std::string kStackTable =
    Table("Call Stack Information", "|Address |Module      |Unit            |Class       |Procedure/Method|Line|",
          {"|0040ABCD|Pelloran.exe|batch_runner.cpp|TMainForm   |Timer1Timer     |1234|",
           "|7B812345|kernel32.dll|                |            |RaiseException  |    |",
           "|00401000|Pelloran.exe|Forms.pas       |TApplication|HandleException |    |",
           "|00500000|            |lost.cpp        |            |Orphan          |7   |"});
const std::string kModuleTable =
    Table("Modules Information", "|Handle  |Name        |Description    |Version |Size  |Path               |",
          {"|00400000|Pelloran.exe|Pelloran 去广告|2.10.0.0|123456|C:\\app             |",
           "|7B800000|kernel32.dll|               |        |0     |C:\\windows\\system32|",
           "|10000000|x.dll       |               |        |5     |C:\\                |"});

TEST(ListsText, NamedLocationsAndEveryModuleUnderLabelsThatMayWidenColumns) {
  const TSampleStack stack;
  TCrashOptionValues options;
  EXPECT_EQ(ComposeListsText(options, stack.Entries, kModuleRows), kStackTable + "\r\n\r\n" + kModuleTable);
  EXPECT_EQ(ComposeListsText(options, {}, {}),
            Table("Call Stack Information", "|Address |Module|Unit|Class|Procedure/Method|Line|", {}) + "\r\n\r\n" +
                Table("Modules Information", "|Handle  |Name|Description|Version|Size|Path|", {}));

  options.Texts[47] = "Code address";
  options.Texts[51] = "Procedure or method";
  options.Texts[62] = "Module handle";
  options.Texts[67] = "Folder";
  EXPECT_EQ(ComposeListsText(options, std::span(stack.Entries).first(1), std::span(kModuleRows).last(1)),
            Table("Call Stack Information",
                  "|Code address|Module      |Unit            |Class    |Procedure or method|Line|",
                  {"|0040ABCD    |Pelloran.exe|batch_runner.cpp|TMainForm|Timer1Timer        |1234|"}) +
                "\r\n\r\n" +
                Table("Modules Information", "|Module handle|Name |Description|Version|Size|Folder|",
                      {"|10000000     |x.dll|           |       |5   |C:\\   |"}));
  EXPECT_EQ(PadRight("abcdef", 4), "abcdef");  // a cell is never cut
}

// ---- registers and memory ------------------------------------------------------------------

TMemoryDump SampleDump() {
  TMemoryDump dump{0x0012FF00, 0x0040ABCD};
  for (std::size_t i = 0; i < dump.Stack.size(); ++i) dump.Stack[i] = static_cast<std::uint8_t>(0xA0 + i);
  for (std::size_t i = 0; i < dump.Code.size(); ++i) dump.Code[i] = static_cast<std::uint8_t>(i);
  return dump;
}

// The dump of SampleDump, line by line from the rule.
std::string SampleDumpLines() {
  std::string text;
  for (unsigned line = 0; line < 16; ++line) {
    char head[64];
    const unsigned b = 0xA0 + 4 * line;
    std::snprintf(head, sizeof head, "%08X: %02X%02X%02X%02X   %08X: ", 0x0012FF00 + 4 * line, b + 3, b + 2, b + 1, b,
                  0x0040ABCD + 16 * line);
    std::string chars;
    text += head;
    for (unsigned i = 16 * line; i < 16 * line + 16; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X ", i);
      text += hex;
      chars += (i < 32 || i > 126) ? '.' : static_cast<char>(i);
    }
    text += " " + chars + "\r\n";
  }
  return text;
}

std::string CpuHead(std::string_view eaxEdi, std::string_view ebxEsi, std::string_view ecxEsp, std::string_view edxEip) {
  return "Registers:\r\n-----------------------------\r\n" + std::string(eaxEdi) + "\r\n" + std::string(ebxEsi) +
         "\r\n" + std::string(ecxEsp) + "\r\n" + std::string(edxEip) + "\r\n\r\nStack:               Memory Dump:\r\n" +
         std::string(18, '-') + "   " + std::string(75, '-') + "\r\n";
}

TEST(CpuText, RegistersAndSixteenDumpLinesOrQuestionMarksAndNone) {
  std::array<std::uint8_t, kX86ContextSize> context{};
  // ContextFlags, EDI, ESI, EBX, EDX, ECX, EAX, EIP, ESP at their places in the x86 context.
  const std::pair<std::size_t, std::uint32_t> values[] = {{0x00, 0x10007}, {0x9C, 0xD1}, {0xA0, 0x51},
                                                          {0xA4, 0xB1},    {0xA8, 0xD0}, {0xAC, 0xC0},
                                                          {0xB0, 0xA0},    {0xB8, 0x0040ABC8}, {0xC4, 0x0012FF00}};
  for (const auto& [at, value] : values)
    for (int i = 0; i < 4; ++i) context[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  const TCrashOptionValues options;
  EXPECT_EQ(ComposeCpuText(options, {RegistersFromContext(context), SampleDump()}),
            CpuHead("EAX: 000000A0   EDI: 000000D1", "EBX: 000000B1   ESI: 00000051", "ECX: 000000C0   ESP: 0012FF00",
                    "EDX: 000000D0   EIP: 0040ABC8") +
                SampleDumpLines());
  EXPECT_EQ(SampleDumpLines().substr(0, 98),
            "0012FF00: A3A2A1A0   0040ABCD: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................\r\n");

  std::fill_n(context.begin(), 4, 0);  // ContextFlags 0: nothing was captured
  EXPECT_EQ(ComposeCpuText(options, {RegistersFromContext(context), std::nullopt}),
            CpuHead("EAX: ????   EDI: ????", "EBX: ????   ESI: ????", "ECX: ????   ESP: ????", "EDX: ????   EIP: ????"));
}

TEST(Report, PartsJoinedAndRebuiltAfterAnOverride) {
  const TSampleStack stack;
  const TCrashOptionValues options;
  TReportInputs in{SampleGeneral(), {std::nullopt, SampleDump()}, stack.Entries, kModuleRows};
  TReportState state;
  const std::string cpu = ComposeCpuText(options, in.Cpu);
  const std::string expected = kAllGeneral + "\r\n" + kStackTable + "\r\n\r\n" + kModuleTable + "\r\n\r\n" + cpu;
  EXPECT_EQ(state.BuildReport(options, in), expected);
  EXPECT_EQ(state.SendText, expected);
  EXPECT_EQ(PageIntro(options), options.Texts[3] + "\r\n\r\n");

  in.General.Exception.TypeOverride = "EPeerError";
  std::string rebuilt = expected;
  rebuilt.replace(rebuilt.find("  2.4 Type   : EInOutError"), 26, "  2.4 Type   : EPeerError");
  EXPECT_EQ(state.RebuildReport(options, in.General), rebuilt);
  EXPECT_EQ(state.SendText, rebuilt);
  EXPECT_EQ(state.DuplicateValues.Type, "EPeerError");
}

// ---- gathered from this process ------------------------------------------------------------

std::array<std::uint8_t, 256> g_code;

TEST(Gather, RegistersMemoryFactsAndModulesOfThisProcess) {
  for (std::size_t i = 0; i < g_code.size(); ++i) g_code[i] = static_cast<std::uint8_t>(i * 3);
  std::array<std::uint8_t, 64> stack;
  for (std::size_t i = 0; i < stack.size(); ++i) stack[i] = static_cast<std::uint8_t>(0xFF - i);
  const auto at = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
  CONTEXT context{};
  RtlCaptureContext(&context);
  TReportCapture capture;
  capture.Exception.Address = at(g_code.data());
  capture.StackStart = at(stack.data());
  capture.Context = &context;
  const TCpuInputs cpu = GatherCpuInputs(capture);
  ASSERT_TRUE(cpu.Registers.has_value() && cpu.Dump.has_value());
  EXPECT_EQ(cpu.Registers->Esp, context.Esp);
  EXPECT_EQ(cpu.Registers->Eip, context.Eip);
  EXPECT_EQ(cpu.Dump->Stack, stack);
  EXPECT_EQ(cpu.Dump->Code, g_code);

  // Unmapped memory, or 256 code bytes that run into a page without access: no dump.
  char* pages = static_cast<char*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(pages + 0x1000, 0x1000, PAGE_NOACCESS, &old));
  EXPECT_FALSE(ReadMemoryDump(0x1000, at(g_code.data())).has_value());
  EXPECT_FALSE(ReadMemoryDump(at(stack.data()), at(pages + 0x1000 - 255)).has_value());
  EXPECT_TRUE(ReadMemoryDump(at(stack.data()), at(pages + 0x1000 - 256)).has_value());
  VirtualFree(pages, 0, MEM_RELEASE);

  // Facts of switched-off fields are not gathered; the exception's module always is.
  const TGeneralInputs general = GatherGeneralInputs(capture, 1u << 13);
  EXPECT_FALSE(general.Facts.ComputerName.empty());
  EXPECT_TRUE(general.Facts.StartDate.empty() && general.Facts.OsLanguage.empty());
  EXPECT_EQ(general.Facts.ExceptionModule, "crashlog_report_text_tests.exe");
  EXPECT_FALSE(general.GuiApplication);  // a console program

  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  TCrashModulesList modules;
  ASSERT_NE(modules.FindModule(at(GetModuleHandleA(nullptr))), nullptr);
  const std::vector<TModuleRow> rows = ModuleRows(modules);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Handle, at(GetModuleHandleA(nullptr)));
  EXPECT_EQ(rows[0].Folder + "\\" + rows[0].Name, path);
}

}  // namespace
}  // namespace pelloran::crashlog
