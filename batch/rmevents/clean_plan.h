#pragma once
// What the cleaned file looks like, worked out completely before its first byte is written:
// which chunks stay, their new offsets and sizes, and the rewritten header chunks. Writing is
// then one forward pass, so the output only ever grows.

#include <cstdint>
#include <string>
#include <vector>

#include "batch/rmevents/control_texts.h"
#include "batch/rmevents/rm_scan.h"

namespace pelloran::rmevents {

constexpr size_t kInsertedChunk = static_cast<size_t>(-1);

struct OutputChunk {
  size_t input = kInsertedChunk;  // the input chunk it comes from
  bool keep = true;
  std::vector<uint8_t> bytes;     // header chunks as they are written
  uint64_t offset = 0;            // in the output
  uint64_t size = 0;
};

struct CleanPlan {
  std::vector<OutputChunk> chunks;      // input order; dropped ones stay with keep = false
  std::vector<uint64_t> dataOffset;     // per input DATA chunk; 0 when dropped
  std::vector<bool> dataKept;
  std::vector<uint64_t> indexOffset;    // per input INDX chunk; 0 when dropped
  std::vector<bool> indexKept;
  std::vector<bool> streamHeaderKept;   // per stream header
  uint64_t outputSize = 0;
  uint32_t keptPackets = 0;
  bool contentWritten = false;
  std::vector<std::string> notes;       // decisions worth a log line
};

// Raises ERealMediaError when the cleaned file cannot be written (4 GiB or more).
CleanPlan MakePlan(const InputLayout& layout, const EventTexts& texts);

// The new offset and packet count of an index record, once its packet has been found.
uint32_t NewIndexOffset(const CleanPlan& plan, const IndexTarget& target);
uint32_t NewIndexPacketCount(const IndexTarget& target, uint32_t oldCount);

}  // namespace pelloran::rmevents
