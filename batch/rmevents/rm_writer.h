#pragma once
// The one pass that writes the cleaned file front to back while it reads the input: header
// chunks from the plan, the packets of the streams that stay copied byte for byte in their
// order, indexes rewritten to name the same packets. The numbers known only at the end (packet
// counts, chunk sizes and links, the offsets in PROP and in logical headers, the .RMF count)
// are patched in place before the output is closed: the output only grows while it is written
// and keeps its size afterwards.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "batch/rmevents/byte_stream.h"
#include "batch/rmevents/clean_plan.h"
#include "batch/rmevents/rm_scan.h"

namespace pelloran::rmevents {

struct CleanResult {
  uint64_t outputSize = 0;
  uint32_t packets = 0;  // read
  uint32_t keptPackets = 0;
  std::map<uint16_t, StreamCount> removedByStream;
  // Per input DATA and INDX chunk; a byte each, as a file can have 65,536 DATA chunks and a
  // byte is cheaper to set and test than a bit.
  std::vector<uint8_t> dataKept;
  std::vector<uint8_t> indexKept;
  std::vector<std::string> notes;
};

// Raises ERealMediaError when a packet is damaged or the cleaned file would be 4 GiB or larger;
// what was written by then is unfinished.
CleanResult WriteCleanFile(BufferedReader& in, const InputLayout& layout, const CleanPlan& plan,
                           BufferedWriter& out);

}  // namespace pelloran::rmevents
