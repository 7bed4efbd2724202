#include "crashlog/delivery/client_socket.h"

#include "crashlog/delivery/delivery_win.h"
#include "crashlog/delivery/socket_error.h"

#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstring>

namespace pelloran::crashlog {

namespace {

constexpr std::uintptr_t kNoSocket = static_cast<std::uintptr_t>(INVALID_SOCKET);

std::string Formatted(const char* format, const std::string& detail) {
  char text[1024];
  std::snprintf(text, sizeof text, format, detail.c_str());
  return text;
}

[[noreturn]] void RaiseSocketError(const char* format, int code) {
  throw ECrashSocketError(Formatted(format, SystemErrorText(static_cast<unsigned long>(code))));
}

SOCKET AsSocket(std::uintptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

std::string SystemErrorText(unsigned long code) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length != 0 && buffer ? std::string(buffer, length) : "Error " + std::to_string(code);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

TCrashClientSocket::TCrashClientSocket(std::string host, std::uint32_t timeout, bool useTcp, std::uint16_t port)
    : host_(std::move(host)), port_(port), socketType_(useTcp ? SOCK_STREAM : SOCK_DGRAM), timeout_(timeout),
      socket_(kNoSocket) {
  WSADATA data;
  const int status = ::WSAStartup(MAKEWORD(1, 1), &data);
  if (status != 0) RaiseSocketError("Error into WSAStartup: \"%s\"", status);
  libraryStarted_ = true;
}

TCrashClientSocket::~TCrashClientSocket() {
  if (connected_ || socket_ != kNoSocket) CloseSocket();
  // A failed shutdown of the library cannot be reported from a destructor; it changes nothing.
  if (libraryStarted_) ::WSACleanup();
}

void TCrashClientSocket::CloseSocket() noexcept {
  tls_.reset();
  if (socket_ != kNoSocket) ::closesocket(AsSocket(socket_));
  socket_ = kNoSocket;
  remoteAddress_ = 0;
  connected_ = false;
  transcript_.clear();
}

void TCrashClientSocket::Connect() {
  if (connected_) return;
  const SOCKET handle = ::socket(AF_INET, socketType_, 0);
  if (handle == INVALID_SOCKET) RaiseSocketError("Invalid socket: \"%s\".", ::WSAGetLastError());
  socket_ = static_cast<std::uintptr_t>(handle);

  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_addr.s_addr = ::inet_addr(host_.c_str());
  if (remote.sin_addr.s_addr == INADDR_NONE || host_.empty()) {
    remote.sin_addr.s_addr = 0;  // unresolved: the connection then fails
    if (const hostent* entry = ::gethostbyname(host_.c_str());
        entry && entry->h_addrtype == AF_INET && entry->h_addr_list && entry->h_addr_list[0])
      std::memcpy(&remote.sin_addr.s_addr, entry->h_addr_list[0], 4);
  }
  remote.sin_port = ::htons(port_);
  remoteAddress_ = remote.sin_addr.s_addr;
  if (LocalPort != 0) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = ::htons(LocalPort);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
      const int code = ::WSAGetLastError();
      CloseSocket();
      RaiseSocketError("Cannot bind the socket: \"%s\"", code);
    }
  }

  u_long blocking = 0;
  ::WSAAsyncSelect(handle, nullptr, 0, 0);
  ::ioctlsocket(handle, FIONBIO, &blocking);
  if (::connect(handle, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == SOCKET_ERROR) {
    const int code = ::WSAGetLastError();
    CloseSocket();
    RaiseSocketError("Connection error: \"%s\"", code);
  }
  connected_ = true;
  const auto* b = reinterpret_cast<const unsigned char*>(&remoteAddress_);
  char line[96];
  std::snprintf(line, sizeof line, "Connected to %d.%d.%d.%d port %d\r\n", b[0], b[1], b[2], b[3], port_);
  transcript_ = line;
}

void TCrashClientSocket::Disconnect() {
  if (socket_ != kNoSocket && ::closesocket(AsSocket(socket_)) == SOCKET_ERROR)
    RaiseSocketError("Cannot close the socket: \"%s\"", ::WSAGetLastError());
  socket_ = kNoSocket;
  CloseSocket();
}

int TCrashClientSocket::SendBuffer(const char* data, std::size_t length) {
  if (!connected_) return 0;
  if (tls_) {
    try {
      tls_->Send({data, length});
    } catch (...) {
      CloseSocket();
      throw;
    }
    return static_cast<int>(length);
  }
  const int sent = ::send(AsSocket(socket_), data, static_cast<int>(length), 0);
  if (sent == SOCKET_ERROR) {
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) return -1;
    CloseSocket();
    if (code != 0) RaiseSocketError("Error into \"send\": \"%s\"", code);
  }
  return sent;
}

long long TCrashClientSocket::SendText(std::string_view text) {
  return SendInPieces(
      text, [this](const char* data, std::size_t length) { return SendBuffer(data, length); }, OnProgress);
}

int TCrashClientSocket::Receive(char* buffer, int size) {
  if (size == -1) {
    if (!connected_) return 0;
    u_long waiting = 0;
    if (::ioctlsocket(AsSocket(socket_), FIONREAD, &waiting) == SOCKET_ERROR) {
      const int code = ::WSAGetLastError();
      CloseSocket();
      RaiseSocketError("Error into \"recv\": \"%s\"", code);
    }
    return static_cast<int>(waiting);
  }
  if (!connected_) return 0;
  const int received = ::recv(AsSocket(socket_), buffer, size, 0);
  if (received == SOCKET_ERROR) {
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) return 0;
    CloseSocket();
    if (code != 0) RaiseSocketError("Error into \"recv\": \"%s\"", code);
    return 0;
  }
  return received;
}

std::size_t TCrashClientSocket::BytesWaiting() {
  if (tls_) {
    try {
      return tls_->PlainWaiting();
    } catch (...) {
      CloseSocket();
      throw;
    }
  }
  const int waiting = Receive(nullptr, -1);
  return waiting > 0 ? static_cast<std::size_t>(waiting) : 0;
}

std::string TCrashClientSocket::ReceiveBytes(std::size_t count) {
  if (tls_) return tls_->TakePlain(count);
  std::string bytes(count, '\0');
  const int received = Receive(bytes.data(), static_cast<int>(count));
  bytes.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
  return bytes;
}

std::uint32_t TCrashClientSocket::Ticks() { return ::GetTickCount(); }

void TCrashClientSocket::Pause(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void TCrashClientSocket::ReadAvailable(std::string& text, TReplyEnd end) {
  crashlog::ReadAvailable(*this, text, transcript_, Ticks() + timeout_, end);
}

void TCrashClientSocket::ReadReply(std::string& text, TReplyEnd end) {
  crashlog::ReadReply(*this, text, transcript_, timeout_, end);
}

void TCrashClientSocket::StartTls() {
  if (!connected_) throw ECrashSocketError("Not connected.");
  auto channel = std::make_unique<TTlsChannel>(socket_, host_, timeout_);
  try {
    channel->Handshake();
  } catch (...) {
    CloseSocket();
    throw;
  }
  tls_ = std::move(channel);
}

TTlsPeerCheck TCrashClientSocket::CheckTlsPeer() const {
  if (!tls_) return {false, "the connection is not encrypted"};
  return tls_->CheckServerCertificate();
}

void TCrashClientSMTP::Connect() {
  TCrashClientSocket::Connect();
  if (ImplicitTls) StartTls();
  if (!CheckReply({220})) throw ECrashSocketError(Transcript());
}

bool TCrashClientSMTP::CheckReply(std::initializer_list<int> codes) {
  std::string reply;
  ReadReply(reply, SmtpReplyComplete);
  return ReplyMatches(reply, codes);
}

bool TCrashClientSMTP::SendLine(std::string& command, std::string_view shownAs) {
  if (command.size() < 2 || command.compare(command.size() - 2, 2, "\r\n") != 0) command += "\r\n";
  const bool allSent = SendText(command) == static_cast<long long>(command.size());
  if (allSent) AppendTranscript(shownAs.empty() ? std::string_view(command) : shownAs);
  return allSent;
}

std::string TCrashClientSMTP::Exchange(std::string command) {
  if (!SendLine(command)) throw ECrashSocketError(Transcript());
  std::string reply;
  ReadReply(reply, SmtpReplyComplete);
  return reply;
}

bool TCrashClientSMTP::SendCommand(std::string command, std::initializer_list<int> codes, std::string_view shownAs) {
  if (command.empty()) return false;
  if (!SendLine(command, shownAs) || !CheckReply(codes)) throw ECrashSocketError(Transcript());
  return true;
}

}  // namespace pelloran::crashlog
