#include "crashlog/infra/diagnostics/trace_format.h"

#include "base/ansi_path.h"
#include "base/hex_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pelloran::crashlog {

namespace {

std::string TwoDigits(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", ((value % 100) + 100) % 100);
  return text;
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Digits of `value` with the separator between groups of three.
std::string GroupThousands(std::uint64_t value, std::string_view separator) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += separator;
    grouped += digits[i];
  }
  return grouped;
}

}  // namespace

std::string TraceArg::Format(const TTraceFormatSettings& settings) const {
  switch (kind_) {
    case Kind::Integer: return std::to_string(integer_);
    case Kind::Unsigned: return std::to_string(unsigned_);
    case Kind::Boolean: return integer_ != 0 ? "True" : "False";
    case Kind::Character: return std::string(1, static_cast<char>(integer_));
    case Kind::Float: return FormatFloatGeneral(float_, settings.DecimalSeparator);
    case Kind::String: return "'" + std::string(text_) + "'";
    case Kind::Pointer:
      return pointer_ == nullptr ? "nil" : "$" + Hex8(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer_)));
    case Kind::Object: return objectPresent_ ? std::string(text_) : "nil";
    case Kind::Currency: return FormatCurrency(TCurrency{integer_}, settings);
    case Kind::Unknown: break;
  }
  return "Unknown";
}

std::string FormatTraceArgs(std::initializer_list<TraceArg> args, const TTraceFormatSettings& settings) {
  if (args.size() == 0) return {};
  std::string text = "(";
  bool first = true;
  for (const TraceArg& arg : args) {
    if (!first) text += ", ";
    first = false;
    text += arg.Format(settings);
  }
  return text + ")";
}

std::string FormatTraceStamp(const TLocalTime& time) {
  return TwoDigits(time.Day) + "/" + TwoDigits(time.Month) + "/" + TwoDigits(time.Year) + " " +
         TwoDigits(time.Hour) + ":" + TwoDigits(time.Minute) + ":" + TwoDigits(time.Second);
}

std::string FormatFloatGeneral(double value, std::string_view decimalSeparator) {
  constexpr int kPrecision = 15;
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";

  // "d.dddddddddddddde±x": the 15 significant digits, rounded once, and the decimal exponent.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", kPrecision - 1, std::fabs(value));
  std::string digits;
  const char* p = buffer;
  for (; *p != 'e' && *p != '\0'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string text = value < 0 ? "-" : "";
  if (exponent >= kPrecision || exponent < -5) {
    text += digits[0];
    if (digits.size() > 1) text += std::string(decimalSeparator) + digits.substr(1);
    text += "E" + std::to_string(exponent);
    return text;
  }
  if (exponent < 0) {
    text += "0" + std::string(decimalSeparator) + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    return text;
  }
  const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= integerDigits) {
    text += digits + std::string(integerDigits - digits.size(), '0');
  } else {
    text += digits.substr(0, integerDigits) + std::string(decimalSeparator) + digits.substr(integerDigits);
  }
  return text;
}

std::string FormatCurrency(TCurrency value, const TTraceFormatSettings& settings) {
  const int decimals = settings.CurrencyDecimals < 0 ? 0 : settings.CurrencyDecimals > 4 ? 4 : settings.CurrencyDecimals;
  const bool negative = value.TenThousandths < 0;
  // Magnitude without overflow for the most negative amount.
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value.TenThousandths)
                                     : static_cast<std::uint64_t>(value.TenThousandths);
  std::uint64_t scale = 1;
  for (int i = decimals; i < 4; ++i) scale *= 10;
  magnitude = (magnitude + scale / 2) / scale;  // half away from zero
  std::uint64_t unit = 1;
  for (int i = 0; i < decimals; ++i) unit *= 10;

  std::string number = GroupThousands(magnitude / unit, settings.ThousandSeparator);
  if (decimals > 0) {
    std::string fraction = std::to_string(magnitude % unit);
    number += settings.DecimalSeparator + std::string(static_cast<std::size_t>(decimals) - fraction.size(), '0') + fraction;
  }

  const std::string& s = settings.CurrencySymbol;
  const std::string& n = number;
  if (!negative || magnitude == 0) {
    switch (settings.CurrencyFormat) {
      case 1: return n + s;
      case 2: return s + " " + n;
      case 3: return n + " " + s;
      default: return s + n;
    }
  }
  switch (settings.NegativeCurrencyFormat) {
    case 1: return "-" + s + n;
    case 2: return s + "-" + n;
    case 3: return s + n + "-";
    case 4: return "(" + n + s + ")";
    case 5: return "-" + n + s;
    case 6: return n + "-" + s;
    case 7: return n + s + "-";
    case 8: return "-" + n + " " + s;
    case 9: return "-" + s + " " + n;
    case 10: return n + " " + s + "-";
    case 11: return s + " " + n + "-";
    case 12: return s + " -" + n;
    case 13: return n + "- " + s;
    case 14: return "(" + s + " " + n + ")";
    case 15: return "(" + n + " " + s + ")";
    default: return "(" + s + n + ")";
  }
}

bool IsSwitchWord(std::string_view parameter, bool namesExistingPath) {
  return !parameter.empty() && (parameter.front() == '/' || parameter.front() == '-') && !namesExistingPath;
}

TTraceSwitches ReadTraceSwitches(std::string_view lastParameter, bool namesExistingPath) {
  if (!IsSwitchWord(lastParameter, namesExistingPath)) return {};
  std::string upper;
  for (char c : lastParameter) upper += UpperAscii(c);
  return {upper.find("DEBUG") != std::string::npos, upper.find("SAVE") != std::string::npos};
}

std::string ChangeFileExtension(std::string_view fileName, std::string_view extension) {
  // '.' is never the second byte of a double-byte character: only the folder needs the careful scan.
  const std::size_t nameStart = AfterLastPathDelimiter(fileName);
  const std::size_t dot = fileName.find_last_of('.');
  const bool hasExtension = dot != std::string_view::npos && dot >= nameStart;
  return std::string(hasExtension ? fileName.substr(0, dot) : fileName) + std::string(extension);
}

}  // namespace pelloran::crashlog
