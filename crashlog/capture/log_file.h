#pragma once
// The module's ".elf" error log on disk (entry rules in log_file_format.h). An object lives for
// one operation: the duplicate test, or one attempt to log a report.
//
// The file is read whole when the object is made and closed again at once: a handle kept open
// would stop other processes from replacing the file. Save writes the complete new content to a
// temporary file beside the log and then puts it in the log's place, so that a crash or a full
// disk during the save leaves the previous log intact; only when the system refuses to replace
// the log (another program holds it open without delete sharing) is it rewritten in place.
// Several processes may save the same log: each holds the log's lock (log_lock.h) from its read to
// its save, so that none replaces a list another has just saved.

#include "crashlog/capture/log_file_format.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

class TLogFile {
 public:
  // Reads the log when it exists; a log above kMaxLogReadBytes is read from its last
  // kMaxLogReadBytes only (its newest entries), and the cut is traced. Raises EInOutError when the
  // file exists but cannot be read.
  explicit TLogFile(std::string fileName);

  const std::string& FileName() const noexcept { return fileName_; }
  const std::vector<std::string>& Entries() const noexcept { return entries_; }

  void AddEntry(std::string_view text, int maxEntries) { AddLogEntry(entries_, text, maxEntries); }
  // Entries read from another file of this format (reports that waited): those not held yet.
  void AddEntries(std::span<const std::string> entries, int maxEntries) {
    MergeLogEntries(entries_, entries, maxEntries);
  }
  // The entries as they are to be saved (what stays of a pending file).
  void ReplaceEntries(std::vector<std::string> entries) { entries_ = std::move(entries); }
  std::string GetText() const { return LogText(entries_); }
  bool FindEntry(std::span<const std::string_view> keys, std::span<const std::string> values) const {
    return FindLogEntry(entries_, keys, values);
  }
  // Writes GetText() as the whole log (creating it when needed). Raises EInOutError on failure;
  // the previous log is then unchanged unless it had to be written in place.
  void Save();

 private:
  std::string fileName_;
  std::vector<std::string> entries_;
};

// The temporary file a save of `logFile` by this process writes first.
std::string LogSaveTempName(const std::string& logFile);

}  // namespace pelloran::crashlog
