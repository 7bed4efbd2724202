#include "tools/crashlog_report/report_output.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ostream>

namespace pelloran::crashlog_report {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::array<std::string_view, 4> kKeyNames = {"Address", "Module", "Type", "Message"};
constexpr std::array<std::string_view, 4> kJsonKeyNames = {"address", "module", "type", "message"};

// Text from a log for a terminal: control characters (an escape sequence in a damaged or
// forged log) become "?".
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  return text;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

struct TTextConverter::TState {
  iconv_t Handle = reinterpret_cast<iconv_t>(-1);
};

TTextConverter::TTextConverter(const std::string& charset) : state_(std::make_unique<TState>()) {
  state_->Handle = iconv_open("UTF-8", charset.c_str());
}

TTextConverter::~TTextConverter() {
  if (Valid()) iconv_close(state_->Handle);
}

bool TTextConverter::Valid() const { return state_->Handle != reinterpret_cast<iconv_t>(-1); }

std::string TTextConverter::ToUtf8(std::string_view text) const {
  if (IsAscii(text) || !Valid()) return std::string(text);
  iconv(state_->Handle, nullptr, nullptr, nullptr, nullptr);
  std::string result;
  char buffer[4096];
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t done = iconv(state_->Handle, &in, &inLeft, &out, &outLeft);
    result.append(buffer, static_cast<std::size_t>(out - buffer));
    if (done != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a sequence cut at the end): one byte becomes U+FFFD.
    result.append(kReplacement);
    ++in;
    --inLeft;
    iconv(state_->Handle, nullptr, nullptr, nullptr, nullptr);
  }
  return result;
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': json.append("\\\""); break;
      case '\\': json.append("\\\\"); break;
      case '\n': json.append("\\n"); break;
      case '\r': json.append("\\r"); break;
      case '\t': json.append("\\t"); break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
          json.append(escaped);
        } else {
          json.push_back(c);
        }
    }
  }
  json.push_back('"');
  return json;
}

void WriteTextReport(std::ostream& out, const TReportSummary& summary, const TTextConverter& converter) {
  const auto text = [&](std::string_view value) { return Printable(converter.ToUtf8(value)); };
  const auto optional = [&](const std::optional<std::string>& value, const char* missing) {
    return value ? text(*value) : std::string(missing);
  };
  out << summary.Entries << (summary.Entries == 1 ? " report" : " reports") << " in " << summary.Groups.size()
      << (summary.Groups.size() == 1 ? " group" : " groups");
  if (summary.Repeated > 0)
    out << " (" << summary.Repeated << (summary.Repeated == 1 ? " copy" : " copies") << " of a report read again, not counted)";
  out << "\n";
  std::size_t number = 0;
  for (const TReportGroup& group : summary.Groups) {
    out << "\n#" << ++number << "  " << group.Count << (group.Count == 1 ? " report" : " reports") << "\n";
    for (std::size_t k = 0; k < kKeyItems.size(); ++k)
      out << "  " << kKeyItems[k] << " " << kKeyNames[k] << std::string(8 - kKeyNames[k].size(), ' ') << ": "
          << optional(group.Key[k], "(not in the reports)") << "\n";
    out << "  first       : " << optional(group.FirstDate, "(no date)") << "\n";
    out << "  last        : " << optional(group.LastDate, "(no date)") << "\n";
    out << "  versions    : ";
    if (group.Versions.empty()) out << "(not in the reports)";
    for (std::size_t v = 0; v < group.Versions.size(); ++v)
      out << (v ? ", " : "") << (group.Versions[v].empty() ? std::string("(none)") : text(group.Versions[v]));
    out << "\n";
    for (std::size_t r = 0; r < group.Stack.size(); ++r) {
      const TStackRow& row = group.Stack[r];
      out << (r == 0 ? "  stack       : " : "                ") << text(row.Unit);
      if (!row.Line.empty()) out << ":" << text(row.Line);
      out << "  ";
      if (!row.Class.empty()) out << text(row.Class) << ".";
      out << text(row.Procedure) << "  (" << text(row.Module) << " " << text(row.Address) << ")\n";
    }
    if (group.Stack.empty()) out << "  stack       : (no row with a unit)\n";
    bool first = true;
    for (const auto& [name, values] : group.Tags) {
      out << (first ? "  tags        : " : "                ") << text(name) << " =";
      std::size_t v = 0;
      for (const auto& [value, count] : values) out << (v++ ? ", " : " ") << text(value) << " (" << count << ")";
      out << "\n";
      first = false;
    }
    for (std::size_t d = 0; d < group.Dumps.size(); ++d)
      out << (d == 0 ? "  dumps       : " : "                ") << text(group.Dumps[d]) << "\n";
  }
}

void WriteJsonReport(std::ostream& out, const TReportSummary& summary, const TTextConverter& converter) {
  const auto text = [&](const std::optional<std::string>& value) {
    return value ? JsonString(converter.ToUtf8(*value)) : std::string("null");
  };
  out << "{\"reports\": " << summary.Entries << ", \"repeated\": " << summary.Repeated << ", \"groups\": [";
  for (std::size_t g = 0; g < summary.Groups.size(); ++g) {
    const TReportGroup& group = summary.Groups[g];
    out << (g ? ",\n  " : "\n  ") << "{\"count\": " << group.Count;
    for (std::size_t k = 0; k < kKeyItems.size(); ++k) out << ", \"" << kJsonKeyNames[k] << "\": " << text(group.Key[k]);
    out << ", \"first_date\": " << text(group.FirstDate) << ", \"last_date\": " << text(group.LastDate);
    out << ", \"versions\": [";
    for (std::size_t v = 0; v < group.Versions.size(); ++v) out << (v ? ", " : "") << text(group.Versions[v]);
    out << "], \"stack\": [";
    for (std::size_t r = 0; r < group.Stack.size(); ++r) {
      const TStackRow& row = group.Stack[r];
      out << (r ? ", " : "") << "{\"address\": " << text(row.Address) << ", \"module\": " << text(row.Module)
          << ", \"unit\": " << text(row.Unit) << ", \"class\": " << text(row.Class)
          << ", \"procedure\": " << text(row.Procedure) << ", \"line\": " << text(row.Line) << "}";
    }
    out << "], \"tags\": {";
    std::size_t t = 0;
    for (const auto& [name, values] : group.Tags) {
      out << (t++ ? ", " : "") << text(name) << ": {";
      std::size_t v = 0;
      for (const auto& [value, count] : values) out << (v++ ? ", " : "") << text(value) << ": " << count;
      out << "}";
    }
    out << "}, \"dumps\": [";
    for (std::size_t d = 0; d < group.Dumps.size(); ++d) out << (d ? ", " : "") << text(group.Dumps[d]);
    out << "]}";
  }
  out << (summary.Groups.empty() ? "]}\n" : "\n]}\n");
}

}  // namespace pelloran::crashlog_report
