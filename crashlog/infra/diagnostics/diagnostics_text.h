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

// EXCEPT payload: u8 1, then class name and message, each as u32 byte count and bytes, then the
// raise they describe: u32 thread id and u32 address (the instruction a report names). A value
// whose first CR LF is its last two characters is stored without them. Readers that know only
// the two strings read them as before.
struct TPublishedException {
  std::string ClassName;
  std::string Message;
  std::uint32_t ThreadId = 0;  // 0: the payload does not say (a writer that wrote only the strings)
  std::uint32_t Address = 0;
  // True when the payload says it describes the raise of `threadId` at `address` (a raise
  // without an address describes none a report could name).
  bool Describes(std::uint32_t threadId, std::uintptr_t address) const noexcept {
    return ThreadId != 0 && Address != 0 && ThreadId == threadId && Address == address;
  }
};

// Writes the payload into `out` and returns the bytes used; 0 when `out` cannot hold even the
// empty form (kExceptPayloadOverhead). Texts that do not fit are cut, class name first to at most
// kExceptClassNameLimit bytes, and end in "..." to show it; a cut never splits a double-byte
// character of the ANSI code page.
std::size_t WriteExceptPayload(std::span<std::uint8_t> out, std::string_view className, std::string_view message,
                               std::uint32_t threadId, std::uint32_t address) noexcept;
inline constexpr std::size_t kExceptPayloadOverhead = 1 + 4 + 4 + 4 + 4;
inline constexpr std::size_t kExceptClassNameLimit = 1024;
std::vector<std::uint8_t> EncodeExceptPayload(std::string_view className, std::string_view message,
                                              std::uint32_t threadId = 0, std::uint32_t address = 0);

// The published exception, or nothing when the payload holds none (first byte not 1) or is cut
// short or damaged. Thread and address are 0 when the payload ends after the strings.
std::optional<TPublishedException> DecodeExceptPayload(std::span<const std::uint8_t> payload);

// The length of the longest start of `text` that fits in `limit` bytes with `mark` appended and
// does not end inside a double-byte character (GBK lead bytes 0x81..0xFE take the next byte
// along); `text.size()` when the whole text fits without a mark.
std::size_t CutLength(std::string_view text, std::size_t limit, std::size_t markLength) noexcept;

// The stored form of one value: without a final CR LF when that is its first CR LF.
std::string_view WithoutFinalLineBreak(std::string_view value);

}  // namespace pelloran::crashlog
