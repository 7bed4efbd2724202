#include "crashlog/infra/diagnostics/diagnostics.h"

#include "crashlog/infra/diagnostics/crashlog_version.h"
#include "crashlog/infra/diagnostics/diagnostics_platform.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/diagnostics/window_texts.h"

#include <atomic>
#include <mutex>

namespace pelloran::crashlog {

namespace {

constexpr std::size_t kDumpSize = 32;

std::atomic<TBugMailSender> bugMailSender{nullptr};

struct ExceptState {
  std::mutex Lock;
  SharedChannel Channel;
  TLastRaise LastRaise;
};

// Never destroyed: exceptions raised while the program finalises are still published.
ExceptState& Except() {
  static ExceptState* const state = new ExceptState;
  return *state;
}

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

void Publish(TLastRaise raise) {
  const std::vector<std::uint8_t> payload =
      EncodeExceptPayload(ExceptionClassText(raise.Info), ExceptionMessageText(raise.Info));
  ExceptState& state = Except();
  std::lock_guard guard(state.Lock);
  state.LastRaise = std::move(raise);
  // A new block of the payload's size each time; readers elsewhere keep the old one until they
  // close it.
  ReplaceSharedChannel(state.Channel, kExceptChannel, ThisModule(), payload);
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

void CreateExceptChannel() noexcept {
  try {
    ExceptState& state = Except();
    std::lock_guard guard(state.Lock);
    const std::uint8_t nothing = 0;
    ReplaceSharedChannel(state.Channel, kExceptChannel, ThisModule(), std::span(&nothing, 1));
  } catch (...) {
  }
}

void CloseExceptChannel() noexcept {
  ExceptState& state = Except();
  std::lock_guard guard(state.Lock);
  state.Channel.Delete();
}

void PublishException(const std::exception_ptr& object, const void* address, bool flag) noexcept {
  try {
    Publish(TLastRaise{object, DescribeException(object), address, flag});
  } catch (...) {
  }
}

void PublishException(const TExceptionObjectInfo& object, const void* address, bool flag) noexcept {
  try {
    Publish(TLastRaise{nullptr, object, address, flag});
  } catch (...) {
  }
}

TLastRaise LastRaisedException() {
  ExceptState& state = Except();
  std::lock_guard guard(state.Lock);
  return state.LastRaise;
}

void ClearLastRaisedException() noexcept {
  ExceptState& state = Except();
  std::lock_guard guard(state.Lock);
  state.LastRaise = TLastRaise{};
}

std::optional<TPublishedException> TakePublishedException(HMODULE module) noexcept {
  try {
    SharedChannel channel = SharedChannel::Open(kExceptChannel, module);
    if (!channel || channel.PayloadSize() == 0) return std::nullopt;
    auto published = DecodeExceptPayload(channel.Bytes());
    if (published) channel.Payload()[0] = 0;
    return published;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace pelloran::crashlog
