#pragma once
// The stored form of a module's crash-reporter options (the OptionStream): the values it carries,
// their defaults, and the layouts of every DataVersion that older builds wrote. Pure code (no
// platform headers): the build tool that writes the ELDATA resource links it on the build machine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_stream_le.h"

namespace pelloran::crashlog {

// The layout this build writes.
inline constexpr std::uint16_t kCurrentDataVersion = 454;
// Stored option strings and debug names are scrambled with this one-byte key.
inline constexpr std::uint8_t kScrambleKey = 0x5B;

inline constexpr int kTextCount = 71;
// Report fields: bit n of ReportFields shows the n-th entry; bits 23 to 31 name no field.
inline constexpr int kReportFieldCount = 23;
extern const std::array<std::string_view, kReportFieldCount> kReportFieldNames;

// ReportOptions elements (bit numbers).
inline constexpr std::uint8_t kSkipDuplicates = 0x01;
inline constexpr std::uint8_t kAskReproduceSteps = 0x02;

// SendMode values.
enum : std::uint8_t { kSendNone = 0, kSendMailClient = 1, kSendSmtpServer = 2, kSendSmtpDirect = 3 };

// The default of Texts[index].
std::string_view DefaultText(int index);
// The lowest DataVersion whose OptionStream carries Texts[index] (0: every version).
std::uint16_t TextFromVersion(int index);

inline constexpr std::string_view kDefaultSenderAddress = "crashlog@pelloran.example.com";
inline constexpr std::string_view kDefaultFreezeMessage = "The application seems to be frozen.";

// Every field that the OptionStream carries, with its default.
struct TCrashOptionValues {
  bool Activated = true;
  bool FilterActive = true;
  std::uint8_t ReportOptions = 0;
  bool ShowDialog = true;
  bool LogInMailBody = false;
  bool SendWholeLog = false;
  bool AttachScreenshot = false;
  bool ShowSendProgress = true;
  bool SaveLog = true;
  std::uint8_t InitialDialogPage = 0;
  bool CustomDialogLook = true;
  bool FreezeDetection = false;
  std::int32_t FreezeTimeout = 60;  // seconds
  std::string FreezeMessage{kDefaultFreezeMessage};
  std::string SenderAddress{kDefaultSenderAddress};
  std::string SmtpHost;
  std::uint16_t SmtpPort = 25;
  std::string SmtpUser;
  std::string SmtpPassword;
  std::uint8_t TerminateAction = 1;  // 0 terminate, 1 restart
  bool ShowTerminateButton = true;
  std::int32_t MaxLoggedErrors = 32;
  std::int32_t TerminateAfterErrors = 3;
  std::string MailAddresses;
  std::string MailSubject;
  std::uint8_t SendMode = kSendNone;
  std::uint32_t ReportFields = 0xFFFFFFFFu;
  std::string OutputPath;
  std::vector<std::string> FilterClasses;
  std::vector<std::string> FilterMessages;
  std::string MailBody;
  std::array<std::string, kTextCount> Texts = DefaultTexts();

  static std::array<std::string, kTextCount> DefaultTexts();
  bool operator==(const TCrashOptionValues&) const = default;
};

// XOR with kScrambleKey; applying it twice gives the text back.
std::string ScrambleText(std::string_view text);
// A value whose first CR LF pair is its last two characters loses that pair; a value with an
// earlier CR LF keeps everything.
std::string_view StripFinalCrLf(std::string_view text);

// "str": u32 byte count, then the scrambled bytes (the final CR LF rule applied first).
void WriteStoredString(TByteWriter& out, std::string_view text);
// Reads one "str"; on a short stream `text` is left as it was and false is returned.
bool ReadStoredString(TByteReader& in, std::string& text);

// Appends the current layout (kCurrentDataVersion). Filter lists of unequal length are padded
// with empty strings to the longer one.
void SaveOptionStream(const TCrashOptionValues& values, TByteWriter& out);
std::vector<std::uint8_t> SaveOptionStream(const TCrashOptionValues& values);

// Reads the layout of DataVersion `version` over `values`: fields the version does not carry,
// and every field after the point where the stream ends or is damaged, keep their values.
// Returns false when the stream ended early. The reader stays positioned after the stream.
bool LoadOptionStream(TByteReader& in, std::uint16_t version, TCrashOptionValues& values);

}  // namespace pelloran::crashlog
