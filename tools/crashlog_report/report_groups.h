#pragma once
// Reports grouped by the items that identify their error, most frequent first. The same report
// read twice (from a log and again from a mailed copy of it, or from two mails of a whole log)
// counts once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tools/crashlog_report/report_entry.h"

namespace pelloran::crashlog_report {

struct TReportGroup {
  std::array<std::optional<std::string>, 4> Key;
  std::size_t Count = 0;
  // The earliest and latest dates that read as dates (a date that does not is not compared).
  std::optional<std::string> FirstDate, LastDate;
  std::int64_t FirstTime = 0, LastTime = 0;
  std::vector<std::string> Versions;  // every version seen, in version order
  std::vector<TStackRow> Stack;       // of the latest report
  std::optional<std::int64_t> StackTime;
};

// Dotted numbers compared as numbers ("2.10" after "2.9"); other text after them by bytes.
bool VersionBefore(std::string_view a, std::string_view b);

class TReportGroups {
 public:
  // False when this very report text was added before: it is not counted again.
  bool Add(std::string_view entryText, const TReportEntry& entry);
  // Most reports first; then the latest report first; then by key.
  std::vector<TReportGroup> Sorted() const;
  std::size_t Entries() const { return entries_; }
  std::size_t Repeated() const { return repeated_; }

 private:
  struct TTextIdentity {
    std::size_t Hash, Size;
    bool operator==(const TTextIdentity&) const = default;
  };
  struct TIdentityHash {
    std::size_t operator()(const TTextIdentity& id) const { return id.Hash ^ (id.Size * 0x9E3779B97F4A7C15ull); }
  };
  std::unordered_map<std::string, TReportGroup> groups_;
  std::unordered_set<TTextIdentity, TIdentityHash> seen_;
  std::size_t entries_ = 0, repeated_ = 0;
};

}  // namespace pelloran::crashlog_report
