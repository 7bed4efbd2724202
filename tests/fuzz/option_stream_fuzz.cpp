// Any bytes as an OptionStream: the first two bytes choose the DataVersion (little-endian), so
// every stored layout is reached. Loading stays inside the bytes; whatever loads survives being
// saved in the current layout and loaded again.

#include <cstdint>

#include "crashlog/infra/options/option_stream.h"
#include "tests/fuzz/fuzz_checks.h"

using namespace pelloran;
using namespace pelloran::crashlog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto version = static_cast<std::uint16_t>(data[0] | data[1] << 8);
  TByteReader in(std::span<const std::uint8_t>(data + 2, size - 2));
  TCrashOptionValues values;
  FUZZ_CHECK(LoadOptionStream(in, version, values) == in.Ok());
  FUZZ_CHECK(values.FilterClasses.size() == values.FilterMessages.size());

  const auto saved = SaveOptionStream(values);
  TByteReader again(saved);
  TCrashOptionValues reloaded;
  FUZZ_CHECK(LoadOptionStream(again, kCurrentDataVersion, reloaded) && again.Remaining() == 0);
  FUZZ_CHECK(SaveOptionStream(reloaded) == saved);
  return 0;
}
