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
constexpr std::uint16_t kV401 = 401;  // SaveLog, InitialDialogPage
constexpr std::uint16_t kV403 = 403;  // CustomDialogLook
constexpr std::uint16_t kV420 = 420;  // freeze fields, SmtpHost
constexpr std::uint16_t kV421 = 421;  // SmtpUser, SmtpPassword, TerminateAction
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

void SaveOptionStream(const TCrashOptionValues& v, TByteWriter& out) {
  out.Bool(v.Activated);
  out.Bool(v.FilterActive);
  out.U8(v.ReportOptions);
  out.Bool(v.ShowDialog);
  out.Bool(v.LogInMailBody);
  out.Bool(v.SendWholeLog);
  out.Bool(v.AttachScreenshot);
  out.Bool(v.ShowSendProgress);
  out.Bool(v.SaveLog);
  out.U8(v.InitialDialogPage);
  out.Bool(v.CustomDialogLook);
  out.Bool(v.FreezeDetection);
  out.I32(v.FreezeTimeout);
  WriteStoredString(out, v.FreezeMessage);
  WriteStoredString(out, v.SenderAddress);
  WriteStoredString(out, v.SmtpHost);
  out.U16(v.SmtpPort);
  WriteStoredString(out, v.SmtpUser);
  WriteStoredString(out, v.SmtpPassword);
  out.U8(v.TerminateAction);
  out.Bool(v.ShowTerminateButton);
  out.I32(v.MaxLoggedErrors);
  out.I32(v.TerminateAfterErrors);
  WriteStoredString(out, v.MailAddresses);
  WriteStoredString(out, v.MailSubject);
  out.U8(v.SendMode);
  out.U32(v.ReportFields);
  WriteStoredString(out, v.OutputPath);
  const std::size_t pairs = std::max(v.FilterClasses.size(), v.FilterMessages.size());
  out.I32(static_cast<std::int32_t>(pairs));
  for (std::size_t i = 0; i < pairs; ++i) {
    WriteStoredString(out, i < v.FilterClasses.size() ? std::string_view(v.FilterClasses[i]) : "");
    WriteStoredString(out, i < v.FilterMessages.size() ? std::string_view(v.FilterMessages[i]) : "");
  }
  WriteStoredString(out, v.MailBody);
  for (const std::string& text : v.Texts) WriteStoredString(out, text);
}

std::vector<std::uint8_t> SaveOptionStream(const TCrashOptionValues& values) {
  TByteWriter out;
  SaveOptionStream(values, out);
  return out.Take();
}

bool LoadOptionStream(TByteReader& in, std::uint16_t version, TCrashOptionValues& v) {
  in.ReadBool(v.Activated);
  in.ReadBool(v.FilterActive);
  in.ReadU8(v.ReportOptions);
  // Builds before 450 stored "hide the dialog".
  if (in.ReadBool(v.ShowDialog) && version < kV450) v.ShowDialog = !v.ShowDialog;
  in.ReadBool(v.LogInMailBody);
  if (version >= kV450) {
    in.ReadBool(v.SendWholeLog);
    in.ReadBool(v.AttachScreenshot);
    in.ReadBool(v.ShowSendProgress);
  }
  if (version >= kV401) {
    in.ReadBool(v.SaveLog);
    in.ReadU8(v.InitialDialogPage);
  }
  if (version >= kV403) in.ReadBool(v.CustomDialogLook);
  if (version >= kV420) {
    in.ReadBool(v.FreezeDetection);
    // Builds before 422 stored milliseconds.
    if (in.ReadI32(v.FreezeTimeout) && version < kV422) v.FreezeTimeout /= 1000;
    ReadStoredString(in, v.FreezeMessage);
    if (version >= kV450) ReadStoredString(in, v.SenderAddress);
    ReadStoredString(in, v.SmtpHost);
  }
  if (version >= kV450) in.ReadU16(v.SmtpPort);
  if (version >= kV421) {
    ReadStoredString(in, v.SmtpUser);
    ReadStoredString(in, v.SmtpPassword);
    in.ReadU8(v.TerminateAction);
  }
  in.ReadBool(v.ShowTerminateButton);
  in.ReadI32(v.MaxLoggedErrors);  // stored as is: 0 is not raised to 1 here
  in.ReadI32(v.TerminateAfterErrors);
  ReadStoredString(in, v.MailAddresses);
  ReadStoredString(in, v.MailSubject);
  // Builds before 450 stored one "send by mail" flag: SMTP when a server was configured.
  if (in.ReadU8(v.SendMode) && version < kV450 && v.SendMode != kSendNone)
    v.SendMode = v.SmtpHost.empty() ? kSendMailClient : kSendSmtpServer;
  in.ReadU32(v.ReportFields);
  if (version < kV450) in.Skip(1);  // older builds stored the set one byte wider
  ReadStoredString(in, v.OutputPath);

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
  ReadStoredString(in, v.MailBody);
  for (int i = 0; i < kTextCount; ++i)
    if (TextFromVersion(i) <= version) ReadStoredString(in, v.Texts[static_cast<std::size_t>(i)]);
  return in.Ok();
}

}  // namespace pelloran::crashlog
