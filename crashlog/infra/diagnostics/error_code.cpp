#include "crashlog/infra/diagnostics/error_code.h"

#include "crashlog/infra/diagnostics/diagnostics_exception.h"
#include "crashlog/infra/diagnostics/diagnostics_platform.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/diagnostics/window_texts.h"

#include <array>
#include <atomic>
#include <mutex>

namespace pelloran::crashlog {

namespace {

constexpr std::array<std::string_view, 6> kCodeNames = {
    "eeNone", "eeShowError", "eeLogError", "eeEmailMAPIError", "eeEmailShellError", "eeEmailSMTPError"};

// One exception is processed at a time, but a warning may be read by one thread while another
// records one; the lock keeps the message string whole. Neither is ever destroyed, so that
// warnings can be recorded while the program finalises.
std::mutex& LastErrorLock() {
  static std::mutex* const lock = new std::mutex;
  return *lock;
}
TCrashLogErrorCode lastErrorCode = eeNone;
std::string& LastErrorMessageStore() {
  static std::string* const message = new std::string;
  return *message;
}
std::atomic<bool> smtpProgressOpen{false};

}  // namespace

std::string_view ErrorCodeName(TCrashLogErrorCode code) noexcept {
  const auto index = static_cast<std::size_t>(code);
  return index < kCodeNames.size() ? kCodeNames[index] : kCodeNames[0];
}

std::string WarningText(TCrashLogErrorCode code, std::string_view message) {
  std::string text = "[WARNING] - Code: ";
  text += ErrorCodeName(code);
  text += " - Message: \"";
  text += message;
  text += "\"";
  return text;
}

std::string SectionErrorMessage(std::string_view section, bool isException, std::string_view exceptionMessage) {
  if (isException) return "[" + std::string(section) + "] " + std::string(exceptionMessage);
  return "General '" + std::string(section) + "' error.";
}

TCrashLogErrorCode LastErrorCode() noexcept {
  std::lock_guard guard(LastErrorLock());
  return lastErrorCode;
}

std::string LastErrorMessage() {
  std::lock_guard guard(LastErrorLock());
  return LastErrorMessageStore();
}

void ReportWarning(TCrashLogErrorCode code, std::string_view message) noexcept {
  try {
    {
      std::lock_guard guard(LastErrorLock());
      lastErrorCode = code;
      LastErrorMessageStore() = message;
    }
    const std::string text = WarningText(code, message);
    Trace(text);
    DebuggerOutput(text);
    if (code == eeEmailSMTPError && SmtpProgressOpen()) {
      const TWindowTexts texts = WindowTexts();
      ReporterMessageBox(FillPlaceholders(texts.SmtpErrorMessage, {message}), texts.ErrorCaption, kErrorBoxFlags);
    }
  } catch (...) {
    // A warning that cannot even be recorded is dropped: the reporter must go on.
  }
}

void ReportSectionError(TCrashLogErrorCode code, std::string_view section) noexcept {
  try {
    const TExceptionObjectInfo current = DescribeCurrentException();
    ReportWarning(code, SectionErrorMessage(section, current.IsException, current.Message));
  } catch (...) {
  }
}

void ClearLastError() noexcept {
  std::lock_guard guard(LastErrorLock());
  lastErrorCode = eeNone;
  LastErrorMessageStore().clear();
}

void SetSmtpProgressOpen(bool open) noexcept { smtpProgressOpen.store(open); }

bool SmtpProgressOpen() noexcept { return smtpProgressOpen.load(); }

}  // namespace pelloran::crashlog
