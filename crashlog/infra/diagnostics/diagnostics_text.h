#pragma once
// Texts and byte layouts of the reporter's own diagnostics: the internal-error messages and the
// EXCEPT channel payload through which a module tells the others which exception it raised last.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

// Where the reporter's maker takes bug mail.
inline constexpr std::string_view kSupportAddress = "crashlog-support@example.com";
inline constexpr std::string_view kBugReportAddress = "crashlog-bugs@example.org";
inline constexpr std::string_view kInternalBugCaption = "Probably internal bug";
inline constexpr std::string_view kGeneralInternalError = "General internal error.";

// [ERROR] - Section: <section> - Message: "<message>"
std::string InternalErrorText(std::string_view section, std::string_view message);
// The question asked before mailing a bug in the reporter itself.
std::string InternalBugQuestion(std::string_view message);
// What to do by hand when no mail client could take the bug mail.
std::string MailClientUnavailableText(std::string_view logFile);
// "Memory Dump: " followed by "$XX " for each byte.
std::string MemoryDumpText(std::span<const std::uint8_t> bytes);

// EXCEPT payload: u8 1, then class name and message, each as u32 byte count and bytes. A value
// whose first CR LF is its last two characters is stored without them.
std::vector<std::uint8_t> EncodeExceptPayload(std::string_view className, std::string_view message);

struct TPublishedException {
  std::string ClassName;
  std::string Message;
};
// The published exception, or nothing when the payload holds none (first byte not 1) or is cut
// short or damaged.
std::optional<TPublishedException> DecodeExceptPayload(std::span<const std::uint8_t> payload);

// The stored form of one value: without a final CR LF when that is its first CR LF.
std::string_view WithoutFinalLineBreak(std::string_view value);

}  // namespace pelloran::crashlog
