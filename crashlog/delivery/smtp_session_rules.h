#pragma once
// What the SMTP client reads from a server's EHLO reply, and where a password may travel without
// TLS. No platform headers.

#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

// Implicit TLS from the first byte (SMTPS) on this port; STARTTLS on any other.
inline constexpr std::uint16_t kImplicitTlsPort = 465;

// Whether an EHLO reply offers the extension `keyword` (for example "STARTTLS"): some line of it
// (after the code and its "-" or " ") starts with the keyword, in any case, as a whole word.
bool EhloOffers(std::string_view reply, std::string_view keyword);

// A server that refuses EHLO as a command it does not know (RFC 5321 4.1.4): HELO is tried then.
bool EhloRefused(int replyNumber);

// Loopback and private networks (127/8, 10/8, 172.16/12, 192.168/16); `address` in network byte
// order as a socket address holds it.
bool IsPrivateNetworkAddress(std::uint32_t address);
bool IsLoopbackAddress(std::uint32_t address);

// A dotted IPv4 address written out in full ("10.0.0.5"): four decimal numbers of at most three
// digits, each below 256. `address` in network byte order.
bool ParseIPv4Literal(std::string_view text, std::uint32_t& address);

// Why a password may travel in clear (without TLS) to the server connected to, if at all: the
// server is on this machine (a loopback address), or the configured host is written as a private
// IP address and is the address connected to. A private address reached through DNS does not
// count: a spoofed answer could point it anywhere in the network.
enum class TClearPasswordRule { Refused, Loopback, ConfiguredPrivateAddress };
TClearPasswordRule ClearPasswordRule(std::string_view configuredHost, std::uint32_t connectedAddress);
// The rule as the trace says it.
const char* ClearPasswordRuleText(TClearPasswordRule rule);

// What stands in a transcript for the message sent after DATA: its length only. A transcript ends
// up in warnings, message boxes and the trace; the report and its attachments do not belong there.
std::string DataTranscriptLine(std::size_t bytes);

}  // namespace pelloran::crashlog
