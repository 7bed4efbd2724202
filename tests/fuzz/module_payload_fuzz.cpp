// Any bytes as what another module left in its shared memory: as its MODULE payload (published
// options) and as its EXCEPT payload (the exception it raised last). Decoding stays inside the
// bytes; what decodes is published again unchanged.

#include <cstdint>

#include "crashlog/infra/diagnostics/diagnostics_text.h"
#include "crashlog/infra/options/module_payload.h"
#include "crashlog/infra/options/option_stream.h"
#include "tests/fuzz/fuzz_checks.h"

using namespace pelloran;
using namespace pelloran::crashlog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> payload(data, size);
  if (const auto stream = DecodeModulePayload(payload)) {
    FUZZ_CHECK(size > 0 && data[0] != kNothingPublished && stream->size() == size - 1);
    TByteReader in(*stream);
    TCrashOptionValues values;
    LoadOptionStream(in, kCurrentDataVersion, values);
    const auto saved = SaveOptionStream(values);
    const auto republished = EncodeModulePayload(saved);
    const auto again = DecodeModulePayload(republished);
    FUZZ_CHECK(again && std::equal(again->begin(), again->end(), saved.begin(), saved.end()));
  } else {
    FUZZ_CHECK(size == 0 || data[0] == kNothingPublished);
  }

  if (const auto published = DecodeExceptPayload(payload)) {
    const auto back = DecodeExceptPayload(
        EncodeExceptPayload(published->ClassName, published->Message, published->ThreadId, published->Address));
    FUZZ_CHECK(back && back->ThreadId == published->ThreadId && back->Address == published->Address);
    FUZZ_CHECK(back->Message == WithoutFinalLineBreak(published->Message));
    // A class name longer than its limit comes back cut and marked, never longer.
    const std::string_view className = WithoutFinalLineBreak(published->ClassName);
    if (className.size() <= kExceptClassNameLimit)
      FUZZ_CHECK(back->ClassName == className);
    else
      FUZZ_CHECK(back->ClassName.size() <= kExceptClassNameLimit && back->ClassName.ends_with("..."));
  }
  return 0;
}
