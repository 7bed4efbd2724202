#pragma once
// The minidump of the error in progress, written beside the log before its report is composed,
// so that the report names it.

#include "crashlog/flow/error_in_progress.h"

namespace pelloran::crashlog {

// Whether the working options ask for a dump with each report.
bool DumpRequested(const TCrashModuleOptions& options);

// Writes the dump when the options ask for it and names it in error.Capture; keeps at most
// MaxLoggedErrors dumps of the log. A failure only leaves the report without a dump.
void WriteReportDump(TErrorInProgress& error) noexcept;

}  // namespace pelloran::crashlog
