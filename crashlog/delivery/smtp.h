#pragma once
// Report mail straight over SMTP: to the configured server, or to each recipient's mail exchanger
// found by a DNS MX query. One transmission per recipient; a failing recipient does not stop the
// others. Failures are recorded as eeEmailSMTPError warnings, never raised. The talk goes over TLS
// whenever the server offers STARTTLS, and from the first byte on port 465; a password is sent only
// through TLS to a server whose certificate verifies, or in clear to a loopback or private address.

#include <cstdint>
#include <string>
#include <vector>

namespace pelloran::crashlog {

// The public resolver asked after the system's DNS servers.
inline constexpr const char* kFallbackDnsServer = "8.8.8.8";
inline constexpr std::uint32_t kSmtpTimeoutMs = 30000;

struct TSmtpMail {
  bool Resolve = false;  // send to each recipient's mail exchanger instead of Host
  std::string Sender;
  std::string Host;
  std::vector<std::string> Attachments;
  std::string Body;
  std::string Subject;
  std::string Recipients;  // "," or ";" separated
  std::string User;
  std::string Password;
  std::uint16_t Port = 25;
};

// The progress texts of the option set (SmtpResolvingStatus to SmtpSendingStatus).
struct TSmtpStatusTexts {
  std::string Resolving;
  std::string Connecting;
  std::string LoggingIn;
  std::string Sending;
};

// Delivers to every recipient; true when at least one delivery succeeded. Closes the progress
// window at the end.
bool SendMailSmtp(const TSmtpMail& mail, const TSmtpStatusTexts& texts);
// One recipient; false (with the warning recorded) when anything fails.
bool SendOneMessage(const TSmtpMail& mail, const std::string& host, const std::string& recipient,
                    const TSmtpStatusTexts& texts);

// The mail exchanger of the domain of `address` (the text after its first "@"); raises
// ECrashSocketError "Cannot resolve the "<domain>" MX record." when no server names one.
std::string LookupMxHost(const std::string& address);
// The system's DNS servers in order, then the fallback server.
std::vector<std::string> GetDnsServers();

}  // namespace pelloran::crashlog
