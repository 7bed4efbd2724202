#pragma once
// The record of the last failure of the reporter's display, log and mail steps. Such failures
// never stop the reporter: they are noted here, traced, and handed to the debugger.

#include <string>
#include <string_view>

namespace pelloran::crashlog {

enum TCrashLogErrorCode {
  eeNone,
  eeShowError,
  eeLogError,
  eeEmailMAPIError,
  eeEmailShellError,
  eeEmailSMTPError,
};

// The enumeration name ("eeEmailSMTPError"); "eeNone" for values out of range.
std::string_view ErrorCodeName(TCrashLogErrorCode code) noexcept;

// [WARNING] - Code: <name> - Message: "<message>"
std::string WarningText(TCrashLogErrorCode code, std::string_view message);
// "[section] message" for one of the program's exceptions, "General 'section' error." otherwise.
std::string SectionErrorMessage(std::string_view section, bool isException, std::string_view exceptionMessage);

TCrashLogErrorCode LastErrorCode() noexcept;
std::string LastErrorMessage();

// Records the failure, traces it and sends it to the debugger; SMTP failures are also shown in a
// box while the SMTP progress window is open. Never raises.
void ReportWarning(TCrashLogErrorCode code, std::string_view message) noexcept;
// ReportWarning for the exception being handled by the caller, named after `section`.
void ReportSectionError(TCrashLogErrorCode code, std::string_view section) noexcept;
void ClearLastError() noexcept;

// Kept by the SMTP progress window while it is open.
void SetSmtpProgressOpen(bool open) noexcept;
bool SmtpProgressOpen() noexcept;

}  // namespace pelloran::crashlog
