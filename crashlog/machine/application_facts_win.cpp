// Facts about the application, the exception and the active window, read from the system.

#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/machine/fact_guard.h"
#include "crashlog/machine/machine.h"
#include "crashlog/machine/own_foreground_window.h"

#include <windows.h>

#include <cstring>
#include <mutex>

namespace pelloran::crashlog {

namespace {

struct StartTime {
  std::mutex Lock;
  TLocalTime Time = LocalTimeNow();
};

StartTime& Start() {
  static StartTime* const start = new StartTime;  // never destroyed: reports can come late
  return *start;
}

// Taken while the program initialises.
[[maybe_unused]] const bool startTimeTaken = (Start(), true);

std::string TextBefore(const char* text, std::size_t limit) { return std::string(text, strnlen(text, limit)); }

}  // namespace

HWND OwnForegroundWindow() noexcept {
  const HWND window = GetForegroundWindow();
  DWORD process = 0;
  if (window == nullptr || GetWindowThreadProcessId(window, &process) == 0) return nullptr;
  return process == GetCurrentProcessId() ? window : nullptr;
}

int SystemTimeZoneBias(const TLocalTime& time) {
  // The system converts the local time with the zone's rules for that date; the difference is the
  // bias in force then (summer time included), which the zone's standard bias alone is not.
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(time.Year);
  local.wMonth = static_cast<WORD>(time.Month);
  local.wDay = static_cast<WORD>(time.Day);
  local.wHour = static_cast<WORD>(time.Hour);
  local.wMinute = static_cast<WORD>(time.Minute);
  local.wSecond = static_cast<WORD>(time.Second);
  SYSTEMTIME universal{};
  FILETIME localFile{}, universalFile{};
  if (TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) && SystemTimeToFileTime(&local, &localFile) &&
      SystemTimeToFileTime(&universal, &universalFile)) {
    const auto ticks = [](const FILETIME& f) {
      return static_cast<long long>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    };
    return static_cast<int>((ticks(universalFile) - ticks(localFile)) / 600000000LL);
  }
  TIME_ZONE_INFORMATION zone{};
  const DWORD which = GetTimeZoneInformation(&zone);
  if (which == TIME_ZONE_ID_INVALID) return 0;
  return static_cast<int>(zone.Bias + (which == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : zone.StandardBias));
}

std::string FormatMailDate(const TLocalTime& time) {
  return Fact([&] { return FormatMailDate(time, SystemTimeZoneBias(time)); });
}

void RecordApplicationStartTime() {
  StartTime& start = Start();
  std::lock_guard guard(start.Lock);
  start.Time = LocalTimeNow();
}

std::string ApplicationStartDate() {
  return Fact([] {
    StartTime& start = Start();
    std::lock_guard guard(start.Lock);
    return FormatMailDate(start.Time);
  });
}

std::string NameDescriptionOf(const std::string& file) {
  return Fact([&] {
    std::string description = ReadVersionFacts(file).Description;
    return description.empty() ? FileNameOf(file) : description;
  });
}

std::string ApplicationNameDescription() { return NameDescriptionOf(ModuleFileName(nullptr)); }

std::string ApplicationVersionNumber() {
  return Fact([] { return ReadVersionFacts(ModuleFileName(nullptr)).Version; });
}

std::string ApplicationParameters() {
  return Fact([] { return QuoteParameters(CommandLineParameters()); });
}

std::string ExceptionDate(const TLocalTime& captured) { return FormatMailDate(captured); }

std::string ExceptionModule(const void* address) {
  return Fact([&]() -> std::string {
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(address, &region, sizeof region) == 0) return {};
    // Outside any allocation there is no module; asking the system for the name of module 0
    // would name the program and blame it for the fault.
    if (region.AllocationBase == nullptr || region.State != MEM_COMMIT) return {};
    return FileNameOf(ModuleFileName(static_cast<HMODULE>(region.AllocationBase)));
  });
}

std::string ForegroundFormClass() {
  return Fact([]() -> std::string {
    const HWND window = OwnForegroundWindow();
    if (window == nullptr) return {};
    char name[256] = {};
    const int length = GetClassNameA(window, name, sizeof name);
    return length > 0 ? std::string(name, static_cast<std::size_t>(length)) : std::string();
  });
}

std::string ForegroundFormText() {
  return Fact([]() -> std::string {
    const HWND window = OwnForegroundWindow();
    if (window == nullptr) return {};
    // The default procedure reads the stored title itself: a hung window cannot block it.
    char title[256] = {};
    const LRESULT length = DefWindowProcA(window, WM_GETTEXT, sizeof title, reinterpret_cast<LPARAM>(title));
    if (length <= 0) return {};
    return ControlCharsToSpaces(TextBefore(title, sizeof title - 1));
  });
}

std::string ControlClassFact(const std::string& stored) { return stored; }

std::string ControlTextFact(const std::string& stored) {
  return Fact([&] { return ControlCharsToSpaces(stored); });
}

}  // namespace pelloran::crashlog
