#include "crashlog/machine/machine_text.h"

#include "base/ansi_path.h"
#include "crashlog/infra/diagnostics/diagnostics_exception.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace pelloran::crashlog {

namespace {

constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string_view TrimSpacesAndControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string ControlCharsToSpaces(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  return result;
}

std::string MailZoneText(int biasMinutes) {
  const int offset = -biasMinutes;
  const int magnitude = offset < 0 ? -offset : offset;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d%02d", offset < 0 ? '-' : '+', magnitude / 60 % 100, magnitude % 60);
  return zone;
}

int DayOfWeek(int year, int month, int day) {
  static constexpr int kMonthOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 1 || month > 12) return 0;
  if (month < 3) --year;
  const int weekday = (year + year / 4 - year / 100 + year / 400 + kMonthOffsets[month - 1] + day) % 7;
  return weekday < 0 ? weekday + 7 : weekday;
}

std::string FormatMailDate(const TLocalTime& time, int biasMinutes) {
  const int month = time.Month >= 1 && time.Month <= 12 ? time.Month : 1;
  char text[96];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %s", kDayNames[DayOfWeek(time.Year, month, time.Day)],
                time.Day, kMonthNames[month - 1], time.Year, time.Hour, time.Minute, time.Second,
                MailZoneText(biasMinutes).c_str());
  return text;
}

std::string FileNameOf(std::string_view path) { return std::string(AnsiFileNamePart(path)); }

std::string QuoteParameters(const std::vector<std::string>& parameters) {
  std::string text;
  for (const std::string& parameter : parameters) {
    if (!text.empty()) text += ' ';
    text += '"' + parameter + '"';
  }
  return text;
}

std::string ExceptionAddressText(std::uintptr_t address) {
  if (address == 0) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(address));
  return text;
}

std::string ExceptionTypeFact(std::string_view storedType, const TExceptionObjectInfo& object) {
  if (!storedType.empty()) return std::string(storedType);
  if (object.HasObject && !object.ClassName.empty()) return object.ClassName;
  return std::string(kUnknownExceptionType);
}

std::string ExceptionMessageFact(std::string_view storedMessage, const TExceptionObjectInfo& object) {
  std::string message = !storedMessage.empty() ? std::string(storedMessage) : ExceptionMessageText(object);
  if (!message.empty() && message.back() != '.') message += '.';
  return message;
}

std::string MegabytesText(std::uint64_t bytes) {
  constexpr std::uint64_t kMiB = 1u << 20;
  std::uint64_t whole = bytes / kMiB;
  const std::uint64_t rest = bytes % kMiB;
  if (rest > kMiB / 2 || (rest == kMiB / 2 && whole % 2 == 1)) ++whole;
  return std::to_string(whole) + " Mb";
}

std::string GigabytesText(std::uint64_t bytes, std::string_view decimalSeparator) {
  // Integer arithmetic throughout: exact for any disk size, no binary rounding surprises.
  constexpr unsigned kShift = 30;
  const std::uint64_t whole = bytes >> kShift;
  const std::uint64_t rest = bytes & ((std::uint64_t{1} << kShift) - 1);
  const std::uint64_t hundredths = whole * 100 + ((rest * 100 + (std::uint64_t{1} << (kShift - 1))) >> kShift);
  std::string text = std::to_string(hundredths / 100);
  const unsigned fraction = static_cast<unsigned>(hundredths % 100);
  if (fraction != 0) {
    text += decimalSeparator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text + " Gb";
}

std::string DriveRoot(std::string_view path) {
  std::string_view drive;
  if (path.size() >= 2 && path[1] == ':') {
    drive = path.substr(0, 2);
  } else if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/')) {
    // \\server\share: up to the separator after the share name.
    const std::size_t serverEnd = path.find_first_of("\\/", 2);
    if (serverEnd != std::string_view::npos) {
      const std::size_t shareEnd = path.find_first_of("\\/", serverEnd + 1);
      drive = path.substr(0, shareEnd == std::string_view::npos ? path.size() : shareEnd);
    }
  }
  return std::string(drive) + "\\";
}

std::string OperatingSystemName(const TOsVersion& version) {
  const std::string_view servicePack = TrimSpacesAndControls(version.ServicePack);
  if (version.Platform == kPlatform9x) {
    if (version.Minor < 10) return servicePack == "B" ? "Microsoft Windows 95 OSR 2" : "Microsoft Windows 95";
    if (version.Minor < 90) return servicePack == "A" ? "Microsoft Windows 98 SE" : "Microsoft Windows 98";
    if (version.Minor == 90) return "Microsoft Windows ME";
    return {};
  }
  if (version.Platform != kPlatformNT) return {};
  // Servers share their version numbers with the workstation of the same generation.
  const bool server = version.ProductType != kProductWorkstation;
  auto pick = [server](const char* workstation, const char* serverName) {
    return std::string(server ? serverName : workstation);
  };
  const std::uint32_t major = version.Major, minor = version.Minor;
  if (major == 4) return "Microsoft Windows NT 4.0";
  if (major == 5 && minor == 0) return "Microsoft Windows 2000";
  if (major == 5 && minor == 1) return "Microsoft Windows XP";
  // 5.2 on a workstation is the 64-bit edition of XP.
  if (major == 5 && minor == 2) return pick("Microsoft Windows XP", "Microsoft Windows 2003");
  if (major == 6 && minor == 0) return pick("Microsoft Windows Vista", "Microsoft Windows Server 2008");
  if (major == 6 && minor == 1) return pick("Microsoft Windows 7", "Microsoft Windows Server 2008 R2");
  if (major == 6 && minor == 2) return pick("Microsoft Windows 8", "Microsoft Windows Server 2012");
  if (major == 6 && minor == 3) return pick("Microsoft Windows 8.1", "Microsoft Windows Server 2012 R2");
  if (major == 10 && minor == 0) {
    // Windows 11 kept version 10.0; only the build tells it apart, and the servers by theirs.
    if (!server) return version.Build >= 22000 ? "Microsoft Windows 11" : "Microsoft Windows 10";
    if (version.Build >= 26100) return "Microsoft Windows Server 2025";
    if (version.Build >= 20348) return "Microsoft Windows Server 2022";
    if (version.Build >= 17763) return "Microsoft Windows Server 2019";
    return "Microsoft Windows Server 2016";
  }
  return {};
}

std::string OperatingSystemBuild(const TOsVersion& version) {
  return std::to_string(version.Platform == kPlatform9x ? version.Build & 0xFFFF : version.Build);
}

std::string OperatingSystemUpdate(const TOsVersion& version) {
  return std::string(TrimSpacesAndControls(version.ServicePack));
}

std::uint16_t LanguageIdOfLocale(std::string_view locale) {
  const std::string lastFour(locale.size() > 4 ? locale.substr(locale.size() - 4) : locale);
  char* end = nullptr;
  const unsigned long value = std::strtoul(lastFour.c_str(), &end, 16);
  return lastFour.empty() || *end != '\0' ? 0 : static_cast<std::uint16_t>(value);
}

}  // namespace pelloran::crashlog
