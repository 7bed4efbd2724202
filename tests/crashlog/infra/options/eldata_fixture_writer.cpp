// Build-time helper, compiled natively: writes the test program's ELDATA resource file.
#include <cstdio>

#include "tests/crashlog/infra/options/eldata_fixture.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
    return 2;
  }
  const auto bytes = pelloran::crashlog::testing::FixtureContainer();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written ? 0 : 1;
}
