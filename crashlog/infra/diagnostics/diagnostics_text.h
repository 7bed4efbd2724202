#pragma once
// Texts and byte layouts of the reporter's own diagnostics: the internal-error messages and the
// EXCEPT channel payload through which a module tells the others which exception it raised last.

#include <cstdint>
#include <initializer_list>
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
// The English defaults of the texts of the reporter's own message boxes (the options hold them):
// %1 the failure's message.
inline constexpr std::string_view kInternalBugQuestion =
    "Error: '%1'\r\n\r\nThis is an internal CrashLog bug.\r\nDo you want to send the bug information to CrashLog author?";
inline constexpr std::string_view kMailClientMissingCaption = "Information";
// %1 the trace file, %2 the address to send it to.
inline constexpr std::string_view kMailClientMissingMessage =
    "Cannot connect with your email client.\r\nPlease send the file \"%1\" by hand to %2\r\nafter click on OK button to "
    "close this box.";

// `text` with every %1 to %9 replaced by values[0] to values[8] (a number without a value stays as
// it is); what is put in is not looked at again.
std::string FillPlaceholders(std::string_view text, std::initializer_list<std::string_view> values);

// [ERROR] - Section: <section> - Message: "<message>"
std::string InternalErrorText(std::string_view section, std::string_view message);
// The question asked before mailing a bug in the reporter itself, from its text (%1 the message).
std::string InternalBugQuestion(std::string_view message, std::string_view text = kInternalBugQuestion);
// What to do by hand when no mail client could take the bug mail, from its text (%1 the file).
std::string MailClientUnavailableText(std::string_view logFile, std::string_view text = kMailClientMissingMessage);
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
