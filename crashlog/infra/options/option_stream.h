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
#include "crashlog/infra/options/option_list.h"

namespace pelloran::crashlog {

// The layout of the record this build writes (the DataVersion of its containers).
inline constexpr std::uint16_t kCurrentDataVersion = 454;
// The layout of the added block this build writes after the record's 71 texts: the fields of
// option_list.h from 455 on.
inline constexpr std::uint16_t kAddedBlockVersion = 455;
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

// Every field that the OptionStream carries, with its default (option_list.h).
struct TCrashOptionValues {
#define PELLORAN_DECLARE_OPTION(Type, Name, Default, From, Load, Access) Type Name{Default};
  PELLORAN_OPTIONS(PELLORAN_DECLARE_OPTION)
#undef PELLORAN_DECLARE_OPTION
  std::vector<std::string> FilterClasses;
  std::vector<std::string> FilterMessages;
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

// The OptionStream: the record (the layout of kCurrentDataVersion, which every reader knows),
// then the added block: u16 its layout, u32 n, and in n bytes the fields of option_list.h from 455
// on that this layout carries, in list order. A reader takes the fields it knows and skips the
// rest of the n bytes. Filter lists of unequal length are padded with empty strings to the longer.
void SaveOptionStream(const TCrashOptionValues& values, TByteWriter& out);
std::vector<std::uint8_t> SaveOptionStream(const TCrashOptionValues& values);
void SaveOptionRecord(const TCrashOptionValues& values, TByteWriter& out);
void SaveAddedBlock(const TCrashOptionValues& values, TByteWriter& out);

// Reads the record of DataVersion `version` over `values`, then the added block when bytes remain:
// fields the layouts do not carry, and every field after the point where the stream ends or is
// damaged, keep their values. Returns false when the stream ended early. The reader stays
// positioned after the stream.
bool LoadOptionStream(TByteReader& in, std::uint16_t version, TCrashOptionValues& values);
bool LoadOptionRecord(TByteReader& in, std::uint16_t version, TCrashOptionValues& values);
// A block whose fields end before its byte count says keeps the fields after that end; the
// reader still moves past the whole block.
bool LoadAddedBlock(TByteReader& in, TCrashOptionValues& values);

}  // namespace pelloran::crashlog
