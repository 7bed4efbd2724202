#include "crashlog/capture/log_file_pending.h"

#include "base/ansi_path.h"
#include "base/exceptions.h"
#include "crashlog/capture/log_file.h"
#include "crashlog/capture/log_lock.h"
#include "crashlog/infra/diagnostics/trace.h"

#include <windows.h>

#include <algorithm>
#include <optional>

namespace pelloran::crashlog {

namespace {

constexpr std::string_view kPendingExtension = ".pending";

std::string TempFolder() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) return {};
  std::string folder(buffer, length);
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The entries of one pending file; false when it exists but cannot be read.
bool ReadPendingFile(const std::string& path, std::vector<std::string>& entries) {
  try {
    entries = TLogFile(path).Entries();
    return true;
  } catch (...) {
    Trace("PendingReports.Unreadable", {path});
    return false;
  }
}

// Writes `report` after what waits in `path` (and in `older`, read first, when given); raises
// when the file cannot be written.
void WritePendingFile(const std::string& path, const std::vector<std::string>& older, std::string_view report,
                      int maxEntries) {
  TLogFile file(path);
  file.AddEntries(older, maxEntries);
  file.AddEntry(report, maxEntries);
  file.Save();
}

}  // namespace

std::vector<std::string> PendingLogPlaces(const std::string& logFile) {
  std::vector<std::string> places{logFile + std::string(kPendingExtension)};
  const std::string folder = TempFolder();
  if (!folder.empty()) {
    std::string inTemp = folder + std::string(AnsiFileNamePart(logFile)) + std::string(kPendingExtension);
    if (AsciiUpper(inTemp) != AsciiUpper(places.front())) places.push_back(std::move(inTemp));
  }
  return places;
}

TPendingReports::TPendingReports(const std::string& logFile) {
  for (const std::string& place : PendingLogPlaces(logFile)) {
    if (!FileExists(place)) continue;
    std::vector<std::string> entries;
    if (!ReadPendingFile(place, entries)) continue;
    files_.push_back(place);
    MergeLogEntries(entries_, entries, static_cast<int>(entries_.size() + entries.size()));
  }
}

void TPendingReports::RemoveMerged() const {
  for (const std::string& file : files_) {
    const TLogLock lock(file, kLogLockTimeoutMs);
    // Not held: the file is left as it is; its reports are compared by their text when they
    // come again, so none reaches the log twice.
    if (!lock.Held()) continue;
    try {
      if (!FileExists(file)) continue;
      TLogFile pendingFile(file);
      std::vector<std::string> left;
      for (const std::string& entry : pendingFile.Entries())
        if (std::find(entries_.begin(), entries_.end(), entry) == entries_.end()) left.push_back(entry);
      if (left.empty()) {
        if (!::DeleteFileA(file.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
          Trace("PendingReports.NotDeleted", {file, static_cast<unsigned long>(::GetLastError())});
        continue;
      }
      pendingFile.ReplaceEntries(std::move(left));
      pendingFile.Save();
    } catch (...) {
      Trace("PendingReports.NotRewritten", {file});
    }
  }
}

bool KeepPendingReport(const std::string& logFile, std::string_view report, int maxEntries) {
  const std::vector<std::string> places = PendingLogPlaces(logFile);
  TraceEnter("KeepPendingReport", {places.front()});
  // Each pending file is read, added to and replaced under its own lock, as the log is.
  const TLogLock besideLock(places.front(), kLogLockTimeoutMs);
  std::optional<TLogLock> tempLock;
  if (places.size() > 1) tempLock.emplace(places[1], kLogLockTimeoutMs);
  const bool tempHeld = tempLock && tempLock->Held();
  // Beside the log, with what waits in the temporary folder moved in before the new report.
  std::vector<std::string> inTemp;
  const bool tempRead = places.size() > 1 && FileExists(places[1]) && ReadPendingFile(places[1], inTemp);
  try {
    if (!besideLock.Held() || (tempLock && !tempHeld))
      throw EInOutError("The pending file is held by another process.", 0);
    WritePendingFile(places.front(), inTemp, report, maxEntries);
    if (tempRead && !::DeleteFileA(places[1].c_str()))
      Trace("PendingReports.NotDeleted", {places[1], static_cast<unsigned long>(::GetLastError())});
    TraceLeave("KeepPendingReport", {"beside the log"});
    return true;
  } catch (...) {
  }
  if (tempHeld) {
    try {
      WritePendingFile(places[1], {}, report, maxEntries);
      TraceLeave("KeepPendingReport", {places[1]});
      return true;
    } catch (...) {
    }
  }
  TraceLeave("KeepPendingReport", {"lost"});
  return false;
}

void MovePendingReportsToLog(const std::string& logFile, int maxEntries) noexcept {
  try {
    const TPendingReports pending(logFile);
    if (pending.Empty()) return;
    TraceEnter("MovePendingReportsToLog", {logFile, static_cast<int>(pending.Entries().size())});
    try {
      const TLogLock lock(logFile, kLogLockTimeoutMs);
      if (!lock.Held()) throw EInOutError("The error log is held by another process.", 0);
      TLogFile log(logFile);
      log.AddEntries(pending.Entries(), maxEntries);
      log.Save();
      pending.RemoveMerged();
      TraceLeave("MovePendingReportsToLog", {"moved"});
    } catch (...) {
      TraceLeave("MovePendingReportsToLog", {"they wait on"});
    }
  } catch (...) {
    // nothing of this may stop the program's start
  }
}

}  // namespace pelloran::crashlog
