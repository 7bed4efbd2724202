// Any bytes as an ELDATA resource and as the end of a module file with the appended form. The
// header, the inflation (with its limit) and the body stay inside their bytes; debug information
// that comes out is looked up as a crash in that module would.

#include <cstdint>

#include "crashlog/infra/options/eldata.h"
#include "tests/fuzz/fuzz_checks.h"

using namespace pelloran::crashlog;

namespace {

void CheckContents(const TEldataContents& contents) {
  TCrashOptionValues values;
  std::optional<std::vector<std::uint8_t>> debugInfo;
  ReadEldataBody(contents.Body, contents.DataVersion, values, debugInfo);
  if (debugInfo) pelloran::fuzz::CheckDebugInfo(*debugInfo, contents.DataVersion);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  if (const auto contents = ReadEldataContainer(bytes)) CheckContents(*contents);
  if (const auto contents = ReadEldataTail(bytes)) CheckContents(*contents);

  // The inflation limit holds to the byte: output that fits exactly is accepted, one byte less
  // is refused without ever holding more than the limit.
  if (size > kEldataHeaderSize) {
    const auto packed = bytes.subspan(kEldataHeaderSize);
    std::vector<std::uint8_t> whole, limited;
    if (InflateWhole(packed, whole)) {
      FUZZ_CHECK(InflateWhole(packed, limited, whole.size()) && limited == whole);
      if (!whole.empty()) {
        FUZZ_CHECK(!InflateWhole(packed, limited, whole.size() - 1));
        FUZZ_CHECK(limited.size() < whole.size());
      }
    }
  }
  return 0;
}
