#pragma once
// The report of the error being processed: its parts, the texts derived from it, and the two
// things done with it here, the duplicate test and the entry in the log file. One object per
// process, owned by the exception pipeline and used by one thread at a time.

#include "crashlog/capture/report_events.h"
#include "crashlog/capture/report_text.h"

#include <string>

namespace pelloran::crashlog {

class TCrashModuleOptions;

struct TReportState {
  std::string GeneralText;  // header and general section
  std::string CpuText;      // registers and memory dump
  std::string ListsText;    // call stack and module tables
  std::string ReportText;   // the whole report
  std::string SendText;     // what is mailed: the report, or the whole log
  TDuplicateValues DuplicateValues;
  std::string ReproduceText;  // typed into the reproduce-steps dialog
  bool Duplicate = false;     // the error is already in the log

  // Composes every part and joins them; SendText becomes the report. Returns ReportText.
  const std::string& BuildReport(const TCrashOptionValues& options, const TReportInputs& inputs);
  // After a Type or Message override: the general section again, joined with the kept CpuText
  // and ListsText; SendText becomes the report. Returns ReportText.
  const std::string& RebuildReport(const TCrashOptionValues& options, const TGeneralInputs& general);

  // With SkipDuplicates, whether an entry of the log has the same Address, Module, Type and
  // Message; false otherwise, and false when the log cannot be read. Also stores Duplicate.
  bool IsDuplicateError(const TCrashModuleOptions& options);

  // Appends the report (with the reproduce steps) to the log and saves it, between the BeforeLog
  // and AfterLog events; a failure is recorded as the warning eeLogError for "Log", and the
  // failure handler may ask for another attempt. With SendWholeLog, SendText becomes the log.
  void SaveToLogFile(const TCrashModuleOptions& options, const TReportEvents& events);

 private:
  // The reproduce steps go into the report once, however many attempts the log takes.
  void FoldReproduceSteps(const TCrashOptionValues& options);
  bool reproduceFolded_ = false;
};

}  // namespace pelloran::crashlog
