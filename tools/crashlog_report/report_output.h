#pragma once
// The groups as text for a person and as JSON for machines. Report texts are in the reporting
// program's ANSI code page (GBK, code page 936, for Pelloran); both outputs are UTF-8.

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/crashlog_report/report_groups.h"

namespace pelloran::crashlog_report {

// Converts report text to UTF-8 through iconv; a byte that does not convert becomes U+FFFD.
class TTextConverter {
 public:
  // False from Valid() when iconv does not know `charset`.
  explicit TTextConverter(const std::string& charset);
  ~TTextConverter();
  TTextConverter(const TTextConverter&) = delete;
  TTextConverter& operator=(const TTextConverter&) = delete;
  bool Valid() const;
  std::string ToUtf8(std::string_view text) const;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

struct TReportSummary {
  std::size_t Entries = 0;   // reports counted
  std::size_t Repeated = 0;  // copies of reports already counted
  std::vector<TReportGroup> Groups;
};

void WriteTextReport(std::ostream& out, const TReportSummary& summary, const TTextConverter& converter);
void WriteJsonReport(std::ostream& out, const TReportSummary& summary, const TTextConverter& converter);

// `text` (UTF-8) as a JSON string with its quotes.
std::string JsonString(std::string_view text);

}  // namespace pelloran::crashlog_report
