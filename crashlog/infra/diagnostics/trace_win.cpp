// The process trace's ties to the platform: clock, locale, command line, module file name.

#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace pelloran::crashlog {

namespace {

std::string LocaleText(LCTYPE item, std::string fallback) {
  char text[32] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, item, text, sizeof text) <= 1) return fallback;
  return text;
}

int LocaleNumber(LCTYPE item, int fallback) {
  const std::string text = LocaleText(item, "");
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return text.empty() || *end != '\0' ? fallback : static_cast<int>(value);
}

TTraceFormatSettings UserLocaleSettings() {
  TTraceFormatSettings settings;
  settings.DecimalSeparator = LocaleText(LOCALE_SDECIMAL, ".");
  settings.ThousandSeparator = LocaleText(LOCALE_STHOUSAND, ",");
  settings.CurrencySymbol = LocaleText(LOCALE_SCURRENCY, "$");
  settings.CurrencyDecimals = LocaleNumber(LOCALE_ICURRDIGITS, 2);
  settings.CurrencyFormat = LocaleNumber(LOCALE_ICURRENCY, 0);
  settings.NegativeCurrencyFormat = LocaleNumber(LOCALE_INEGCURR, 0);
  return settings;
}

TTraceLog* MakeProcessTrace() {
  const std::vector<std::string> parameters = CommandLineParameters();
  TTraceLog::TSetup setup;
  // Without parameters there is no last one: the program path does not count.
  if (!parameters.empty()) {
    const std::string& last = parameters.back();
    setup.Switches = ReadTraceSwitches(last, GetFileAttributesA(last.c_str()) != INVALID_FILE_ATTRIBUTES);
  }
  setup.DebuggerAttached = IsDebuggerAttached();
  setup.LogPath = ChangeFileExtension(ModuleFileName(ThisModule()), ".log");
  setup.Settings = UserLocaleSettings();
  setup.Clock = &LocalTimeNow;
  return new TTraceLog(std::move(setup));
}

}  // namespace

TLocalTime LocalTimeNow() noexcept {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

TTraceLog& TraceLog() {
  // Deliberately never freed: finalization code of any unit may still trace.
  static TTraceLog* const trace = MakeProcessTrace();
  return *trace;
}

}  // namespace pelloran::crashlog
