// A program that installs the crash reporter, fails for real and lets the pipeline mail the
// report. Its mail options come from the command line, since the test picks the peers' ports at
// run time; run by delivery_peers_test.py against real peers.
//   mode= to= host= port= from= user= password= subject= body= inline= progress= screenshot=
//   dump=1         a minidump with the report;  tag=<name>:<value>  file=<path>  through the
//                  public interface's tags and files
//   fail=fault     an access violation in a timer tick (the default): the program carries on,
//                  prints what came of the report in the next tick and ends with exit code 0
//   fail=throw     message=<text>: an exception with that message escapes a timer tick
//   fail=main      message=<text>: an exception escapes main; the process ends with exit code 1
//   retries=<n>    assigns the application's action handlers: they print Execute before and after
//                  sending, and the failure handler asks for n retries
//   action=dnsservers   no failure: prints GetDnsServers
//   action=mailto report=|reportfile= reproduce=   no failure: SendByMailto alone
// Texts may carry \r, \n, \" and \\ escapes.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "base/exceptions.h"
#include "crashlog/crashlog.h"
#include "crashlog/flow/flow_state.h"
#include "crashlog/flow/pipeline.h"
#include "crashlog/delivery/mail_client.h"
#include "crashlog/delivery/screenshot.h"
#include "crashlog/delivery/send_report.h"
#include "crashlog/delivery/smtp.h"
#include "crashlog/delivery/smtp_progress.h"
#include "crashlog/infra/diagnostics/diagnostics_platform.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;
using namespace pelloran::crashlog;

namespace {

std::map<std::string, std::string> args;

std::string Arg(const char* name, const char* otherwise = "") {
  const auto found = args.find(name);
  return found == args.end() ? std::string(otherwise) : found->second;
}

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

void Print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Nobody is there to close a box: the warnings shown while the progress window is open are
// printed instead.
int PrintBox(const std::string& text, const std::string& caption, unsigned) {
  Print("box=" + caption + "|" + text);
  return 1;
}

bool Exists(const std::string& path) {
  return !path.empty() && ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The mail options of the running module, as a configured program would carry them.
void ApplyMailOptions() {
  TCrashModuleOptionsEx& options = CurrentCrashLogOptions();
  options.BeginUpdate();
  options.SetSendMode(static_cast<std::uint8_t>(std::stoi(Arg("mode", "2"))));
  options.SetMailAddresses(Arg("to"));
  options.SetSmtpHost(Arg("host", "127.0.0.1"));
  options.SetSmtpPort(static_cast<std::uint16_t>(std::stoi(Arg("port", "25"))));
  options.SetSenderAddress(Arg("from", "crash@pelloran.test"));
  options.SetSmtpUser(Arg("user"));
  options.SetSmtpPassword(Arg("password"));
  options.SetMailSubject(Arg("subject", "Pelloran error"));
  options.SetMailBody(Arg("body", "Body"));
  options.SetLogInMailBody(Arg("inline") == "1");
  options.SetShowSendProgress(Arg("progress") == "1");
  options.SetAttachScreenshot(Arg("screenshot") == "1");
  options.SetSaveMiniDump(Arg("dump") == "1");
  options.EndUpdate();
  if (const std::string tag = Arg("tag"); !tag.empty()) {
    const std::size_t colon = tag.find(':');
    ::crashlog::SetTag(tag.substr(0, colon), colon == std::string::npos ? "" : tag.substr(colon + 1));
  }
  if (!Arg("file").empty()) ::crashlog::AddFile(Arg("file"));
}

int retriesLeft = 0;
int failures = 0;

void AssignHandlers() {
  retriesLeft = std::stoi(Arg("retries"));
  CrashLogHandlers().Action = [](const TCrashExceptionRecord&, TCrashAction action, bool& execute) {
    if (action == TCrashAction::BeforeSend) Print(std::string("before=") + (execute ? "1" : "0"));
    if (action == TCrashAction::AfterSend) Print(std::string("after=") + (execute ? "1" : "0"));
  };
  CrashLogHandlers().ActionFailed = [](const TCrashExceptionRecord&, TCrashAction action, bool& retry) {
    if (action != TCrashAction::AfterSend) return;
    ++failures;
    retry = retriesLeft-- > 0;
  };
}

// What came of the report, read after the pipeline has finished with it.
void PrintOutcome() {
  const TCrashModuleOptionsEx& options = CurrentCrashLogOptions();
  Print("errors=" + std::to_string(Flow().ErrorCount.load()));
  Print("failures=" + std::to_string(failures));
  Print("code=" + std::string(ErrorCodeName(LastErrorCode())));
  Print("message=" + LastErrorMessage());
  Print("logcopy=" + LogCopyPath(options));
  Print(std::string("logcopy_exists=") + (Exists(LogCopyPath(options)) ? "1" : "0"));
  Print(std::string("screenshot_exists=") + (Exists(ScreenshotPath(true)) ? "1" : "0"));
  Print("label=" + SmtpProgressLabel());
  Print(std::string("window_left=") + (SmtpProgressWindowExists() ? "1" : "0"));
}

struct TCounter {
  int padding[4];
  int count;
};

__attribute__((noinline)) void StoreCount() {
  TCounter* counter = crashtest::Opaque<TCounter>(nullptr);
  counter->count = 1;
}

__attribute__((noinline)) void ReadSettings() { throw EInOutError(Arg("message", "Settings unreadable"), 5); }

int RunTool() {
  if (Arg("action") == "dnsservers") {
    for (const std::string& server : GetDnsServers()) Print("dns=" + server);
    return 0;
  }
  std::string report = Arg("report");
  if (!Arg("reportfile").empty()) {  // a report too long for a command line of its own
    std::ifstream file(Arg("reportfile"), std::ios::binary);
    report.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  const bool sent = SendByMailto(TMailtoMail{Arg("to"), Arg("subject", "Pelloran error"), Arg("body", "Body"),
                                             report, Arg("reproduce")});
  Print(std::string("execute=") + (sent ? "1" : "0"));
  Print("code=" + std::string(ErrorCodeName(LastErrorCode())));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t eq = arg.find('=');
    if (eq != std::string::npos) args[arg.substr(0, eq)] = Unescape(arg.substr(eq + 1));
  }
  if (!Arg("action").empty()) return RunTool();

  InstallReporter();
  SetReporterMessageBox(PrintBox);
  ApplyMailOptions();
  if (!Arg("retries").empty()) AssignHandlers();
  Print("screen=" + std::to_string(::GetSystemMetrics(SM_CXSCREEN)) + "x" +
        std::to_string(::GetSystemMetrics(SM_CYSCREEN)));

  const std::string fail = Arg("fail", "fault");
  if (fail == "main") ReadSettings();
  crashtest::RunStepsInTimerTicks({fail == "throw" ? ReadSettings : StoreCount, PrintOutcome});
  UninstallReporter();
  return 0;
}
