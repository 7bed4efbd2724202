// Any bytes as a DNS server's answer to the MX query: the reader may refuse it with
// ECrashSocketError but must never read outside it, loop, or return a name DNS cannot carry.

#include "crashlog/delivery/dns_message.h"
#include "crashlog/delivery/socket_error.h"
#include "tests/fuzz/fuzz_checks.h"

#include <cstdint>
#include <cstdlib>
#include <span>

using namespace pelloran::crashlog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> message(data, size);
  try {
    const std::string host = ParseMxResponse(message);
    FUZZ_CHECK(host.size() < kMaxDnsNameWireLength);
  } catch (const ECrashSocketError&) {
  }
  // Whether it answers a query: never reads outside the message either.
  (void)AnswersMxQuery(message, 0x4141, "example.org");
  // Names anywhere in the message.
  for (std::size_t at = 0; at < size && at < 64; ++at)
    if (const auto name = DecodeDnsName(message, at)) {
      FUZZ_CHECK(name->Name.size() < kMaxDnsNameWireLength);
      FUZZ_CHECK(name->Next > at && name->Next <= size);
    }
  return 0;
}
