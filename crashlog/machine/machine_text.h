#pragma once
// Text forms of the facts a report gives about the application, the exception, the active window,
// the computer and the operating system. Everything here works on values already gathered, so
// that each form can be tested exactly; machine.h gathers the values.

#include "crashlog/infra/diagnostics/diagnostics_exception.h"
#include "crashlog/infra/diagnostics/diagnostics_time.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

// Every character below code 32 becomes one space.
std::string ControlCharsToSpaces(std::string_view text);

// The zone of an Internet mail date for a time-zone bias in minutes (UTC = local + bias), with its
// real minutes: "+0800", "-0500", "+0000", "+0530" for India, "-0930" for the Marquesas.
std::string MailZoneText(int biasMinutes);
// "Mon, 7 Dec 2026 09:05:03 +0800". Day and month names are English whatever the locale.
std::string FormatMailDate(const TLocalTime& time, int biasMinutes);
// 0 = Sunday .. 6 = Saturday, for a date of the Gregorian calendar.
int DayOfWeek(int year, int month, int day);

// The file name without its folder.
std::string FileNameOf(std::string_view path);

// Each parameter in double quotes, separated by single spaces.
std::string QuoteParameters(const std::vector<std::string>& parameters);

// 8 upper-case hex digits; "" for address 0.
std::string ExceptionAddressText(std::uintptr_t address);
// The type stored at capture, else the object's class name, else "Unknown exception type.".
std::string ExceptionTypeFact(std::string_view storedType, const TExceptionObjectInfo& object);
// The message stored at capture, else the message of one of the program's exceptions, else
// "Unknown error message."; a text that does not end in "." gets one. An empty message (one of
// the program's exceptions raised without text) stays empty: a lone "." would say nothing more.
std::string ExceptionMessageFact(std::string_view storedMessage, const TExceptionObjectInfo& object);

// Bytes as whole MiB (an exact half goes to the even neighbour) followed by " Mb".
std::string MegabytesText(std::uint64_t bytes);
// Bytes as GiB with up to two decimals ("0.##", half rounded up) followed by " Gb".
std::string GigabytesText(std::uint64_t bytes, std::string_view decimalSeparator);
// The root of the drive or network share of `path`, with "\" appended ("C:\", "\\srv\share\").
std::string DriveRoot(std::string_view path);

// What the system says about its version.
struct TOsVersion {
  std::uint32_t Platform = 0;  // 1: Windows 9x family, 2: Windows NT family
  std::uint32_t Major = 0;
  std::uint32_t Minor = 0;
  std::uint32_t Build = 0;
  std::string ServicePack;
  std::uint32_t ProductType = 1;  // NT family: 1 workstation, 2 domain controller, 3 server
};
inline constexpr std::uint32_t kPlatform9x = 1;
inline constexpr std::uint32_t kPlatformNT = 2;
inline constexpr std::uint32_t kProductWorkstation = 1;

// The system's name from its version and product type, from Windows 95 to Windows 11 and Server
// 2025; "" for a version no system has had.
std::string OperatingSystemName(const TOsVersion& version);
// The build number; the 9x family keeps its version in the high word, so only the low 16 bits.
std::string OperatingSystemBuild(const TOsVersion& version);
// The service-pack text without surrounding spaces and control characters.
std::string OperatingSystemUpdate(const TOsVersion& version);

// The language identifier of a locale given as hex digits ("00000804" -> 0x0804): its last four.
std::uint16_t LanguageIdOfLocale(std::string_view locale);

}  // namespace pelloran::crashlog
