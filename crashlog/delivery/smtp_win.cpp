#include "crashlog/delivery/smtp.h"

#include "crashlog/delivery/client_socket.h"
#include "crashlog/delivery/dns_message.h"
#include "crashlog/delivery/mail_text.h"
#include "crashlog/delivery/smtp_progress.h"
#include "crashlog/delivery/smtp_session_rules.h"
#include "crashlog/delivery/socket_error.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/machine/machine.h"
#include "runtime/scoped_handle.h"

#include <windows.h>
#include <iphlpapi.h>
#include <winsock.h>

#include <memory>

namespace pelloran::crashlog {

namespace {

constexpr std::uint16_t kDnsPort = 53;

std::string LocalHostName() {
  char name[251] = {};
  if (::gethostname(name, 250) != 0) return {};
  return name;
}

// The servers of the network parameters, read through the library loaded by name so that a
// system without it still gets the fallback server.
std::vector<std::string> SystemDnsServers() {
  std::vector<std::string> servers;
  ScopedModule library(::LoadLibraryA("IPHLPAPI.DLL"));
  if (!library) return servers;
  using TGetNetworkParams = DWORD(WINAPI*)(PFIXED_INFO, PULONG);
  const auto getNetworkParams =
      reinterpret_cast<TGetNetworkParams>(reinterpret_cast<void*>(::GetProcAddress(library.get(), "GetNetworkParams")));
  if (!getNetworkParams) return servers;
  ULONG size = 0;
  if (getNetworkParams(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return servers;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
  auto* info = reinterpret_cast<FIXED_INFO*>(buffer.get());
  if (getNetworkParams(info, &size) != ERROR_SUCCESS) return servers;
  for (const IP_ADDR_STRING* entry = &info->DnsServerList; entry; entry = entry->Next) {
    const std::string address(TrimText(std::string(entry->IpAddress.String, strnlen(entry->IpAddress.String, 16))));
    if (!address.empty() && address != "0.0.0.0") servers.push_back(address);
  }
  return servers;
}

// Asks one server; "" when its answer names no exchanger.
std::string AskDnsServer(const std::string& server, const std::string& domain) {
  TCrashClientSocket socket(server, kSmtpTimeoutMs, false, kDnsPort);
  socket.Connect();
  const std::string query = BuildMxQuery(domain);
  if (socket.SendText(query) != static_cast<long long>(query.size())) return {};
  std::string reply;
  // One datagram is the whole answer.
  socket.ReadReply(reply, [](std::string_view text) { return !text.empty(); });
  return ParseMxResponse({reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()});
}

// EHLO, or HELO when the server refuses EHLO; the EHLO reply ("" after HELO).
std::string Greet(TCrashClientSMTP& client, const std::string& localName) {
  const std::string reply = client.Exchange("EHLO " + localName);
  const int number = ReplyNumber(reply);
  if (number == 250) return reply;
  if (!EhloRefused(number)) throw ECrashSocketError(client.Transcript());
  client.SendCommand("HELO " + localName, {250});
  return {};
}

// STARTTLS on a plain connection; false when the server refuses it (the talk goes on in plain
// text). The plain reply must end the plain talk: bytes behind it would be taken as if they came
// through TLS.
bool StartTlsCommand(TCrashClientSMTP& client) {
  const std::string reply = client.Exchange("STARTTLS");
  if (!ReplyMatches(reply, {220})) return false;
  if (SmtpReplyLength(reply) != reply.size() || client.BytesWaiting() != 0)
    throw ECrashSocketError("The server sent plain text behind its STARTTLS reply.");
  client.StartTls();
  return true;
}

// The server's certificate, judged as soon as TLS is up and before anything else is said: a
// password goes only to a verified server; without one the mail goes anyway, as between mail
// servers.
void JudgeServer(TCrashClientSMTP& client, bool withPassword) {
  const std::string& host = client.Host();
  const TTlsPeerCheck check = client.CheckTlsPeer();
  if (check.Trusted) {
    Trace("SmtpTls", {host, "verified"});
    return;
  }
  Trace("SmtpTls", {host, "not verified", check.Problem});
  if (withPassword)
    throw ECrashSocketError("The certificate of \"" + host + "\" does not verify: " + check.Problem +
                            ". Nothing was sent.");
}

// The greeting, with TLS when the server offers it (or from the first byte). Without TLS a
// password travels only in clear to a loopback or private address; otherwise the attempt ends
// here, before it is sent.
void GreetSecurely(TCrashClientSMTP& client, const std::string& localName, bool withPassword) {
  if (client.TlsActive()) JudgeServer(client, withPassword);
  const std::string ehloReply = Greet(client, localName);
  if (!client.TlsActive() && EhloOffers(ehloReply, "STARTTLS") && StartTlsCommand(client)) {
    JudgeServer(client, withPassword);
    Greet(client, localName);
  }
  if (client.TlsActive() || !withPassword) return;
  if (!IsPrivateNetworkAddress(client.RemoteAddress()))
    throw ECrashSocketError("\"" + client.Host() + "\" offers no TLS: the password is not sent in clear.");
  Trace("SmtpTls", {client.Host(), "password in clear to a private address"});
}

}  // namespace

std::vector<std::string> GetDnsServers() {
  std::vector<std::string> servers = SystemDnsServers();
  servers.emplace_back(kFallbackDnsServer);
  return servers;
}

std::string LookupMxHost(const std::string& address) {
  TraceEnter("LookupMxHost", {address});
  const std::size_t at = address.find('@');
  const std::string domain = at == std::string::npos ? address : address.substr(at + 1);
  for (const std::string& server : GetDnsServers()) {
    // A server that fails (no answer, a malformed one) is left for the next; only when none names
    // an exchanger does the lookup fail.
    try {
      std::string host = AskDnsServer(server, domain);
      if (!host.empty()) {
        TraceLeave("LookupMxHost", {host});
        return host;
      }
    } catch (const ECrashSocketError& error) {
      Trace("LookupMxHost", {server, error.Message()});
    }
  }
  TraceLeave("LookupMxHost", {""});
  throw ECrashSocketError("Cannot resolve the \"" + domain + "\" MX record.");
}

bool SendOneMessage(const TSmtpMail& mail, const std::string& host, const std::string& recipient,
                    const TSmtpStatusTexts& texts) {
  try {
    SetSmtpStatus(texts.Connecting);
    TCrashClientSMTP client(host, kSmtpTimeoutMs, true, mail.Port);
    client.ImplicitTls = mail.Port == kImplicitTlsPort;
    client.Connect();
    const std::string localName = LocalHostName();
    SetSmtpStatus(texts.LoggingIn);
    // EHLO whatever the credentials: only its reply tells whether the server offers STARTTLS.
    const bool withPassword = !mail.User.empty() || !mail.Password.empty();
    GreetSecurely(client, localName, withPassword);
    client.SendCommand("RSET", {250});
    if (withPassword) {
      client.SendCommand("AUTH LOGIN", {334});
      // An empty name encodes to an empty command, which is not sent: this recipient then ends
      // here, without a warning.
      if (!client.SendCommand(Base64EncodeText(mail.User), {334})) return false;
      // The transcript becomes the warning's text when the login fails: the password stays out.
      if (!client.SendCommand(Base64EncodeText(mail.Password), {235}, "(password not shown)\r\n")) return false;
    }
    client.SendCommand("MAIL FROM:<" + mail.Sender + ">", {250});
    SetSmtpStatus(texts.Sending);
    TMimeMessage message;
    message.DateText = FormatMailDate(LocalTimeNow());
    message.Sender = mail.Sender;
    message.Subject = mail.Subject;
    message.Recipient = recipient;
    message.Body = mail.Body;
    message.Attachments = mail.Attachments;
    const std::string data = SmtpDataText(BuildMimeMessage(message));
    client.SendCommand("RCPT TO:<" + recipient + ">", {250, 251});
    client.SendCommand("DATA", {354});
    if (SmtpProgressWindowExists())
      client.OnProgress = [](std::size_t position, std::size_t total) {
        SetSmtpProgress(static_cast<int>(position * 100 / (total ? total : 1)));
      };
    client.SendCommand(data, {250});
    client.OnProgress = nullptr;
    return true;  // no QUIT: the connection is simply closed
  } catch (...) {
    ReportSectionError(eeEmailSMTPError, "SMTP");
    return false;
  }
}

bool SendMailSmtp(const TSmtpMail& mail, const TSmtpStatusTexts& texts) {
  TraceEnter("SendMailSmtp", {mail.Host, mail.Recipients});
  bool result = false;
  const std::vector<std::string> recipients = SplitAddressList(mail.Recipients);
  try {
    for (std::size_t i = 0; i < recipients.size(); ++i) {
      SetSmtpProgress(0);
      SetSmtpRecipient(static_cast<int>(i + 1), static_cast<int>(recipients.size()));
      std::string host = mail.Host;
      if (mail.Resolve) {
        SetSmtpStatus(texts.Resolving);
        host = LookupMxHost(recipients[i]);
      }
      result = SendOneMessage(mail, host, recipients[i], texts) || result;
    }
  } catch (...) {
    result = false;
    ReportSectionError(eeEmailSMTPError, "SMTP");
  }
  CloseSmtpProgress();
  TraceLeave("SendMailSmtp", {result});
  return result;
}

}  // namespace pelloran::crashlog
