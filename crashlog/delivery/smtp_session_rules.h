#pragma once
// What the SMTP client reads from a server's EHLO reply, and where a password may travel without
// TLS. No platform headers.

#include <cstdint>
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
// order as a socket address holds it. Only there may a password travel in clear.
bool IsPrivateNetworkAddress(std::uint32_t address);

}  // namespace pelloran::crashlog
