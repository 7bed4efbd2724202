#pragma once
// TLS record framing of the bytes a server sends: where one record ends, so that the system's TLS
// is handed whole records, and a peer that does not speak TLS (a plain SMTP greeting on the TLS
// port) is told apart at its first five bytes instead of after a timeout. No platform headers.

#include <cstddef>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

// Content type (1 byte), protocol version (2), body length (2, big-endian).
inline constexpr std::size_t kTlsRecordHeaderSize = 5;
// The largest body any TLS version allows on the wire: 2^14 bytes of data plus 2048 of expansion.
inline constexpr std::size_t kMaxTlsRecordBody = 16384 + 2048;

enum class TTlsRecordState {
  Incomplete,  // a valid header so far, or fewer than five bytes: more must arrive
  Complete,    // a whole record of Length bytes, header included
  Malformed,   // not a TLS record: unknown content type or version, or a body longer than allowed
};

struct TTlsRecordScan {
  TTlsRecordState State = TTlsRecordState::Incomplete;
  std::size_t Length = 0;
};

// Looks at the record at the start of `bytes`.
TTlsRecordScan ScanTlsRecord(std::string_view bytes);

// Bytes received from the network, handed out a whole record at a time.
class TTlsRecordQueue {
 public:
  void Append(std::string_view bytes) { bytes_.append(bytes); }
  // The whole record at the front; empty while it is still incomplete. Raises ECrashSocketError
  // when the front is not a TLS record.
  std::string_view Front() const;
  // The whole records at the front, as many as have arrived; empty when none has. Raises as
  // Front does.
  std::string_view WholeRecords() const;
  // Drops `count` bytes from the front.
  void Consume(std::size_t count);
  std::size_t Size() const noexcept { return bytes_.size() - start_; }
  // Every byte not consumed yet, whole records or not.
  std::string_view Pending() const noexcept { return std::string_view(bytes_).substr(start_); }

 private:
  std::string bytes_;
  std::size_t start_ = 0;
};

}  // namespace pelloran::crashlog
