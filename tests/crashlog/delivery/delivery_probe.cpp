// Calls SendErrorReport the way the crash pipeline will, with the options given as name=value
// arguments, and prints what came of it. Run by delivery_peers_test.py against real peers.
//   screenshot=1     capture the screen first and attach it (kept in keep=<folder>)
//   mode= to= host= port= from= user= password= subject= body= inline= progress=
//   sendtext= report= reportfile= reproduce= retries=<n> (the failure handler asks for n retries)
//   action=mailto    SendByMailto alone; action=dnsservers prints GetDnsServers
// Texts may carry \r, \n, \" and \\ escapes.

#include "crashlog/delivery/mail_client.h"
#include "crashlog/delivery/screenshot.h"
#include "crashlog/delivery/smtp.h"
#include "crashlog/delivery/smtp_progress.h"
#include "crashlog/delivery/send_report.h"
#include "crashlog/infra/diagnostics/diagnostics_platform.h"
#include "crashlog/infra/diagnostics/error_code.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

using namespace pelloran::crashlog;

namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
  }
  return out;
}

int PrintBox(const std::string& text, const std::string& caption, unsigned) {
  std::printf("box=%s|%s\n", caption.c_str(), text.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t eq = arg.find('=');
    if (eq != std::string::npos) args[arg.substr(0, eq)] = Unescape(arg.substr(eq + 1));
  }
  const auto get = [&](const char* name, const char* otherwise = "") {
    const auto found = args.find(name);
    return found == args.end() ? std::string(otherwise) : found->second;
  };
  SetReporterMessageBox(PrintBox);

  TCrashModuleOptions options("probe", false);
  options.SetSendMode(static_cast<std::uint8_t>(std::stoi(get("mode", "2"))));
  options.SetMailAddresses(get("to"));
  options.SetSmtpHost(get("host", "127.0.0.1"));
  options.SetSmtpPort(static_cast<std::uint16_t>(std::stoi(get("port", "25"))));
  options.SetSenderAddress(get("from", "crash@pelloran.test"));
  options.SetSmtpUser(get("user"));
  options.SetSmtpPassword(get("password"));
  options.SetMailSubject(get("subject", "Pelloran error"));
  options.SetMailBody(get("body", "Body"));
  options.SetLogInMailBody(get("inline") == "1");
  options.SetShowSendProgress(get("progress") == "1");
  options.SetOutputPath("C:\\logs\\ProbeReport.elf");

  TReportDelivery delivery;
  delivery.Options = &options;
  delivery.SendText = get("sendtext", "Report line 1\r\n.dot line\r\nReport line 3");
  delivery.ReportText = get("report", delivery.SendText.c_str());
  delivery.ReproduceText = get("reproduce");
  if (!get("reportfile").empty()) {  // a report too long for the probe's own command line
    std::ifstream file(get("reportfile"), std::ios::binary);
    delivery.ReportText.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  if (get("screenshot") == "1") {
    delivery.ScreenshotRequested = true;
    delivery.ScreenshotPath = ScreenshotPath(true);
    CaptureScreenshotPng(delivery.ScreenshotPath);
  }
  int retries = std::stoi(get("retries", "0"));
  int failures = 0;
  delivery.SendFailed = [&] {
    ++failures;
    return retries-- > 0;
  };
  delivery.BeforeSend = [](bool execute) {
    std::printf("before=%d\n", execute ? 1 : 0);
    return execute;
  };
  delivery.AfterSend = [](bool execute) {
    std::printf("after=%d\n", execute ? 1 : 0);
    return execute;
  };

  if (get("action") == "dnsservers") {
    for (const std::string& server : GetDnsServers()) std::printf("dns=%s\n", server.c_str());
    return 0;
  }
  bool execute = false;
  if (get("action") == "mailto") {
    execute = SendByMailto(TMailtoMail{options.MailAddresses(), options.MailSubject(), options.MailBody(),
                                       delivery.ReportText, delivery.ReproduceText});
  } else {
    execute = SendErrorReport(delivery);
  }
  std::printf("execute=%d\nfailures=%d\n", execute ? 1 : 0, failures);
  std::printf("code=%s\nmessage=%s\n", std::string(ErrorCodeName(LastErrorCode())).c_str(),
              LastErrorMessage().c_str());
  std::printf("logcopy=%s\nlogcopy_exists=%d\n", LogCopyPath(options).c_str(),
              GetFileAttributesA(LogCopyPath(options).c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0);
  std::printf("label=%s\nwindow_left=%d\n", SmtpProgressLabel().c_str(), SmtpProgressWindowExists() ? 1 : 0);
  std::printf("screen=%dx%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  if (!delivery.ScreenshotPath.empty() && !get("keep").empty())
    CopyFileA(delivery.ScreenshotPath.c_str(), (get("keep") + "\\Screenshot.png").c_str(), FALSE);
  return 0;
}
