#include "crashlog/machine/machine_text.h"
#include "crashlog/infra/diagnostics/version_facts.h"

#include <gtest/gtest.h>

namespace pelloran::crashlog {
namespace {

TEST(ControlChars, EveryCodeBelow32BecomesOneSpace) {
  EXPECT_EQ(ControlCharsToSpaces("a\tb\r\nc\x01\x1F" "d"), "a b  c  d");
  EXPECT_EQ(ControlCharsToSpaces(" ~\x7F\xB2\xE2"), " ~\x7F\xB2\xE2");  // space, DEL and GBK bytes stay
  EXPECT_EQ(ControlCharsToSpaces(""), "");
}

TEST(MailDate, ZoneWithItsMinutes) {
  EXPECT_EQ(MailZoneText(-480), "+0800");
  EXPECT_EQ(MailZoneText(300), "-0500");
  EXPECT_EQ(MailZoneText(0), "+0000");
  EXPECT_EQ(MailZoneText(-330), "+0530");  // India
  EXPECT_EQ(MailZoneText(-345), "+0545");  // Nepal
  EXPECT_EQ(MailZoneText(570), "-0930");   // Marquesas
  EXPECT_EQ(MailZoneText(-30), "+0030");
  EXPECT_EQ(MailZoneText(240), "-0400");   // New York in summer
  EXPECT_EQ(MailZoneText(-780), "+1300");
  EXPECT_EQ(MailZoneText(720), "-1200");
}

TEST(MailDate, EnglishNamesWhateverTheLocale) {
  EXPECT_EQ(FormatMailDate({2026, 12, 7, 9, 5, 3, 999}, -480), "Mon, 7 Dec 2026 09:05:03 +0800");
  EXPECT_EQ(FormatMailDate({2000, 2, 29, 23, 59, 59, 0}, 300), "Tue, 29 Feb 2000 23:59:59 -0500");
  EXPECT_EQ(FormatMailDate({2024, 1, 1, 0, 0, 0, 0}, 0), "Mon, 1 Jan 2024 00:00:00 +0000");
  EXPECT_EQ(FormatMailDate({1999, 10, 31, 12, 30, 0, 0}, -330), "Sun, 31 Oct 1999 12:30:00 +0530");
  const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  for (int day = 6; day <= 12; ++day)  // 6 Dec 2026 is a Sunday
    EXPECT_EQ(FormatMailDate({2026, 12, day, 1, 2, 3, 0}, 0).substr(0, 3), days[day - 6]);
  const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int month = 1; month <= 12; ++month)
    EXPECT_EQ(FormatMailDate({2026, month, 15, 1, 2, 3, 0}, 0).substr(8, 3), months[month - 1]);
}

TEST(Parameters, EachInDoubleQuotesSeparatedBySpaces) {
  EXPECT_EQ(QuoteParameters({"a", "b c"}), "\"a\" \"b c\"");
  EXPECT_EQ(QuoteParameters({""}), "\"\"");
  EXPECT_EQ(QuoteParameters({}), "");
}

TEST(VersionResource, FourNumbersAndTheDescriptionQuery) {
  EXPECT_EQ(FileVersionText(0x0002000A, 0x0003002D), "2.10.3.45");
  EXPECT_EQ(FileVersionText(0xFFFF0000, 0x00000001), "65535.0.0.1");
  EXPECT_EQ(FileVersionText(0, 0), "");
  EXPECT_EQ(FileDescriptionQuery(0x0804, 936), "\\StringFileInfo\\080403A8\\FileDescription");
  EXPECT_EQ(FileDescriptionQuery(0x0409, 0x04B0), "\\StringFileInfo\\040904B0\\FileDescription");
  EXPECT_EQ(FileNameOf("C:\\app\\Pelloran.exe"), "Pelloran.exe");
  EXPECT_EQ(FileNameOf("Pelloran.exe"), "Pelloran.exe");
  // "\xC7\x5C" is one double-byte character whose second byte equals '\'.
  EXPECT_EQ(FileNameOf("C:\\app\\\xC7\x5C.exe"), "\xC7\x5C.exe");
  EXPECT_EQ(FileNameOf("C:\\\xC7\x5C\\\xC7\x5C"), "\xC7\x5C");
  EXPECT_EQ(FileNameOf("C:\xC7\x5C"), "\xC7\x5C");
}

TEST(ExceptionFacts, AddressTypeAndMessage) {
  EXPECT_EQ(ExceptionAddressText(0x0040ABCD), "0040ABCD");
  EXPECT_EQ(ExceptionAddressText(0), "");

  TExceptionObjectInfo ours{true, "EConvertError", true, false, true, "'x' is not a valid integer value"};
  TExceptionObjectInfo standard{true, "std::runtime_error", false, false, true, "disk full"};
  TExceptionObjectInfo thrownInt{true, "int", false, false, false, ""};
  TExceptionObjectInfo none;
  EXPECT_EQ(ExceptionTypeFact("EPeerError", ours), "EPeerError");  // stored at capture wins
  EXPECT_EQ(ExceptionTypeFact("", ours), "EConvertError");
  EXPECT_EQ(ExceptionTypeFact("", none), "Unknown exception type.");

  EXPECT_EQ(ExceptionMessageFact("", ours), "'x' is not a valid integer value.");  // a full stop is added
  EXPECT_EQ(ExceptionMessageFact("Stored.", ours), "Stored.");                      // not doubled
  EXPECT_EQ(ExceptionMessageFact("", standard), "disk full.");  // what() of a standard exception
  EXPECT_EQ(ExceptionMessageFact("", thrownInt), "Unknown error message.");
  EXPECT_EQ(ExceptionMessageFact("", none), "Unknown error message.");
  TExceptionObjectInfo silent{true, "Exception", true, false, true, ""};
  EXPECT_EQ(ExceptionMessageFact("", silent), "");  // an empty message stays empty
  // Several lines become one in the report.
  EXPECT_EQ(ControlCharsToSpaces(ExceptionMessageFact("Line 1\r\nLine 2", none)), "Line 1  Line 2.");
}

TEST(ComputerFacts, MemoryInWholeMebibytesHalfToEven) {
  constexpr std::uint64_t kMiB = 1 << 20;
  EXPECT_EQ(MegabytesText(2047 * kMiB), "2047 Mb");
  EXPECT_EQ(MegabytesText(2 * kMiB + kMiB / 2), "2 Mb");      // half: to the even 2
  EXPECT_EQ(MegabytesText(3 * kMiB + kMiB / 2), "4 Mb");      // half: to the even 4
  EXPECT_EQ(MegabytesText(3 * kMiB + kMiB / 2 - 1), "3 Mb");
  EXPECT_EQ(MegabytesText(2 * kMiB + kMiB / 2 + 1), "3 Mb");
  EXPECT_EQ(MegabytesText(0), "0 Mb");
  EXPECT_EQ(MegabytesText(0xFFFFFFFFu), "4096 Mb");
}

TEST(ComputerFacts, DiskInGibibytesWithUpToTwoDecimals) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  EXPECT_EQ(GigabytesText(kGiB + kGiB / 2, "."), "1.5 Gb");
  EXPECT_EQ(GigabytesText(40 * kGiB, "."), "40 Gb");
  EXPECT_EQ(GigabytesText(kGiB * 1256 / 1000, "."), "1.26 Gb");
  EXPECT_EQ(GigabytesText(kGiB + kGiB / 2, ","), "1,5 Gb");  // the locale's separator
  EXPECT_EQ(GigabytesText(kGiB * 1005 / 1000, "."), "1 Gb");  // 1.00499...: no trailing zeros
  EXPECT_EQ(GigabytesText(kGiB * 999 / 1000, "."), "1 Gb");   // rounds up to the next whole
  EXPECT_EQ(GigabytesText(kGiB / 8 * 9, "."), "1.13 Gb");     // exactly 1.125: half goes up
  EXPECT_EQ(GigabytesText(0, "."), "0 Gb");
  EXPECT_EQ(GigabytesText(kGiB / 1000, "."), "0 Gb");
  EXPECT_EQ(GigabytesText(~std::uint64_t{0}, "."), "17179869184 Gb");
}

TEST(ComputerFacts, RootOfTheProgramsDriveOrShare) {
  EXPECT_EQ(DriveRoot("C:\\Program Files\\app.exe"), "C:\\");
  EXPECT_EQ(DriveRoot("z:\\tmp\\a.exe"), "z:\\");
  EXPECT_EQ(DriveRoot("\\\\server\\share\\dir\\app.exe"), "\\\\server\\share\\");
  EXPECT_EQ(DriveRoot("\\\\server\\share"), "\\\\server\\share\\");
  EXPECT_EQ(DriveRoot("app.exe"), "\\");
}

TEST(OperatingSystem, NamesFromTheVersionTable) {
  auto name = [](std::uint32_t platform, std::uint32_t major, std::uint32_t minor, const char* servicePack) {
    return OperatingSystemName({platform, major, minor, 0, servicePack});
  };
  EXPECT_EQ(name(1, 4, 0, " B "), "Microsoft Windows 95 OSR 2");
  EXPECT_EQ(name(1, 4, 0, "C"), "Microsoft Windows 95");
  EXPECT_EQ(name(1, 4, 10, "A"), "Microsoft Windows 98 SE");
  EXPECT_EQ(name(1, 4, 10, ""), "Microsoft Windows 98");
  EXPECT_EQ(name(1, 4, 89, "A "), "Microsoft Windows 98 SE");
  EXPECT_EQ(name(1, 4, 90, ""), "Microsoft Windows ME");
  EXPECT_EQ(name(1, 4, 91, ""), "");
  EXPECT_EQ(name(2, 4, 0, "Service Pack 6"), "Microsoft Windows NT 4.0");
  EXPECT_EQ(name(2, 5, 0, ""), "Microsoft Windows 2000");
  EXPECT_EQ(name(2, 5, 1, ""), "Microsoft Windows XP");
  EXPECT_EQ(name(2, 5, 3, ""), "");
  EXPECT_EQ(name(2, 6, 4, ""), "");
  EXPECT_EQ(name(2, 11, 0, ""), "");
  EXPECT_EQ(name(0, 3, 10, ""), "");
}

TEST(OperatingSystem, NewerSystemsByVersionBuildAndProductType) {
  auto name = [](std::uint32_t major, std::uint32_t minor, std::uint32_t build, std::uint32_t productType) {
    return OperatingSystemName({kPlatformNT, major, minor, build, "", productType});
  };
  constexpr std::uint32_t workstation = 1, domainController = 2, server = 3;
  EXPECT_EQ(name(5, 2, 3790, workstation), "Microsoft Windows XP");  // the 64-bit edition
  EXPECT_EQ(name(5, 2, 3790, server), "Microsoft Windows 2003");
  EXPECT_EQ(name(6, 0, 6002, workstation), "Microsoft Windows Vista");
  EXPECT_EQ(name(6, 0, 6002, server), "Microsoft Windows Server 2008");
  EXPECT_EQ(name(6, 1, 7601, workstation), "Microsoft Windows 7");
  EXPECT_EQ(name(6, 1, 7601, domainController), "Microsoft Windows Server 2008 R2");
  EXPECT_EQ(name(6, 2, 9200, workstation), "Microsoft Windows 8");
  EXPECT_EQ(name(6, 2, 9200, server), "Microsoft Windows Server 2012");
  EXPECT_EQ(name(6, 3, 9600, workstation), "Microsoft Windows 8.1");
  EXPECT_EQ(name(6, 3, 9600, server), "Microsoft Windows Server 2012 R2");
  EXPECT_EQ(name(10, 0, 19045, workstation), "Microsoft Windows 10");
  EXPECT_EQ(name(10, 0, 21999, workstation), "Microsoft Windows 10");
  EXPECT_EQ(name(10, 0, 22000, workstation), "Microsoft Windows 11");
  EXPECT_EQ(name(10, 0, 26100, workstation), "Microsoft Windows 11");
  EXPECT_EQ(name(10, 0, 14393, server), "Microsoft Windows Server 2016");
  EXPECT_EQ(name(10, 0, 17763, server), "Microsoft Windows Server 2019");
  EXPECT_EQ(name(10, 0, 20348, domainController), "Microsoft Windows Server 2022");
  EXPECT_EQ(name(10, 0, 26100, server), "Microsoft Windows Server 2025");
}

TEST(OperatingSystem, BuildAndUpdate) {
  EXPECT_EQ(OperatingSystemBuild({2, 6, 1, 7601, ""}), "7601");
  EXPECT_EQ(OperatingSystemBuild({1, 4, 10, 0x040A08AE, ""}), "2222");  // 9x: low word only
  EXPECT_EQ(OperatingSystemUpdate({2, 5, 1, 2600, " \tService Pack 3\r\n"}), "Service Pack 3");
  EXPECT_EQ(OperatingSystemUpdate({2, 5, 1, 2600, ""}), "");
}

TEST(OperatingSystem, LanguageIdentifierIsTheLocalesLastFourDigits) {
  EXPECT_EQ(LanguageIdOfLocale("00000804"), 0x0804);
  EXPECT_EQ(LanguageIdOfLocale("00010407"), 0x0407);
  EXPECT_EQ(LanguageIdOfLocale("0409"), 0x0409);
  EXPECT_EQ(LanguageIdOfLocale("zz"), 0);
}

}  // namespace
}  // namespace pelloran::crashlog
