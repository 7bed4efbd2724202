#pragma once
// The reporter's small socket wrapper (Windows Sockets 1.1), used by the SMTP client and the DNS
// MX query. Every failure raises ECrashSocketError. The object owns its socket and its start of
// the socket library: both are released when it is destroyed. Once TLS has started on the
// connection, everything sent and received goes through it.

#include "crashlog/delivery/smtp_reply.h"
#include "crashlog/delivery/tls_channel.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

class TCrashClientSocket : public TReplySource {
 public:
  // Starts the socket library (version 1.1); not connected yet.
  TCrashClientSocket(std::string host, std::uint32_t timeout, bool useTcp, std::uint16_t port);
  ~TCrashClientSocket() override;
  TCrashClientSocket(const TCrashClientSocket&) = delete;
  TCrashClientSocket& operator=(const TCrashClientSocket&) = delete;

  // Creates the socket, resolves the host (its first address; 0.0.0.0 when it has none) and
  // connects in blocking mode. Nothing when already connected.
  virtual void Connect();
  // Closes the socket; the transcript is cleared.
  virtual void Disconnect();

  // One send call; 0 when not connected, -1 when it would block.
  int SendBuffer(const char* data, std::size_t length);
  // The text in pieces of 1024 bytes, with the progress event after each piece.
  long long SendText(std::string_view text);
  // `size` -1: the bytes waiting (0 when not connected); otherwise one receive call.
  int Receive(char* buffer, int size);

  void ReadAvailable(std::string& text, TReplyEnd end = nullptr);
  void ReadReply(std::string& text, TReplyEnd end = nullptr);

  // The TLS handshake on the connection, with the host name as the name the server's
  // certificate must carry; from then on every byte goes through TLS.
  void StartTls();
  bool TlsActive() const noexcept { return tls_ != nullptr; }
  // The server's certificate against the trusted roots and the host name (TLS only).
  TTlsPeerCheck CheckTlsPeer() const;
  // The address connected to, in network byte order.
  std::uint32_t RemoteAddress() const noexcept { return remoteAddress_; }

  bool Connected() const noexcept { return connected_; }
  const std::string& Host() const noexcept { return host_; }
  std::uint16_t Port() const noexcept { return port_; }
  std::uint32_t Timeout() const noexcept { return timeout_; }
  // The connection line, then every command sent and every reply received.
  const std::string& Transcript() const noexcept { return transcript_; }
  void AppendTranscript(std::string_view text) { transcript_ += text; }

  // The local port the socket is bound to before it connects; 0 lets the system choose.
  std::uint16_t LocalPort = 0;

  // Called with (bytes sent so far + 1, total) while SendText sends.
  std::function<void(std::size_t position, std::size_t total)> OnProgress;

  // TReplySource
  std::size_t BytesWaiting() override;
  std::string ReceiveBytes(std::size_t count) override;
  std::uint32_t Ticks() override;
  void Pause(std::uint32_t milliseconds) override;

 private:
  void CloseSocket() noexcept;

  std::uint32_t remoteAddress_ = 0;  // network byte order
  std::string host_;
  std::uint16_t port_;
  int socketType_;
  std::uint32_t timeout_;
  bool connected_ = false;
  std::uintptr_t socket_;
  bool libraryStarted_ = false;
  std::string transcript_;
  std::unique_ptr<TTlsChannel> tls_;
};

class TCrashClientSMTP : public TCrashClientSocket {
 public:
  using TCrashClientSocket::TCrashClientSocket;

  // Connects (with TLS from the first byte when ImplicitTls is set) and expects the greeting
  // 220; otherwise raises with the transcript.
  void Connect() override;
  // Reads a reply; true when its number is one of `codes`.
  bool CheckReply(std::initializer_list<int> codes);
  // Sends the command and returns the server's whole reply, whatever its code.
  std::string Exchange(std::string command);
  // Sends the command (with CR LF added when missing) and checks the reply; false without
  // sending for an empty command; raises with the transcript when the reply does not match.
  // `shownAs` stands in the transcript for a command that must not be shown (a password).
  bool SendCommand(std::string command, std::initializer_list<int> codes, std::string_view shownAs = {});

  bool ImplicitTls = false;

 private:
  // Sends the command with CR LF, appended to the transcript (or `shownAs` in its place); false
  // when not all of it went.
  bool SendLine(std::string& command, std::string_view shownAs = {});
};

}  // namespace pelloran::crashlog
