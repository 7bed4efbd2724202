// libFuzzer entry: any bytes as an input file. The cleaner must fail with a message or write a
// file that it can read back; it must never crash, loop or read out of bounds.

#include <cstdint>
#include <cstdlib>

#include "batch/rmevents/clean_plan.h"
#include "batch/rmevents/control_texts.h"
#include "batch/rmevents/rm_scan.h"
#include "batch/rmevents/rm_writer.h"

using namespace pelloran::rmevents;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The same bytes as control files, too.
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ParseEventsFile(text);
  ParseImageMapFile(text);

  MemoryInput in(std::vector<uint8_t>(data, data + size));
  MemoryOutput out;
  try {
    BufferedReader reader(in, 4096);
    InputLayout layout = ScanInput(reader);
    EventTexts texts;
    texts.title = "Pelloran";
    CleanPlan plan = MakePlan(layout, texts);
    BufferedWriter writer(out, 4096);
    WriteCleanFile(reader, layout, plan, writer);
  } catch (const pelloran::Exception&) {
    return 0;
  }
  MemoryInput again(out.bytes);
  BufferedReader reader(again, 4096);
  ScanInput(reader);  // throws (and so aborts the fuzzer) if the output is not sound
  return 0;
}
