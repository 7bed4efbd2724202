#pragma once
// TLS on a connected socket through the system's own TLS (Schannel, through SSPI): the
// handshake, the server's certificate checked against the trusted roots and the host name, and
// the records of the conversation encrypted and decrypted. Every failure raises
// ECrashSocketError. The platform types stay in the implementation.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

// What the certificate check found: Trusted, or the problem in a few words.
struct TTlsPeerCheck {
  bool Trusted = false;
  std::string Problem;
};

class TTlsChannel {
 public:
  // `socket`: a connected blocking socket, still owned by the caller. `serverName`: the name the
  // certificate must carry. `timeout`: ms to wait for each piece of the handshake.
  TTlsChannel(std::uintptr_t socket, std::string serverName, std::uint32_t timeout);
  ~TTlsChannel();
  TTlsChannel(const TTlsChannel&) = delete;
  TTlsChannel& operator=(const TTlsChannel&) = delete;

  // The whole handshake; the certificate is not judged here (CheckServerCertificate).
  void Handshake();
  TTlsPeerCheck CheckServerCertificate() const;

  // Encrypts and sends all of `plain`.
  void Send(std::string_view plain);
  // Receives what the socket has now without waiting and decrypts every whole record; the
  // decrypted bytes not yet taken.
  std::size_t PlainWaiting();
  std::string TakePlain(std::size_t count);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

// The certificate check on a certificate context of the platform (PCCERT_CONTEXT).
TTlsPeerCheck CheckCertificateForServer(const void* certificateContext, const std::string& serverName);

}  // namespace pelloran::crashlog
