#include "crashlog/delivery/send_report.h"

#include "crashlog/delivery/mail_client.h"
#include "crashlog/delivery/mail_text.h"
#include "crashlog/delivery/screenshot.h"
#include "crashlog/delivery/smtp.h"
#include "crashlog/delivery/smtp_progress.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/option_texts.h"

#include <windows.h>

namespace pelloran::crashlog {

namespace {

enum : std::uint8_t { kSendNone = 0, kSendMailClient = 1, kSendSmtp = 2, kSendSmtpDirect = 3 };

// The log copy lives only while the report is sent.
class TLogCopyFile {
 public:
  explicit TLogCopyFile(std::string path) : path_(std::move(path)) {}
  TLogCopyFile(const TLogCopyFile&) = delete;
  TLogCopyFile& operator=(const TLogCopyFile&) = delete;
  ~TLogCopyFile() {
    if (!path_.empty()) ::DeleteFileA(path_.c_str());
  }

 private:
  std::string path_;
};

bool Deliver(const TCrashModuleOptions& options, const TReportDelivery& delivery) {
  const std::uint8_t mode = options.SendMode();
  const std::string body = ReportMailBody(options, delivery.SendText);
  const std::vector<std::string> attachments = ReportAttachments(options, delivery);
  bool execute = false;
  if (mode == kSendSmtp || mode == kSendSmtpDirect) {
    TSmtpProgressSetup progress;
    progress.Show = options.ShowSendProgress() && delivery.GuiApplication;
    progress.Caption = TextOf(options.Values(), TCrashText::SmtpCaption);
    progress.RecipientLabel = TextOf(options.Values(), TCrashText::SmtpRecipientLabel);
    progress.CustomLook = options.CustomDialogLook();
    StartSmtpProgress(progress);
    TSmtpMail mail;
    mail.Resolve = mode == kSendSmtpDirect;
    mail.Sender = options.SenderAddress();
    mail.Host = options.SmtpHost();
    mail.Attachments = attachments;
    mail.Body = body;
    mail.Subject = options.MailSubject();
    mail.Recipients = options.MailAddresses();
    mail.User = options.SmtpUser();
    mail.Password = options.SmtpPassword();
    mail.Port = options.SmtpPort();
    const TCrashOptionValues& values = options.Values();
    const TSmtpStatusTexts texts{TextOf(values, TCrashText::SmtpResolvingStatus), TextOf(values, TCrashText::SmtpConnectingStatus),
                                 TextOf(values, TCrashText::SmtpConnectedStatus), TextOf(values, TCrashText::SmtpSendingStatus)};
    execute = SendMailSmtp(mail, texts);
  } else {
    execute = SendByMapi(options.MailAddresses(), options.MailSubject(), body, attachments);
    if (!execute) {
      TMailtoMail mail;
      mail.Recipients = options.MailAddresses();
      mail.Subject = options.MailSubject();
      mail.Message = options.MailBody();
      mail.ReportText = delivery.ReportText;
      mail.ReproduceText = delivery.ReproduceText;
      mail.CutNote = options.MailtoCutNote();
      execute = SendByMailto(mail);
    }
  }
  return execute;
}

}  // namespace

std::string LogCopyPath(const TCrashModuleOptions& options) {
  return LogCopyPathFor(TemporaryFolder(), options.LogInMailBody(), options.OutputLogFile());
}

bool SaveLogCopy(const TCrashModuleOptions& options, const std::string& sendText) {
  const std::string path = LogCopyPath(options);
  if (path.empty()) return true;
  const std::string text = CrLfLines(sendText);
  const HANDLE file =
      ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size();
  ::CloseHandle(file);
  return ok;
}

std::vector<std::string> ReportAttachments(const TCrashModuleOptions& options, const TReportDelivery& delivery) {
  std::vector<std::string> attachments{LogCopyPath(options), delivery.ScreenshotRequested ? delivery.ScreenshotPath : std::string()};
  attachments.insert(attachments.end(), delivery.Files.begin(), delivery.Files.end());
  return attachments;
}

std::string ReportMailBody(const TCrashModuleOptions& options, const std::string& sendText) {
  return options.MailBody() + (options.LogInMailBody() ? "\r\n\r\n\r\n" + sendText : std::string());
}

bool SendErrorReport(const TReportDelivery& delivery) {
  if (!delivery.Options) return false;
  const TCrashModuleOptions& options = *delivery.Options;
  TraceEnter("SendErrorReport", {static_cast<int>(options.SendMode())});
  bool execute = true;
  ClearLastError();
  SaveLogCopy(options, delivery.SendText);
  const TLogCopyFile logCopy(LogCopyPath(options));

  if (delivery.BeforeSend) execute = delivery.BeforeSend(execute);
  if (execute) {
    bool retry = false;
    do {
      execute = Deliver(options, delivery);
      retry = false;
      if (!execute && delivery.SendFailed) retry = delivery.SendFailed();
    } while (retry);
    if (delivery.AfterSend) execute = delivery.AfterSend(execute);
  }
  TraceLeave("SendErrorReport", {execute});
  return execute;
}

}  // namespace pelloran::crashlog
