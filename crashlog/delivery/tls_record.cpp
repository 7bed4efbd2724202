#include "crashlog/delivery/tls_record.h"

#include "crashlog/delivery/socket_error.h"

namespace pelloran::crashlog {

namespace {

// change_cipher_spec, alert, handshake, application_data.
bool KnownContentType(unsigned char type) { return type >= 20 && type <= 23; }

}  // namespace

TTlsRecordScan ScanTlsRecord(std::string_view bytes) {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
  // Each header byte is judged as soon as it is there, so that a plain-text peer is found out
  // from its first byte.
  if (!bytes.empty() && !KnownContentType(byte(0))) return {TTlsRecordState::Malformed, 0};
  if (bytes.size() > 1 && byte(1) != 3) return {TTlsRecordState::Malformed, 0};  // SSL 3 to TLS 1.3
  if (bytes.size() > 2 && byte(2) > 4) return {TTlsRecordState::Malformed, 0};
  if (bytes.size() < kTlsRecordHeaderSize) return {TTlsRecordState::Incomplete, 0};
  const std::size_t body = byte(3) * 256u + byte(4);
  if (body > kMaxTlsRecordBody) return {TTlsRecordState::Malformed, 0};
  const std::size_t length = kTlsRecordHeaderSize + body;
  if (bytes.size() < length) return {TTlsRecordState::Incomplete, 0};
  return {TTlsRecordState::Complete, length};
}

std::string_view TTlsRecordQueue::Front() const {
  const std::string_view rest = std::string_view(bytes_).substr(start_);
  const TTlsRecordScan scan = ScanTlsRecord(rest);
  if (scan.State == TTlsRecordState::Malformed) throw ECrashSocketError("The server did not answer in TLS.");
  return scan.State == TTlsRecordState::Complete ? rest.substr(0, scan.Length) : std::string_view();
}

std::string_view TTlsRecordQueue::WholeRecords() const {
  const std::string_view rest = std::string_view(bytes_).substr(start_);
  std::size_t length = 0;
  for (;;) {
    const TTlsRecordScan scan = ScanTlsRecord(rest.substr(length));
    // Whole records before a bad one are still handed out; the next call refuses.
    if (scan.State == TTlsRecordState::Malformed && length == 0)
      throw ECrashSocketError("The server did not answer in TLS.");
    if (scan.State != TTlsRecordState::Complete) break;
    length += scan.Length;
  }
  return rest.substr(0, length);
}

void TTlsRecordQueue::Consume(std::size_t count) {
  start_ += count < Size() ? count : Size();
  // Compact once the consumed part outweighs what is left.
  if (start_ > 4096 && start_ * 2 > bytes_.size()) {
    bytes_.erase(0, start_);
    start_ = 0;
  }
}

}  // namespace pelloran::crashlog
