#pragma once
// Reports that could not be written to the log (another program holds it without sharing, its
// folder is read-only, the disk is full) wait in a pending file of the log's own format until a
// save of the log succeeds or the program starts again: "<log>.pending" beside the log, or, when
// that folder cannot be written either, "<log's name>.pending" in the user's temporary folder.
//
// While the log's folder cannot be written, reports go to the temporary folder and the file
// beside the log stays as it was; whenever the file beside the log is written, what waits in the
// temporary folder moves into it. So the file beside the log always holds the older reports, and
// beside first, then the temporary folder, is their order. A report is compared by its whole text
// wherever it goes, so that none reaches the log twice, even when a pending file could not be
// deleted after its reports were moved.

#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

// Where reports of `logFile` wait, in the order they are read: beside the log, then the user's
// temporary folder (once only when the log lies in that folder).
std::vector<std::string> PendingLogPlaces(const std::string& logFile);

// The reports waiting for one log, read from every place that can be read.
class TPendingReports {
 public:
  explicit TPendingReports(const std::string& logFile);

  // Oldest first, each once.
  const std::vector<std::string>& Entries() const noexcept { return entries_; }
  bool Empty() const noexcept { return entries_.empty(); }
  // Once they are in the log: takes them out of the files they were read from, under each file's
  // lock. A file is deleted when it holds nothing else; a report another process added to it
  // meanwhile stays in it.
  void RemoveMerged() const;

 private:
  std::vector<std::string> files_;  // the places that held a readable file
  std::vector<std::string> entries_;
};

// Keeps `report` until the log can be written: added to the file beside the log, or, when that
// cannot be written, to the one in the temporary folder; each keeps at most `maxEntries`. False
// when neither could be written (the report is then lost, and the trace says so).
bool KeepPendingReport(const std::string& logFile, std::string_view report, int maxEntries);

// At start-up: moves the reports that wait into the log, oldest first, and deletes the pending
// files. Nothing happens when none wait; when the log cannot be written yet they wait on.
void MovePendingReportsToLog(const std::string& logFile, int maxEntries) noexcept;

}  // namespace pelloran::crashlog
