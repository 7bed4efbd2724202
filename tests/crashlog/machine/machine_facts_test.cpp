#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/machine/machine.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>

namespace pelloran::crashlog {
namespace {

using pelloran::testing::RunProgramCapturing;
using pelloran::testing::SiblingProgram;

const std::regex kMailDate(
    "(Sun|Mon|Tue|Wed|Thu|Fri|Sat), [0-9]{1,2} (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
    "[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}");

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The zone of the system clock. ctest runs this test again under several TZ settings, naming the
// zone text expected for each; the plain run has no expectation.
TEST(SystemZone, MailDateCarriesTheZoneOfTheSystem) {
  const std::string expected = EnvironmentValue("PELLORAN_EXPECTED_ZONE");
  const std::string date = FormatMailDate(TLocalTime{2026, 12, 7, 9, 5, 3, 0});
  EXPECT_TRUE(std::regex_match(date, kMailDate)) << date;
  if (expected.empty()) GTEST_SKIP() << "no zone named for this run";
  EXPECT_EQ(date, "Mon, 7 Dec 2026 09:05:03 " + expected);
  EXPECT_EQ(ExceptionDate(TLocalTime{2026, 12, 7, 9, 5, 3, 0}), date);
  // A summer date carries the summer offset of zones that have one.
  EXPECT_EQ(FormatMailDate(TLocalTime{2026, 7, 15, 12, 0, 0, 0}),
            "Wed, 15 Jul 2026 12:00:00 " + EnvironmentValue("PELLORAN_EXPECTED_SUMMER_ZONE"));
}

TEST(ApplicationFacts, StartDateInMailDateForm) {
  const std::string start = ApplicationStartDate();
  EXPECT_TRUE(std::regex_match(start, kMailDate)) << start;
  RecordApplicationStartTime();
  EXPECT_TRUE(std::regex_match(ApplicationStartDate(), kMailDate));
}

TEST(ApplicationFacts, DescriptionAndVersionFromTheVersionResource) {
  EXPECT_EQ(ApplicationNameDescription(), "Pelloran machine facts test");
  EXPECT_EQ(ApplicationVersionNumber(), "2.10.3.45");
}

TEST(ApplicationFacts, FileNameWhenTheResourceSaysNothing) {
  // A program without any version resource.
  const std::string bare = SiblingProgram("crashlog_diag_probe.exe");
  EXPECT_EQ(NameDescriptionOf(bare), "crashlog_diag_probe.exe");
  EXPECT_EQ(ReadVersionFacts(bare).Version, "");
  EXPECT_EQ(ReadVersionFacts(bare).Description, "");
  // One whose resource has an empty description and version 0.0.0.0, asked about itself.
  std::string output;
  EXPECT_EQ(RunProgramCapturing("\"" + SiblingProgram("crashlog_machine_probe.exe") + "\" name", output), 0u);
  EXPECT_EQ(output, "crashlog_machine_probe.exe|");
}

TEST(ApplicationFacts, ParametersAsTheRunTimeLibrarySplitThem) {
  EXPECT_EQ(ApplicationParameters(), "");  // the test itself runs without parameters
  std::string output;
  const std::string probe = "\"" + SiblingProgram("crashlog_machine_probe.exe") + "\"";
  EXPECT_EQ(RunProgramCapturing(probe + " params a \"b c\"", output), 0u);
  EXPECT_EQ(output, "\"params\" \"a\" \"b c\"");
  EXPECT_EQ(RunProgramCapturing(probe + " params \"\" x\\\"y \"\xD6\xD0\xCE\xC4.rm\"", output), 0u);
  EXPECT_EQ(output, "\"params\" \"\" \"x\"y\" \"\xD6\xD0\xCE\xC4.rm\"");  // GBK text passes unchanged
}

int FunctionInThisProgram() { return 1; }

TEST(ExceptionFacts, ModuleOfTheAddress) {
  EXPECT_EQ(ExceptionModule(reinterpret_cast<const void*>(&FunctionInThisProgram)), "crashlog_machine_tests.exe");
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto inKernel = reinterpret_cast<const void*>(GetProcAddress(kernel, "GetTickCount"));
  EXPECT_STRCASEEQ(ExceptionModule(inKernel).c_str(), "kernel32.dll");
  // Memory that belongs to no module, and an address in no memory at all.
  const auto block = std::make_unique<int[]>(1000);
  EXPECT_EQ(ExceptionModule(block.get()), "");
  EXPECT_EQ(ExceptionModule(reinterpret_cast<const void*>(0x10)), "");
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(reserved, nullptr);
  EXPECT_EQ(ExceptionModule(reserved), "");
  VirtualFree(reserved, 0, MEM_RELEASE);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

TEST(WindowFacts, ClassAndTitleOfTheForegroundWindow) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &PlainWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TPelloranFactsForm";
  ASSERT_NE(RegisterClassA(&windowClass), 0);
  ScopedWindow window(CreateWindowExA(0, "TPelloranFactsForm", "Job\tlist\r\n\xCE\xC4\xBC\xFE",
                                      WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 200, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr));
  ASSERT_TRUE(window);
  SetForegroundWindow(window.get());
  ASSERT_EQ(GetForegroundWindow(), window.get());
  EXPECT_EQ(ForegroundFormClass(), "TPelloranFactsForm");
  EXPECT_EQ(ForegroundFormText(), "Job list  \xCE\xC4\xBC\xFE");

  // A title longer than the 255 characters read.
  SetWindowTextA(window.get(), std::string(300, 'T').c_str());
  EXPECT_EQ(ForegroundFormText(), std::string(255, 'T'));
  SetWindowTextA(window.get(), "");
  EXPECT_EQ(ForegroundFormText(), "");
  window.reset();
  UnregisterClassA("TPelloranFactsForm", GetModuleHandleA(nullptr));

  EXPECT_EQ(ControlClassFact("TEdit"), "TEdit");
  EXPECT_EQ(ControlTextFact("two\r\nlines"), "two  lines");
}

TEST(ComputerFacts, NamesOfComputerAndUser) {
  EXPECT_EQ(ComputerNameFact(), EnvironmentValue("COMPUTERNAME").substr(0, 15));
  EXPECT_FALSE(ComputerNameFact().empty());
  EXPECT_EQ(UserNameFact(), EnvironmentValue("USERNAME"));
  EXPECT_FALSE(UserNameFact().empty());
}

TEST(ComputerFacts, MemoryAndDiskFigures) {
  const std::regex megabytes("[0-9]+ Mb");
  const std::string total = TotalMemoryFact();
  const std::string free = FreeMemoryFact();
  EXPECT_TRUE(std::regex_match(total, megabytes)) << total;
  EXPECT_TRUE(std::regex_match(free, megabytes)) << free;
  EXPECT_GE(std::stoll(total), std::stoll(free));
  // The machine's own figure (Wine reads the host's /proc/meminfo, in kB): true also beyond the
  // 2 GB that the plain memory status reports to a 32-bit program.
  std::ifstream meminfo("Z:\\proc\\meminfo");
  std::string label;
  long long kilobytes = 0;
  while (meminfo >> label && label != "MemTotal:") meminfo.ignore(1 << 10, '\n');
  ASSERT_TRUE(meminfo >> kilobytes) << "no MemTotal in /proc/meminfo";
  EXPECT_NEAR(std::stoll(total), kilobytes / 1024.0, 1.0);

  // The program lives on a drive the system can measure; "." is the session's decimal separator.
  const std::regex gigabytes("[0-9]+(\\.[0-9]?[1-9])? Gb");
  const std::string disk = TotalDiskFact();
  const std::string diskFree = FreeDiskFact();
  EXPECT_TRUE(std::regex_match(disk, gigabytes)) << disk;
  EXPECT_TRUE(std::regex_match(diskFree, gigabytes)) << diskFree;
  EXPECT_GE(std::stod(disk), std::stod(diskFree));
  ULARGE_INTEGER freeToCaller{}, size{}, totalFree{};
  ASSERT_TRUE(GetDiskFreeSpaceExA(DriveRoot(ModuleFileName(nullptr)).c_str(), &freeToCaller, &size, &totalFree));
  EXPECT_NEAR(std::stod(disk), static_cast<double>(size.QuadPart) / (1 << 30), 0.0051);
}

// Wine reports the version named for the program in its AppDefaults key (what `winecfg -v` sets
// for all programs), read when a process starts.
class TWineVersionOf {
 public:
  TWineVersionOf(const std::string& program, const char* version)
      : key_("Software\\Wine\\AppDefaults\\" + program) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != 0)
      return;
    set_ = RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                          static_cast<DWORD>(std::strlen(version) + 1)) == 0;
    RegCloseKey(key);
  }
  ~TWineVersionOf() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }
  bool Set() const { return set_; }

 private:
  std::string key_;
  bool set_ = false;
};

TEST(OperatingSystemFacts, TheSystemIsNamedByTheVersionItReports) {
  // The session's default: Windows 7 SP1, whatever the compatibility shim says.
  EXPECT_EQ(OperatingSystemType(), "Microsoft Windows 7");
  EXPECT_EQ(OperatingSystemBuildNumber(), "7601");
  EXPECT_EQ(OperatingSystemUpdateText(), "Service Pack 1");

  // Other systems, as Wine plays them for the probe (the versions Wine 8 knows). Windows 10:
  // GetVersionEx says 6.2 to a program that declares no support for it; the name comes from the
  // real version. Windows XP x64 shares 5.2 with Server 2003: the product type tells them apart.
  struct TCase {
    const char* WineVersion;
    const char* Expected;  // "Type|Build #|Update"
  };
  const TCase cases[] = {
      {"winxp", "Microsoft Windows XP|2600|Service Pack 3"},
      {"winxp64", "Microsoft Windows XP|3790|Service Pack 2"},
      {"win2003", "Microsoft Windows 2003|3790|Service Pack 2"},
      {"vista", "Microsoft Windows Vista|6002|Service Pack 2"},
      {"win2008", "Microsoft Windows Server 2008|6002|Service Pack 2"},
      {"win8", "Microsoft Windows 8|9200|"},
      {"win81", "Microsoft Windows 8.1|9600|"},
      {"win10", "Microsoft Windows 10|18362|"},
  };
  const std::string probe = "\"" + SiblingProgram("crashlog_machine_probe.exe") + "\" os";
  for (const TCase& c : cases) {
    TWineVersionOf version("crashlog_machine_probe.exe", c.WineVersion);
    ASSERT_TRUE(version.Set());
    std::string output;
    EXPECT_EQ(RunProgramCapturing(probe, output), 0u);
    EXPECT_EQ(output, c.Expected) << c.WineVersion;
  }
}

TEST(OperatingSystemFacts, LanguageOfTheSystemsDefaultLocale) {
  EXPECT_EQ(GetSystemDefaultLangID(), 0x0804);  // the test session runs in Chinese (PRC)
  char expected[256] = {};
  GetLocaleInfoA(MAKELCID(0x0804, SORT_DEFAULT), LOCALE_SLANGUAGE, expected, sizeof expected);
  EXPECT_EQ(OperatingSystemLanguage(), expected);
  EXPECT_FALSE(OperatingSystemLanguage().empty());
}

}  // namespace
}  // namespace pelloran::crashlog
