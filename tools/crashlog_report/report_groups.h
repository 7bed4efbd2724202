#pragma once
// Reports grouped by the items that identify their error, most frequent first. The same report
// read again from another log text (a mailed copy of a log, or two mails of a whole log) counts
// once; within one log every entry counts, since the reporter appended each one for an error of
// its own (two crashes of one program in the same second give the same text).

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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
  // Per tag name, each value seen with the number of reports that carried it; both sorted.
  std::map<std::string, std::map<std::string, std::size_t>> Tags;
  std::vector<std::string> Dumps;  // the minidumps of the group's reports, in the order read
};

// Dotted numbers compared as numbers ("2.10" after "2.9"); other text after them by bytes.
bool VersionBefore(std::string_view a, std::string_view b);

class TReportGroups {
 public:
  // Starts a new log text: the copies of a report counted are the most any one log text held.
  void BeginLog() { inLog_.clear(); }
  // False when this report text is a copy of one counted from another log text.
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
  // Per report text: the most copies any log text held so far, and how many this one has held.
  std::unordered_map<TTextIdentity, std::size_t, TIdentityHash> counted_, inLog_;
  std::size_t entries_ = 0, repeated_ = 0;
};

}  // namespace pelloran::crashlog_report
