#pragma once
// Text of one trace line: the time stamp, the indentation, the operation's name and its
// arguments, each argument written in the form its kind calls for. Free of the platform so that it
// can be built natively; the locale-dependent parts come in through TTraceFormatSettings.

#include "crashlog/infra/diagnostics/diagnostics_time.h"

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace pelloran::crashlog {

// Money as a fixed-point count of ten-thousandths, the way the reporter's currency values are kept.
struct TCurrency {
  std::int64_t TenThousandths = 0;
};

// Marks an argument whose kind the trace cannot write ("Unknown").
struct TUnknownTraceValue {};

// The locale's number and currency conventions (read from the user's locale on Windows).
struct TTraceFormatSettings {
  std::string DecimalSeparator = ".";
  std::string ThousandSeparator = ",";
  std::string CurrencySymbol = "$";
  int CurrencyDecimals = 2;
  int CurrencyFormat = 0;          // placement of symbol for positive amounts, 0..3
  int NegativeCurrencyFormat = 0;  // placement of symbol and sign for negative amounts, 0..15
};

// One argument of a trace entry. Holds views only: it lives for the duration of one Trace call,
// and nothing is formatted unless the trace is on.
class TraceArg {
 public:
  enum class Kind { Integer, Unsigned, Boolean, Character, Float, String, Pointer, Object, Currency, Unknown };

  template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
  TraceArg(T value) noexcept {  // NOLINT(google-explicit-constructor)
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::Integer;
      integer_ = value;
    } else {
      kind_ = Kind::Unsigned;
      unsigned_ = value;
    }
  }
  TraceArg(bool value) noexcept : kind_(Kind::Boolean), integer_(value) {}         // NOLINT
  TraceArg(char value) noexcept : kind_(Kind::Character), integer_(value) {}       // NOLINT
  TraceArg(double value) noexcept : kind_(Kind::Float), float_(value) {}           // NOLINT
  TraceArg(const char* value) noexcept                                             // NOLINT
      : kind_(Kind::String), text_(value == nullptr ? std::string_view() : std::string_view(value)) {}
  TraceArg(std::string_view value) noexcept : kind_(Kind::String), text_(value) {}  // NOLINT
  TraceArg(const std::string& value) noexcept : kind_(Kind::String), text_(value) {}  // NOLINT
  TraceArg(const void* value) noexcept : kind_(Kind::Pointer), pointer_(value) {}    // NOLINT
  TraceArg(std::nullptr_t) noexcept : kind_(Kind::Pointer), pointer_(nullptr) {}    // NOLINT
  TraceArg(TCurrency value) noexcept : kind_(Kind::Currency), integer_(value.TenThousandths) {}  // NOLINT
  TraceArg(TUnknownTraceValue) noexcept : kind_(Kind::Unknown) {}                     // NOLINT
  // Any object that can name its class (the program's exceptions, the reporter's classes).
  template <typename T>
    requires requires(const T& object) { std::string_view(object.ClassName()); }
  TraceArg(const T* object) noexcept : kind_(Kind::Object), objectPresent_(object != nullptr) {  // NOLINT
    if (object != nullptr) text_ = std::string_view(object->ClassName());
  }
  template <typename T>
    requires requires(const T& object) { std::string_view(object.ClassName()); }
  TraceArg(T* object) noexcept : TraceArg(static_cast<const T*>(object)) {}  // NOLINT

  // An object known only by its class name; an empty name stands for none ("nil").
  static TraceArg ObjectNamed(std::string_view className) noexcept {
    TraceArg arg{TUnknownTraceValue{}};
    arg.kind_ = Kind::Object;
    arg.objectPresent_ = !className.empty();
    arg.text_ = className;
    return arg;
  }

  Kind kind() const noexcept { return kind_; }
  std::string Format(const TTraceFormatSettings& settings) const;

 private:
  Kind kind_;
  std::int64_t integer_ = 0;
  std::uint64_t unsigned_ = 0;
  double float_ = 0;
  const void* pointer_ = nullptr;
  bool objectPresent_ = false;
  std::string_view text_;
};

// "(a, b, c)", or "" when there are no arguments.
std::string FormatTraceArgs(std::initializer_list<TraceArg> args, const TTraceFormatSettings& settings);

// "dd/mm/yy hh:nn:ss".
std::string FormatTraceStamp(const TLocalTime& time);

// A floating-point number in the general format: up to 15 significant digits, fixed notation
// unless the number is too large for them or below 0.00001.
std::string FormatFloatGeneral(double value, std::string_view decimalSeparator);

// An amount in the locale's currency format (symbol placement, sign, thousands, decimals).
std::string FormatCurrency(TCurrency value, const TTraceFormatSettings& settings);

// DEBUG and SAVE, as found (in any case, anywhere) in the last command-line parameter when that
// parameter is a switch word: it begins with "/" or "-" and names no existing file or folder
// (`namesExistingPath`, asked of the system by the caller). A path never switches the trace, so
// a media file under a folder "Debug Save" does not.
struct TTraceSwitches {
  bool Debug = false;
  bool Save = false;
};
bool IsSwitchWord(std::string_view parameter, bool namesExistingPath);
TTraceSwitches ReadTraceSwitches(std::string_view lastParameter, bool namesExistingPath = false);

// The file name with its extension replaced (or added), as the trace file's name is made from
// the module's.
std::string ChangeFileExtension(std::string_view fileName, std::string_view extension);

}  // namespace pelloran::crashlog
