#include "crashlog/infra/diagnostics/diagnostics.h"

#include "crashlog/infra/diagnostics/crashlog_version.h"
#include "crashlog/infra/diagnostics/diagnostics_platform.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/diagnostics/window_texts.h"

#include <atomic>

namespace pelloran::crashlog {

namespace {

constexpr std::size_t kDumpSize = 32;

std::atomic<TBugMailSender> bugMailSender{nullptr};

void OfferBugMail(const std::string& message) {
  const TWindowTexts texts = WindowTexts();
  const int answer =
      ReporterMessageBox(InternalBugQuestion(message, texts.InternalBugQuestion), texts.InternalBugCaption, kInternalBugBoxFlags);
  if (answer != kAnswerYes) return;
  if (TraceLog().Switches().Debug) SaveTrace();
  const std::string logFile = TraceLog().LogPath();
  const TBugMailSender send = bugMailSender.load();
  const std::string subject = std::string(kCrashLogTitle) + " critical bug.";
  if (send != nullptr && send(std::string(kSupportAddress), subject, subject, logFile)) return;
  ReporterMessageBox(MailClientUnavailableText(logFile, texts.MailClientMissingMessage), texts.MailClientMissingCaption,
                     kInformationBoxFlags);
}

}  // namespace

void HandleInternalError(std::string_view section, const void* exceptionAddress) noexcept {
  try {
    const TExceptionObjectInfo current = DescribeCurrentException();
    if (current.IsAbort) return;
    const std::string message = current.IsException ? current.Message : std::string(kGeneralInternalError);
    const std::string text = InternalErrorText(section, message);
    DebuggerOutput(text);
    Trace(text);
    const auto bytes = exceptionAddress != nullptr ? ReadProcessBytes(exceptionAddress, kDumpSize) : std::nullopt;
    Trace(MemoryDumpText(bytes ? std::span<const std::uint8_t>(*bytes) : std::span<const std::uint8_t>()));
    SaveTrace();
    if (TraceEnabled()) OfferBugMail(message);
  } catch (...) {
    // The handler of last resort has nobody left to tell.
  }
}

TBugMailSender SetBugMailSender(TBugMailSender sender) noexcept { return bugMailSender.exchange(sender); }

}  // namespace pelloran::crashlog
