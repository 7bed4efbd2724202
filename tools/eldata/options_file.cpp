#include "tools/eldata/options_file.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>

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
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    const auto equals = trimmed.find('=');
    try {
      if (equals == std::string::npos) throw std::invalid_argument("expected Name = value");
      Apply(values, Trim(trimmed.substr(0, equals)), Trim(trimmed.substr(equals + 1)));
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error(origin + ":" + std::to_string(number) + ": " + e.what());
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
