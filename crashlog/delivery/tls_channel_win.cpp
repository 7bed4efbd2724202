#include "crashlog/delivery/tls_channel.h"

#include "crashlog/delivery/delivery_win.h"
#include "crashlog/delivery/smtp_reply.h"
#include "crashlog/delivery/socket_error.h"
#include "crashlog/delivery/tls_record.h"
#include "runtime/scoped_handle.h"

#define SECURITY_WIN32
#include <windows.h>
#include <winsock.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>

namespace pelloran::crashlog {

namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
// Handshake rounds before a server that keeps asking is given up.
constexpr int kMaxHandshakeRounds = 1000;

[[noreturn]] void RaiseStatus(const char* step, SECURITY_STATUS status) {
  throw ECrashSocketError(std::string(step) + ": \"" + SystemErrorText(static_cast<unsigned long>(status)) + "\"");
}

// Owners of the two SSPI handles.
class ScopedCredentials {
 public:
  ScopedCredentials() { SecInvalidateHandle(&handle_); }
  ~ScopedCredentials() {
    if (SecIsValidHandle(&handle_)) ::FreeCredentialsHandle(&handle_);
  }
  ScopedCredentials(const ScopedCredentials&) = delete;
  ScopedCredentials& operator=(const ScopedCredentials&) = delete;
  CredHandle* get() { return &handle_; }

 private:
  CredHandle handle_;
};

class ScopedSecurityContext {
 public:
  ScopedSecurityContext() { SecInvalidateHandle(&handle_); }
  ~ScopedSecurityContext() {
    if (SecIsValidHandle(&handle_)) ::DeleteSecurityContext(&handle_);
  }
  ScopedSecurityContext(const ScopedSecurityContext&) = delete;
  ScopedSecurityContext& operator=(const ScopedSecurityContext&) = delete;
  CtxtHandle* get() { return &handle_; }
  bool valid() const { return SecIsValidHandle(&handle_); }

 private:
  CtxtHandle handle_;
};

// A token the security package allocated, freed with it.
struct ContextBufferTraits {
  using Handle = void*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Free(Handle h) noexcept { ::FreeContextBuffer(h); }
};

void SendAll(SOCKET socket, const char* data, std::size_t length) {
  while (length != 0) {
    const int sent = ::send(socket, data, static_cast<int>(std::min<std::size_t>(length, 0x10000)), 0);
    if (sent == SOCKET_ERROR || sent <= 0)
      throw ECrashSocketError("Error into \"send\": \"" + SystemErrorText(::WSAGetLastError()) + "\"");
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
}

// One receive of what is there, waiting up to `timeout` ms for something to come.
std::string ReceiveSome(SOCKET socket, std::uint32_t timeout) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait{static_cast<long>(timeout / 1000), static_cast<long>(timeout % 1000) * 1000};
  const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
  if (ready == SOCKET_ERROR)
    throw ECrashSocketError("Error into \"select\": \"" + SystemErrorText(::WSAGetLastError()) + "\"");
  if (ready == 0) throw ECrashSocketError("Socket timeout.");
  std::string bytes(16 * 1024, '\0');
  const int received = ::recv(socket, bytes.data(), static_cast<int>(bytes.size()), 0);
  if (received == SOCKET_ERROR)
    throw ECrashSocketError("Error into \"recv\": \"" + SystemErrorText(::WSAGetLastError()) + "\"");
  if (received == 0) throw ECrashSocketError("The server closed the connection during the TLS handshake.");
  bytes.resize(static_cast<std::size_t>(received));
  return bytes;
}

}  // namespace

struct TTlsChannel::TState {
  SOCKET Socket;
  std::string ServerName;
  std::uint32_t Timeout;
  ScopedCredentials Credentials;
  ScopedSecurityContext Context;
  SecPkgContext_StreamSizes Sizes{};
  TTlsRecordQueue Incoming;
  std::string Plain;
  bool Closed = false;

  // One call of InitializeSecurityContext on `input` (the first call has none); what it answers
  // the server is sent at once. `extra` gets the input bytes it left unread.
  SECURITY_STATUS Step(std::string_view input, std::size_t& extra) {
    SecBuffer in[2] = {{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, const_cast<char*>(input.data())},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    const bool first = !Context.valid();
    const SECURITY_STATUS status = ::InitializeSecurityContextA(
        Credentials.get(), first ? nullptr : Context.get(), const_cast<char*>(ServerName.c_str()), kContextFlags, 0,
        0, first ? nullptr : &inDesc, 0, Context.get(), &outDesc, &attributes, nullptr);
    ScopedGeneric<ContextBufferTraits> token(out[0].pvBuffer);
    extra = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
    if (status == SEC_E_INCOMPLETE_MESSAGE) extra = input.size();
    if (token && out[0].cbBuffer != 0 && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
      SendAll(Socket, static_cast<const char*>(token.get()), out[0].cbBuffer);
    return status;
  }

  void DecryptFront(std::string_view record) {
    std::string data(record);
    SecBuffer buffers[4] = {{static_cast<unsigned long>(data.size()), SECBUFFER_DATA, data.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = ::DecryptMessage(Context.get(), &desc, 0, nullptr);
    Incoming.Consume(record.size());
    if (status == SEC_I_CONTEXT_EXPIRED) {  // the server's close_notify
      Closed = true;
      return;
    }
    if (status == SEC_I_RENEGOTIATE) {
      // Post-handshake messages (a TLS 1.3 session ticket): the package takes them through the
      // handshake call.
      std::size_t extra = 0;
      const SECURITY_STATUS step = Step({}, extra);
      if (step != SEC_E_OK && step != SEC_I_CONTINUE_NEEDED) RaiseStatus("TLS renegotiation failed", step);
      return;
    }
    if (status != SEC_E_OK) RaiseStatus("Error into \"DecryptMessage\"", status);
    for (const SecBuffer& buffer : buffers)
      if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer)
        Plain.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
  }
};

TTlsChannel::TTlsChannel(std::uintptr_t socket, std::string serverName, std::uint32_t timeout)
    : state_(new TState{static_cast<SOCKET>(socket), std::move(serverName), timeout}) {}

TTlsChannel::~TTlsChannel() = default;

void TTlsChannel::Handshake() {
  TState& s = *state_;
  SCHANNEL_CRED credentials{};
  credentials.dwVersion = SCHANNEL_CRED_VERSION;
  // The certificate is judged by CheckServerCertificate, after the handshake: a server that
  // does not verify may still get mail sent without a password.
  credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  const SECURITY_STATUS acquired = ::AcquireCredentialsHandleA(
      nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &credentials, nullptr, nullptr,
      s.Credentials.get(), nullptr);
  if (acquired != SEC_E_OK) RaiseStatus("Error into \"AcquireCredentialsHandle\"", acquired);

  std::size_t extra = 0;
  SECURITY_STATUS status = s.Step({}, extra);
  TTlsRecordQueue input;
  const std::uint32_t deadline = ::GetTickCount() + s.Timeout;
  for (int round = 0; status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE ||
                      status == SEC_I_INCOMPLETE_CREDENTIALS;
       ++round) {
    if (round == kMaxHandshakeRounds) throw ECrashSocketError("The TLS handshake does not end.");
    // Only whole records go to the package; a server that does not speak TLS is found out here.
    if (status == SEC_E_INCOMPLETE_MESSAGE || input.WholeRecords().empty()) {
      const std::uint32_t now = ::GetTickCount();
      if (static_cast<std::int32_t>(deadline - now) <= 0) throw ECrashSocketError("Socket timeout.");
      input.Append(ReceiveSome(s.Socket, deadline - now));
      if (input.WholeRecords().empty()) {
        status = SEC_I_CONTINUE_NEEDED;
        continue;
      }
    }
    const std::string_view records = input.WholeRecords();
    status = s.Step(records, extra);
    // Asked for a client certificate, the package is called again on the same input without one.
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) input.Consume(records.size() - extra);
  }
  if (status != SEC_E_OK) RaiseStatus("TLS handshake failed", status);
  // What the server sent right behind its last handshake message is the start of the talk.
  s.Incoming.Append(input.Pending());
  const SECURITY_STATUS sizes = ::QueryContextAttributesA(s.Context.get(), SECPKG_ATTR_STREAM_SIZES, &s.Sizes);
  if (sizes != SEC_E_OK) RaiseStatus("Error into \"QueryContextAttributes\"", sizes);
}

TTlsPeerCheck TTlsChannel::CheckServerCertificate() const {
  PCCERT_CONTEXT certificate = nullptr;
  const SECURITY_STATUS status =
      ::QueryContextAttributesA(state_->Context.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
  if (status != SEC_E_OK || !certificate) return {false, "the server sent no certificate"};
  TTlsPeerCheck check = CheckCertificateForServer(certificate, state_->ServerName);
  ::CertFreeCertificateContext(certificate);
  return check;
}

void TTlsChannel::Send(std::string_view plain) {
  TState& s = *state_;
  const std::size_t most = s.Sizes.cbMaximumMessage ? s.Sizes.cbMaximumMessage : 16384;
  do {
    const std::size_t piece = std::min(most, plain.size());
    std::string record(s.Sizes.cbHeader + piece + s.Sizes.cbTrailer, '\0');
    std::copy(plain.begin(), plain.begin() + piece, record.begin() + s.Sizes.cbHeader);
    SecBuffer buffers[4] = {{s.Sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                            {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + s.Sizes.cbHeader},
                            {s.Sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + s.Sizes.cbHeader + piece},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = ::EncryptMessage(s.Context.get(), 0, &desc, 0);
    if (status != SEC_E_OK) RaiseStatus("Error into \"EncryptMessage\"", status);
    // The package may use less trailer than it asked room for: what it wrote lies back to back.
    const std::size_t used = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    SendAll(s.Socket, record.data(), used);
    plain.remove_prefix(piece);
  } while (!plain.empty());
}

std::size_t TTlsChannel::PlainWaiting() {
  TState& s = *state_;
  u_long waiting = 0;
  if (!s.Closed && ::ioctlsocket(s.Socket, FIONREAD, &waiting) == 0 && waiting != 0) {
    std::string bytes(std::min<u_long>(waiting, 64 * 1024), '\0');
    const int received = ::recv(s.Socket, bytes.data(), static_cast<int>(bytes.size()), 0);
    if (received == SOCKET_ERROR)
      throw ECrashSocketError("Error into \"recv\": \"" + SystemErrorText(::WSAGetLastError()) + "\"");
    bytes.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
    s.Incoming.Append(bytes);
  }
  // Decrypting stops once more is waiting than a reply may hold: the reader refuses it then.
  while (!s.Closed && s.Plain.size() <= kMaxReplyBytes) {
    const std::string_view record = s.Incoming.Front();
    if (record.empty()) break;
    s.DecryptFront(record);
  }
  return s.Plain.size();
}

std::string TTlsChannel::TakePlain(std::size_t count) {
  std::string& plain = state_->Plain;
  std::string out = plain.substr(0, count);
  plain.erase(0, out.size());
  return out;
}

}  // namespace pelloran::crashlog
