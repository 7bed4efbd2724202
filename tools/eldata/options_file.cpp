#include "tools/eldata/options_file.h"

#include <iconv.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace pelloran::eldata {

namespace {

using crashlog::TCrashOptionValues;

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case '\\': out += '\\'; break;
      default: throw std::invalid_argument(std::string("unknown escape \\") + text[i]);
    }
  }
  return out;
}

bool ParseBool(const std::string& v) {
  if (v == "true" || v == "1" || v == "yes") return true;
  if (v == "false" || v == "0" || v == "no") return false;
  throw std::invalid_argument("not a truth value: " + v);
}

template <typename T>
T ParseNumber(const std::string& v) {
  long long value = 0;
  const bool hex = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X');
  const char* begin = v.data() + (hex ? 2 : 0);
  const auto [end, error] = std::from_chars(begin, v.data() + v.size(), value, hex ? 16 : 10);
  if (error != std::errc() || end != v.data() + v.size() || v.empty()) throw std::invalid_argument("not a number: " + v);
  if (value < static_cast<long long>(std::numeric_limits<T>::min()) ||
      value > static_cast<long long>(std::numeric_limits<T>::max()))
    throw std::invalid_argument("number out of range: " + v);
  return static_cast<T>(value);
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr unsigned kDefaultCodePage = 1252;

// The index of the first byte that does not belong to a well-formed UTF-8 sequence (no overlong
// forms, no surrogates, nothing above U+10FFFF), or nothing.
std::optional<std::size_t> FirstInvalidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) length = 1;
    else if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= text.size()) return i;
      const unsigned char next = byte(i + k);
      if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) return i;
    }
    i += length;
  }
  return std::nullopt;
}

// The bytes of the well-formed UTF-8 sequence that starts with `lead`.
std::size_t SequenceLength(unsigned char lead) { return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// The code point of the well-formed UTF-8 sequence at the start of `text`.
std::uint32_t CodePointAt(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t length = SequenceLength(lead);
  std::uint32_t point = length == 1 ? lead : lead & (0x3F >> (length - 1));
  for (std::size_t k = 1; k < length && k < text.size(); ++k) point = point << 6 | (static_cast<unsigned char>(text[k]) & 0x3F);
  return point;
}

// Valid UTF-8 into a Windows code page, through iconv's "CP<n>" tables.
class TUtf8ToCodePage {
 public:
  explicit TUtf8ToCodePage(unsigned codePage)
      : codePage_(codePage), handle_(iconv_open(("CP" + std::to_string(codePage)).c_str(), "UTF-8")) {}
  ~TUtf8ToCodePage() {
    if (*this) iconv_close(handle_);
  }
  TUtf8ToCodePage(const TUtf8ToCodePage&) = delete;
  TUtf8ToCodePage& operator=(const TUtf8ToCodePage&) = delete;
  explicit operator bool() const noexcept { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Throws std::invalid_argument naming the first character the code page has no place for.
  std::string operator()(const std::string& text) const {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    if (iconv(handle_, &in, &inLeft, &to, &toLeft) == static_cast<std::size_t>(-1)) {
      const std::size_t at = text.size() - inLeft;
      const std::string_view rest = std::string_view(text).substr(at);
      char name[16];
      std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(CodePointAt(rest)));
      const std::size_t length = std::min(rest.size(), SequenceLength(static_cast<unsigned char>(rest[0])));
      throw std::invalid_argument("\"" + std::string(rest.substr(0, length)) + "\" (" + name + ") has no place in code page " +
                                  std::to_string(codePage_));
    }
    out.resize(out.size() - toLeft);
    return out;
  }

 private:
  unsigned codePage_;
  iconv_t handle_;
};

using TSetter = std::function<void(TCrashOptionValues&, const std::string&)>;

// How a value of each stored type is written in the file.
template <typename T>
T ParseValue(const std::string& v) {
  return ParseNumber<T>(v);
}
template <>
bool ParseValue<bool>(const std::string& v) {
  return ParseBool(v);
}
template <>
std::string ParseValue<std::string>(const std::string& v) {
  return Unescape(v);
}

const std::map<std::string, TSetter>& Setters() {
  static const std::map<std::string, TSetter> setters = {
#define PELLORAN_OPTION_SETTER(Type, Name, Default, From, Load, Access) \
  {#Name, [](TCrashOptionValues& o, const std::string& v) { o.Name = ParseValue<Type>(v); }},
      PELLORAN_OPTIONS(PELLORAN_OPTION_SETTER)
#undef PELLORAN_OPTION_SETTER
      {"Filter",
       [](TCrashOptionValues& o, const std::string& v) {
         const auto bar = v.find('|');
         if (bar == std::string::npos) throw std::invalid_argument("Filter needs \"ClassName | message\"");
         o.FilterClasses.push_back(Trim(v.substr(0, bar)));
         o.FilterMessages.push_back(Unescape(Trim(v.substr(bar + 1))));
       }},
  };
  return setters;
}

void Apply(TCrashOptionValues& values, const std::string& name, const std::string& value) {
  if (name.rfind("Texts[", 0) == 0 && name.back() == ']') {
    const int index = ParseNumber<int>(name.substr(6, name.size() - 7));
    if (index < 0 || index >= crashlog::kTextCount) throw std::invalid_argument("no text " + name);
    values.Texts[static_cast<std::size_t>(index)] = Unescape(value);
    return;
  }
  const auto it = Setters().find(name);
  if (it == Setters().end()) throw std::invalid_argument("unknown option " + name);
  it->second(values, value);
}

}  // namespace

void ParseOptionsText(const std::string& text, const std::string& origin, TCrashOptionValues& values) {
  const auto fail = [&](int number, const std::string& what) {
    return std::runtime_error(origin + ":" + std::to_string(number) + ": " + what);
  };
  // The file is UTF-8; a byte order mark is allowed.
  const std::string_view body = std::string_view(text).substr(text.rfind(kUtf8Bom, 0) == 0 ? kUtf8Bom.size() : 0);
  struct TSetting {
    int Number;
    std::string Name, Value;
  };
  std::vector<TSetting> settings;
  unsigned codePage = kDefaultCodePage;
  int codePageLine = 0;
  std::istringstream lines{std::string(body)};
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (const auto bad = FirstInvalidUtf8(line)) throw fail(number, "byte " + std::to_string(*bad + 1) + " is not valid UTF-8");
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    const auto equals = trimmed.find('=');
    if (equals == std::string::npos) throw fail(number, "expected Name = value");
    TSetting setting{number, Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1))};
    if (setting.Name != "CodePage") {
      settings.push_back(std::move(setting));
      continue;
    }
    codePageLine = number;
    try {
      codePage = ParseNumber<std::uint16_t>(setting.Value);
    } catch (const std::invalid_argument& e) {
      throw fail(number, e.what());
    }
  }
  // The program's dialogs take their texts in its ANSI code page.
  const TUtf8ToCodePage convert(codePage);
  if (!convert) throw fail(codePageLine, "code page " + std::to_string(codePage) + " is not known on this machine");
  for (const TSetting& setting : settings) {
    try {
      Apply(values, setting.Name, convert(setting.Value));
    } catch (const std::invalid_argument& e) {
      throw fail(setting.Number, e.what());
    }
  }
}

void LoadOptionsFile(const std::string& path, TCrashOptionValues& values) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read options file " + path);
  std::ostringstream text;
  text << file.rdbuf();
  ParseOptionsText(text.str(), path, values);
}

}  // namespace pelloran::eldata
