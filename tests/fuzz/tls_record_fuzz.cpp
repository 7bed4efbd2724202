// Any bytes as what a TLS server sends, in pieces: the first byte of each piece gives its length
// (1 to 64 bytes). The record queue takes them in as they arrive and hands out whole records,
// alternately one at a time and all that are whole. What it hands out must be exactly the whole
// records at the start of the stream, as an independent walk of the headers finds them, and it
// must refuse the stream exactly when that walk meets a byte that no TLS record header can hold.

#include "crashlog/delivery/socket_error.h"
#include "crashlog/delivery/tls_record.h"
#include "tests/fuzz/fuzz_checks.h"

#include <cstdint>
#include <string>

using namespace pelloran::crashlog;

namespace {

struct TWalk {
  std::size_t WholeEnd = 0;  // end of the last whole record
  bool Refused = false;      // a header byte that is present is not a TLS one
};

// The reference: header by header over everything delivered.
TWalk WalkRecords(const std::string& bytes) {
  TWalk walk;
  std::size_t at = 0;
  for (;;) {
    const std::size_t have = bytes.size() - at;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    if ((have > 0 && (byte(0) < 20 || byte(0) > 23)) || (have > 1 && byte(1) != 3) || (have > 2 && byte(2) > 4) ||
        (have > 4 && byte(3) * 256u + byte(4) > 16384 + 2048)) {
      walk.Refused = true;
      return walk;
    }
    if (have < 5 || have < 5 + byte(3) * 256u + byte(4)) return walk;
    at += 5 + byte(3) * 256u + byte(4);
    walk.WholeEnd = at;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TTlsRecordQueue queue;
  std::string delivered, taken;
  bool refused = false;
  bool oneAtATime = true;
  for (std::size_t at = 0; at < size && !refused;) {
    const std::size_t length = std::min<std::size_t>(size - at - 1, 1 + (data[at] & 63));
    const std::string piece(reinterpret_cast<const char*>(data + at + 1), length);
    at += 1 + length;
    queue.Append(piece);
    delivered += piece;
    for (;;) {
      std::string_view records;
      try {
        records = oneAtATime ? queue.Front() : queue.WholeRecords();
      } catch (const ECrashSocketError&) {
        refused = true;
        break;
      }
      oneAtATime = !oneAtATime;
      if (records.empty()) break;
      FUZZ_CHECK(records.size() >= kTlsRecordHeaderSize);
      FUZZ_CHECK(ScanTlsRecord(records).State == TTlsRecordState::Complete);
      taken.append(records);
      queue.Consume(records.size());
    }
    FUZZ_CHECK(taken + std::string(queue.Pending()) == delivered);
  }
  const TWalk walk = WalkRecords(delivered);
  FUZZ_CHECK(refused == walk.Refused);
  // Refused or not, every whole record before the trouble was handed out, and nothing more.
  FUZZ_CHECK(taken.size() == walk.WholeEnd);
  return 0;
}
