#pragma once
// A test-side writer of OptionStreams in every stored layout, written from the field lists of
// each DataVersion and independent of the library's writer: the loader is checked against
// bytes it did not produce itself.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pelloran::crashlog::testing {

// The values exactly as a given version stores them (no conversion applied).
struct TRawFields {
  std::uint8_t Activated = 1;
  std::uint8_t FilterActive = 1;
  std::uint8_t ReportOptions = 0x03;
  std::uint8_t ShowDialog = 1;  // before 450: 1 means "hide"
  std::uint8_t LogInMailBody = 1;
  std::uint8_t SendWholeLog = 1;
  std::uint8_t AttachScreenshot = 1;
  std::uint8_t ShowSendProgress = 1;
  std::uint8_t SaveLog = 1;
  std::uint8_t InitialDialogPage = 2;
  std::uint8_t CustomDialogLook = 1;
  std::uint8_t FreezeDetection = 1;
  std::int32_t FreezeTimeout = 5000;  // milliseconds before 422
  std::string FreezeMessage = "frozen!";
  std::string SenderAddress = "me@example.com";
  std::string SmtpHost = "smtp.example.com";
  std::uint16_t SmtpPort = 587;
  std::string SmtpUser = "user";
  std::string SmtpPassword = "secret";
  std::uint8_t TerminateAction = 0;
  std::uint8_t ShowTerminateButton = 1;
  std::int32_t MaxLoggedErrors = 0;
  std::int32_t TerminateAfterErrors = 7;
  std::string MailAddresses = "a@example.com;b@example.com";
  std::string MailSubject = "subject";
  std::uint8_t SendMode = 3;  // before 450: a flag, any non-zero value means "send"
  std::uint32_t ReportFields = 0x00ABCDEF;
  std::uint8_t ReportFieldsExtra = 0xEE;  // before 450 only
  std::string OutputPath = "D:\\logs";
  std::vector<std::pair<std::string, std::string>> Filters{{"EFoo", "foo msg"}, {"EBar", ""}};
  std::string MailBody = "body\r\nline2";
  std::array<std::string, 71> Texts = [] {
    std::array<std::string, 71> texts;
    for (int i = 0; i < 71; ++i) texts[i] = "text " + std::to_string(i) + " \xD6\xD0";  // GBK bytes too
    return texts;
  }();
};

// The first version that stores Texts[index] (0: all).
inline std::uint16_t LegacyTextFrom(int index) {
  switch (index) {
    case 14: return 421;
    case 15: return 420;
    case 8: case 9: case 10: case 11: case 16: case 17: case 18: case 23: case 37: case 45: case 47:
    case 48:
      return 450;
    default: return index >= 53 ? 450 : 0;
  }
}

class TLegacyWriter {
 public:
  void U8(std::uint8_t v) { bytes.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v & 0xFF));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v & 0xFFFF));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void Str(const std::string& s) {
    U32(static_cast<std::uint32_t>(s.size()));
    for (char c : s) U8(static_cast<std::uint8_t>(c) ^ 0x5B);
  }
  std::vector<std::uint8_t> bytes;
};

inline std::vector<std::uint8_t> BuildLegacyStream(std::uint16_t v, const TRawFields& f) {
  TLegacyWriter w;
  w.U8(f.Activated);
  w.U8(f.FilterActive);
  w.U8(f.ReportOptions);
  w.U8(f.ShowDialog);
  w.U8(f.LogInMailBody);
  if (v >= 450) {
    w.U8(f.SendWholeLog);
    w.U8(f.AttachScreenshot);
    w.U8(f.ShowSendProgress);
  }
  if (v >= 401) {
    w.U8(f.SaveLog);
    w.U8(f.InitialDialogPage);
  }
  if (v >= 403) w.U8(f.CustomDialogLook);
  if (v >= 420) {
    w.U8(f.FreezeDetection);
    w.U32(static_cast<std::uint32_t>(f.FreezeTimeout));
    w.Str(f.FreezeMessage);
    if (v >= 450) w.Str(f.SenderAddress);
    w.Str(f.SmtpHost);
  }
  if (v >= 450) w.U16(f.SmtpPort);
  if (v >= 421) {
    w.Str(f.SmtpUser);
    w.Str(f.SmtpPassword);
    w.U8(f.TerminateAction);
  }
  w.U8(f.ShowTerminateButton);
  w.U32(static_cast<std::uint32_t>(f.MaxLoggedErrors));
  w.U32(static_cast<std::uint32_t>(f.TerminateAfterErrors));
  w.Str(f.MailAddresses);
  w.Str(f.MailSubject);
  w.U8(f.SendMode);
  w.U32(f.ReportFields);
  if (v < 450) w.U8(f.ReportFieldsExtra);
  w.Str(f.OutputPath);
  w.U32(static_cast<std::uint32_t>(f.Filters.size()));
  for (const auto& [cls, msg] : f.Filters) {
    w.Str(cls);
    w.Str(msg);
  }
  w.Str(f.MailBody);
  for (int i = 0; i < 71; ++i)
    if (LegacyTextFrom(i) <= v) w.Str(f.Texts[i]);
  return std::move(w.bytes);
}

}  // namespace pelloran::crashlog::testing
