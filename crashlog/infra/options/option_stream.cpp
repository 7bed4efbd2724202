#include "crashlog/infra/options/option_stream.h"

#include <algorithm>

namespace pelloran::crashlog {

namespace {

struct TTextEntry {
  std::string_view Default;
  std::uint16_t From;  // 0: carried by every version
};

// Texts[0..70]: default and the first DataVersion that stores the entry.
constexpr std::array<TTextEntry, kTextCount> kTexts{{
    {"Information.", 0},
    {"Question.", 0},
    {"Error.", 0},
    {"An error has occurred during program execution.\r\n"
     "Please read the following information for further details.", 0},
    {"General", 0},
    {"General Information", 0},
    {"Call Stack", 0},
    {"Call Stack Information", 0},
    {"Modules", 450},
    {"Modules Information", 450},
    {"CPU", 450},                         // 10
    {"CPU Information", 450},
    {"&OK", 0},
    {"&Terminate", 0},
    {"&Restart", 421},
    {"&Details", 420},
    {"&Send this error via Email", 450},
    {"&Attach a Screenshot image", 450},
    {"&Copy to Clipboard", 450},
    {"Application", 0},
    {"Start Date", 0},                    // 20
    {"Name/Description", 0},
    {"Version Number", 0},
    {"Parameters", 450},
    {"Exception", 0},
    {"Date", 0},
    {"Address", 0},
    {"Module", 0},
    {"Type", 0},
    {"Message", 0},
    {"Active Controls", 0},               // 30
    {"Form Class", 0},
    {"Form Text", 0},
    {"Control Class", 0},
    {"Control Text", 0},
    {"Computer", 0},
    {"Name", 0},
    {"User", 450},
    {"Total Memory", 0},
    {"Free Memory", 0},
    {"Total Disk", 0},                    // 40
    {"Free Disk", 0},
    {"Operating System", 0},
    {"Type", 0},
    {"Build #", 0},
    {"Update", 450},
    {"Language", 0},
    {"Address", 450},
    {"Module", 450},
    {"Unit", 0},
    {"Class", 0},                         // 50
    {"Procedure/Method", 0},
    {"Line", 0},
    {"SMTP.", 450},
    {"Message", 450},
    {"Resolving MX record...", 450},
    {"Connecting with SMTP server...", 450},
    {"Connected with SMTP server.", 450},
    {"Sending message...", 450},
    {"Request", 450},
    {"Please describe the steps to reproduce the error:", 450},  // 60
    {"&OK", 450},
    {"Handle", 450},
    {"Name", 450},
    {"Description", 450},
    {"Version", 450},
    {"Size", 450},
    {"Path", 450},
    {"Registers", 450},
    {"Stack", 450},
    {"Memory Dump", 450},                 // 70
}};

// Older builds stored the sense of some fields differently; these are the version limits.
constexpr std::uint16_t kV422 = 422;  // FreezeTimeout in seconds instead of milliseconds
constexpr std::uint16_t kV450 = 450;  // current field set and senses

}  // namespace

const std::array<std::string_view, kReportFieldCount> kReportFieldNames{
    "Application|Start Date",      "Application|Name",           "Application|Version Number",
    "Application|Parameters",      "Exception|Date",             "Exception|Address",
    "Exception|Module",            "Exception|Type",             "Exception|Message",
    "Active Controls|Form Class",  "Active Controls|Form Text",  "Active Controls|Control Class",
    "Active Controls|Control Text", "Computer|Name",             "Computer|User",
    "Computer|Total Memory",       "Computer|Free Memory",       "Computer|Total Disk",
    "Computer|Free Disk",          "Operating System|Type",      "Operating System|Build #",
    "Operating System|Update",     "Operating System|Language",
};

std::string_view DefaultText(int index) {
  if (index < 0 || index >= kTextCount) return {};
  return kTexts[static_cast<std::size_t>(index)].Default;
}

std::uint16_t TextFromVersion(int index) {
  if (index < 0 || index >= kTextCount) return 0xFFFF;
  return kTexts[static_cast<std::size_t>(index)].From;
}

std::array<std::string, kTextCount> TCrashOptionValues::DefaultTexts() {
  std::array<std::string, kTextCount> texts;
  for (int i = 0; i < kTextCount; ++i) texts[static_cast<std::size_t>(i)] = std::string(DefaultText(i));
  return texts;
}

std::string ScrambleText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kScrambleKey);
  return out;
}

std::string_view StripFinalCrLf(std::string_view text) {
  const std::size_t first = text.find("\r\n");
  if (first != std::string_view::npos && first + 2 == text.size()) text.remove_suffix(2);
  return text;
}

void WriteStoredString(TByteWriter& out, std::string_view text) {
  text = StripFinalCrLf(text);
  out.U32(static_cast<std::uint32_t>(text.size()));
  out.Bytes(ScrambleText(text));
}

bool ReadStoredString(TByteReader& in, std::string& text) {
  std::uint32_t count;
  std::span<const std::uint8_t> bytes;
  if (!in.ReadU32(count) || !in.ReadBytes(count, bytes)) return false;
  text.assign(bytes.begin(), bytes.end());
  for (char& c : text) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kScrambleKey);
  return true;
}

namespace {

// One stored value by its type.
void Put(TByteWriter& out, bool value) { out.Bool(value); }
void Put(TByteWriter& out, std::uint8_t value) { out.U8(value); }
void Put(TByteWriter& out, std::uint16_t value) { out.U16(value); }
void Put(TByteWriter& out, std::int32_t value) { out.I32(value); }
void Put(TByteWriter& out, std::uint32_t value) { out.U32(value); }
void Put(TByteWriter& out, const std::string& value) { WriteStoredString(out, value); }

bool Get(TByteReader& in, bool& value) { return in.ReadBool(value); }
bool Get(TByteReader& in, std::uint8_t& value) { return in.ReadU8(value); }
bool Get(TByteReader& in, std::uint16_t& value) { return in.ReadU16(value); }
bool Get(TByteReader& in, std::int32_t& value) { return in.ReadI32(value); }
bool Get(TByteReader& in, std::uint32_t& value) { return in.ReadU32(value); }
bool Get(TByteReader& in, std::string& value) { return ReadStoredString(in, value); }

// What the conversions of older layouts see: the layout read and the values read so far.
struct TLoadContext {
  TByteReader& In;
  std::uint16_t Version;
  const TCrashOptionValues& Values;
};

// The conversions named in option_list.h, applied after the field was read.
template <typename T>
void AsStored(T&, const TLoadContext&) {}

// Builds before 450 stored "hide the dialog".
void HideFlagBefore450(bool& value, const TLoadContext& c) {
  if (c.Version < kV450) value = !value;
}

// Builds before 422 stored milliseconds.
void MillisecondsBefore422(std::int32_t& value, const TLoadContext& c) {
  if (c.Version < kV422) value /= 1000;
}

// Builds before 450 stored one "send by mail" flag: SMTP when a server was configured.
void SendFlagBefore450(std::uint8_t& value, const TLoadContext& c) {
  if (c.Version < kV450 && value != kSendNone) value = c.Values.SmtpHost.empty() ? kSendMailClient : kSendSmtpServer;
}

// Builds before 450 stored the set one byte wider.
void WiderSetBefore450(std::uint32_t&, const TLoadContext& c) {
  if (c.Version < kV450) c.In.Skip(1);
}

#define PELLORAN_CHECK_RECORD_FIELD(Type, Name, Default, From, Load, Access) \
  static_assert((From) <= kCurrentDataVersion, #Name " is not part of the record's layout");
PELLORAN_OPTIONS_RECORD(PELLORAN_CHECK_RECORD_FIELD)
#undef PELLORAN_CHECK_RECORD_FIELD

// The block holds the fields of the layouts after the record, each layout's after the one before.
constexpr std::uint16_t kAddedFrom[] = {
#define PELLORAN_ADDED_FROM(Type, Name, Default, From, Load, Access) From,
    PELLORAN_OPTIONS_ADDED(PELLORAN_ADDED_FROM)
#undef PELLORAN_ADDED_FROM
};
constexpr bool AddedFieldsInLayoutOrder() {
  std::uint16_t last = kCurrentDataVersion + 1;
  for (const std::uint16_t from : kAddedFrom) {
    if (from < last || from > kAddedBlockVersion) return false;
    last = from;
  }
  return true;
}
static_assert(AddedFieldsInLayoutOrder(), "added fields belong after the record, in the order of their layouts");

#define PELLORAN_SAVE_FIELD(Type, Name, Default, From, Load, Access) Put(out, v.Name);
// A layout carries the fields from their first layout on.
bool Carries(std::uint16_t version, std::uint16_t from) { return version >= from; }

#define PELLORAN_LOAD_FIELD(Type, Name, Default, From, Load, Access) \
  if (Carries(c.Version, From) && Get(c.In, v.Name)) Load(v.Name, c);

}  // namespace

void SaveOptionRecord(const TCrashOptionValues& v, TByteWriter& out) {
  PELLORAN_OPTIONS_BEFORE_FILTER(PELLORAN_SAVE_FIELD)
  const std::size_t pairs = std::max(v.FilterClasses.size(), v.FilterMessages.size());
  out.I32(static_cast<std::int32_t>(pairs));
  for (std::size_t i = 0; i < pairs; ++i) {
    WriteStoredString(out, i < v.FilterClasses.size() ? std::string_view(v.FilterClasses[i]) : "");
    WriteStoredString(out, i < v.FilterMessages.size() ? std::string_view(v.FilterMessages[i]) : "");
  }
  PELLORAN_OPTIONS_AFTER_FILTER(PELLORAN_SAVE_FIELD)
  for (const std::string& text : v.Texts) WriteStoredString(out, text);
}

void SaveAddedBlock(const TCrashOptionValues& v, TByteWriter& block) {
  TByteWriter out;
  PELLORAN_OPTIONS_ADDED(PELLORAN_SAVE_FIELD)
  block.U16(kAddedBlockVersion);
  block.U32(static_cast<std::uint32_t>(out.Size()));
  block.Bytes(out.Data());
}

void SaveOptionStream(const TCrashOptionValues& values, TByteWriter& out) {
  SaveOptionRecord(values, out);
  SaveAddedBlock(values, out);
}

std::vector<std::uint8_t> SaveOptionStream(const TCrashOptionValues& values) {
  TByteWriter out;
  SaveOptionStream(values, out);
  return out.Take();
}

bool LoadOptionRecord(TByteReader& in, std::uint16_t version, TCrashOptionValues& v) {
  const TLoadContext c{in, version, v};
  PELLORAN_OPTIONS_BEFORE_FILTER(PELLORAN_LOAD_FIELD)
  std::int32_t pairs;
  if (in.ReadI32(pairs)) {
    v.FilterClasses.clear();
    v.FilterMessages.clear();
    // The count is not trusted for reserving memory: the loop ends with the stream.
    for (std::int32_t i = 0; i < pairs && in.Ok(); ++i) {
      std::string filterClass, filterMessage;
      if (!ReadStoredString(in, filterClass) || !ReadStoredString(in, filterMessage)) break;
      v.FilterClasses.push_back(std::move(filterClass));
      v.FilterMessages.push_back(std::move(filterMessage));
    }
  }
  PELLORAN_OPTIONS_AFTER_FILTER(PELLORAN_LOAD_FIELD)
  for (int i = 0; i < kTextCount; ++i)
    if (TextFromVersion(i) <= version) ReadStoredString(in, v.Texts[static_cast<std::size_t>(i)]);
  return in.Ok();
}

bool LoadAddedBlock(TByteReader& in, TCrashOptionValues& v) {
  std::uint16_t version;
  std::uint32_t size;
  std::span<const std::uint8_t> bytes;
  if (!in.ReadU16(version) || !in.ReadU32(size) || !in.ReadBytes(size, bytes)) return false;
  TByteReader block(bytes);
  const TLoadContext c{block, version, v};
  PELLORAN_OPTIONS_ADDED(PELLORAN_LOAD_FIELD)
  return true;
}

bool LoadOptionStream(TByteReader& in, std::uint16_t version, TCrashOptionValues& values) {
  if (!LoadOptionRecord(in, version, values)) return false;
  return in.Remaining() == 0 || LoadAddedBlock(in, values);
}

}  // namespace pelloran::crashlog
