// Facts about the computer and the operating system, read from the system.

#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/machine/fact_guard.h"
#include "crashlog/machine/machine.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace pelloran::crashlog {

namespace {

// The version the system itself reports. GetVersionEx answers what the program's manifest
// declares it supports (6.2 on every system after Windows 8); ntdll's RtlGetVersion is not shimmed.
std::optional<TOsVersion> ReadRealVersion() {
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const FARPROC address = ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (address == nullptr) return std::nullopt;
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void (*)()>(address));
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (rtlGetVersion(&info) != 0) return std::nullopt;
  TOsVersion version;
  version.Platform = info.dwPlatformId;
  version.Major = info.dwMajorVersion;
  version.Minor = info.dwMinorVersion;
  version.Build = info.dwBuildNumber;
  version.ProductType = info.wProductType;
  char servicePack[sizeof info.szCSDVersion] = {};
  if (WideCharToMultiByte(CP_ACP, 0, info.szCSDVersion, -1, servicePack, sizeof servicePack, nullptr, nullptr) > 0)
    version.ServicePack = servicePack;
  return version;
}

TOsVersion ReadSystemVersion() {
  if (std::optional<TOsVersion> real = ReadRealVersion()) return *real;
  // The 9x family has no RtlGetVersion.
  TOsVersion version;
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return version;
  version.Platform = info.dwPlatformId;
  version.Major = info.dwMajorVersion;
  version.Minor = info.dwMinorVersion;
  version.Build = info.dwBuildNumber;
  version.ServicePack = std::string(info.szCSDVersion, strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
  return version;
}

// Read once while the program starts.
[[maybe_unused]] const bool versionRead = (SystemVersion(), true);

struct DiskSpace {
  std::uint64_t Total = 0;
  std::uint64_t FreeToCaller = 0;
};

std::optional<DiskSpace> ProgramDiskSpace() {
  // Looked up by name: systems before it lack the function, and then there is no disk fact.
  using GetDiskFreeSpaceExFunction = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const FARPROC address = kernel != nullptr ? GetProcAddress(kernel, "GetDiskFreeSpaceExA") : nullptr;
  if (address == nullptr) return std::nullopt;
  const auto getDiskFreeSpaceEx = reinterpret_cast<GetDiskFreeSpaceExFunction>(reinterpret_cast<void (*)()>(address));
  const std::string root = DriveRoot(ModuleFileName(nullptr));
  ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
  if (!getDiskFreeSpaceEx(root.c_str(), &freeToCaller, &total, &totalFree)) return std::nullopt;
  return DiskSpace{total.QuadPart, freeToCaller.QuadPart};
}

std::string LocaleDecimalSeparator() {
  char text[8] = {};
  return GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) > 1 ? text : ".";
}

// The locale enumeration calls back without a context argument.
struct LanguageSearch {
  std::uint16_t Wanted = 0;
  bool WideQuery = true;
  std::string Name;
};
thread_local LanguageSearch* languageSearch = nullptr;

std::string FullLanguageName(LCID locale, bool wideQuery) {
  if (wideQuery) {
    wchar_t wide[1024] = {};
    if (GetLocaleInfoW(locale, LOCALE_SLANGUAGE, wide, 1024) == 0) return {};
    char ansi[2048] = {};
    const int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, nullptr);
    return length > 0 ? std::string(ansi) : std::string();
  }
  char ansi[1024] = {};
  return GetLocaleInfoA(locale, LOCALE_SLANGUAGE, ansi, sizeof ansi) > 0 ? std::string(ansi) : std::string();
}

BOOL CALLBACK TestLocale(LPSTR localeText) {
  LanguageSearch& search = *languageSearch;
  const std::string text = localeText != nullptr ? localeText : "";
  if (LanguageIdOfLocale(text) != search.Wanted) return TRUE;
  // The first locale of the default language ends the search; its name is the fact, provided
  // the locale has a language at all (an abbreviated name).
  const auto locale = static_cast<LCID>(std::strtoul(text.c_str(), nullptr, 16));
  char abbreviation[64] = {};
  GetLocaleInfoA(locale, LOCALE_SABBREVLANGNAME, abbreviation, sizeof abbreviation);
  if (abbreviation[0] != '\0') search.Name = FullLanguageName(locale, search.WideQuery);
  return FALSE;
}

}  // namespace

std::string ComputerNameFact() {
  return Fact([]() -> std::string {
    char name[16] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name) : std::string();
  });
}

std::string UserNameFact() {
  return Fact([]() -> std::string {
    char name[256] = {};
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? std::string(name) : std::string();
  });
}

// Physical memory in bytes: the extended status, whose 64-bit figures are true beyond 2 GB (the
// plain one caps both at 2 GB for a 32-bit program); the plain one only where the extended fails.
struct TPhysicalMemory {
  std::uint64_t Total = 0;
  std::uint64_t Available = 0;
};
TPhysicalMemory PhysicalMemory() {
  MEMORYSTATUSEX extended{};
  extended.dwLength = sizeof extended;
  if (GlobalMemoryStatusEx(&extended)) return {extended.ullTotalPhys, extended.ullAvailPhys};
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  return {status.dwTotalPhys, status.dwAvailPhys};
}

std::string TotalMemoryFact() {
  return Fact([] { return MegabytesText(PhysicalMemory().Total); });
}

std::string FreeMemoryFact() {
  return Fact([] { return MegabytesText(PhysicalMemory().Available); });
}

std::string TotalDiskFact() {
  return Fact([]() -> std::string {
    const auto space = ProgramDiskSpace();
    return space ? GigabytesText(space->Total, LocaleDecimalSeparator()) : std::string();
  });
}

std::string FreeDiskFact() {
  return Fact([]() -> std::string {
    const auto space = ProgramDiskSpace();
    return space ? GigabytesText(space->FreeToCaller, LocaleDecimalSeparator()) : std::string();
  });
}

const TOsVersion& SystemVersion() {
  static const TOsVersion version = ReadSystemVersion();
  return version;
}

std::string OperatingSystemType() {
  return Fact([] { return OperatingSystemName(SystemVersion()); });
}

std::string OperatingSystemBuildNumber() {
  return Fact([] { return OperatingSystemBuild(SystemVersion()); });
}

std::string OperatingSystemUpdateText() {
  return Fact([] { return OperatingSystemUpdate(SystemVersion()); });
}

std::string OperatingSystemLanguage() {
  return Fact([] {
    LanguageSearch search;
    search.Wanted = GetSystemDefaultLangID();
    search.WideQuery = SystemVersion().Platform == kPlatformNT;
    languageSearch = &search;
    EnumSystemLocalesA(&TestLocale, LCID_INSTALLED);
    languageSearch = nullptr;
    return search.Name;
  });
}

}  // namespace pelloran::crashlog
