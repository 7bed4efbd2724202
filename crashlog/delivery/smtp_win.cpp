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
#include <ntsecapi.h>
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

// Random bytes from the system's generator; false when it gives none.
bool SystemRandom(void* buffer, unsigned long size) {
  return ::RtlGenRandom(buffer, size) != FALSE;
}

std::uint16_t RandomU16() {
  std::uint16_t value = 0;
  if (!SystemRandom(&value, sizeof value)) value = static_cast<std::uint16_t>(::GetTickCount() * 2654435761u >> 16);
  return value;
}

// Datagrams that answer nothing we asked (another id, another question) are skipped; this many at
// most, so that a flood cannot keep the lookup waiting for ever.
constexpr int kMaxIgnoredDnsAnswers = 16;
// Source ports drawn from the dynamic range; a taken one is drawn again a few times.
constexpr std::uint16_t kFirstDynamicPort = 49152;
constexpr int kPortDraws = 8;

std::unique_ptr<TCrashClientSocket> DnsSocket(const std::string& server) {
  for (int draw = 0;; ++draw) {
    auto socket = std::make_unique<TCrashClientSocket>(server, kSmtpTimeoutMs, false, kDnsPort);
    // The last attempt lets the system choose.
    socket->LocalPort =
        draw + 1 < kPortDraws ? static_cast<std::uint16_t>(kFirstDynamicPort + RandomU16() % (65536 - kFirstDynamicPort)) : 0;
    try {
      socket->Connect();
      return socket;
    } catch (const ECrashSocketError&) {
      if (draw + 1 >= kPortDraws) throw;
    }
  }
}

// Asks one server; "" when its answer names no exchanger. The query has a random id and leaves
// from a random port, and only a datagram that carries that id and our question is read: a
// forged answer must guess both.
std::string AskDnsServer(const std::string& server, const std::string& domain) {
  const std::uint16_t id = RandomU16();
  const std::unique_ptr<TCrashClientSocket> socket = DnsSocket(server);
  const std::string query = BuildMxQuery(domain, id);
  if (socket->SendText(query) != static_cast<long long>(query.size())) return {};
  for (int ignored = 0; ignored <= kMaxIgnoredDnsAnswers; ++ignored) {
    std::string reply;
    // One datagram is the whole answer.
    socket->ReadReply(reply, [](std::string_view text) { return !text.empty(); });
    const std::span<const std::uint8_t> message(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size());
    if (AnswersMxQuery(message, id, domain)) return ParseMxResponse(message);
    Trace("LookupMxHost.NotOurAnswer", {server, static_cast<unsigned>(reply.size())});
  }
  throw ECrashSocketError("No answer of \"" + server + "\" matches the query.");
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
// password travels in clear only to a loopback address or to a private address configured as
// such (ClearPasswordRule); otherwise the attempt ends here, before it is sent.
void GreetSecurely(TCrashClientSMTP& client, const std::string& localName, bool withPassword) {
  if (client.TlsActive()) JudgeServer(client, withPassword);
  const std::string ehloReply = Greet(client, localName);
  if (!client.TlsActive() && EhloOffers(ehloReply, "STARTTLS") && StartTlsCommand(client)) {
    JudgeServer(client, withPassword);
    Greet(client, localName);
  }
  if (client.TlsActive() || !withPassword) return;
  const TClearPasswordRule rule = ClearPasswordRule(client.Host(), client.RemoteAddress());
  if (rule == TClearPasswordRule::Refused)
    throw ECrashSocketError("\"" + client.Host() + "\" offers no TLS: the password is not sent in clear.");
  Trace("SmtpTls", {client.Host(), ClearPasswordRuleText(rule)});
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
    // The credentials are for the configured server alone: a recipient's exchanger is a third
    // party, and gets the mail without a login.
    const bool hasCredentials = !mail.User.empty() || !mail.Password.empty();
    const bool withPassword = hasCredentials && !mail.Resolve;
    if (hasCredentials && mail.Resolve) Trace("SmtpLogin", {host, "credentials kept from a recipient exchanger"});
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
    // The line end that SendCommand adds counts among the bytes sent.
    const bool endsLine = data.size() >= 2 && data.compare(data.size() - 2, 2, "\r\n") == 0;
    client.SendCommand(data, {250}, DataTranscriptLine(data.size() + (endsLine ? 0 : 2)));
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
