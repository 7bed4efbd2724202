#pragma once
// What the cleaned file keeps, decided from the headers before its first byte is written: which
// stream headers stay, the rewritten header chunks, and how its counts are to be written. Which
// DATA chunks and indexes stay, and every offset after the header section, follow from the
// packets; the writer (rm_writer.h) settles them in its one pass.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "batch/rmevents/control_texts.h"
#include "batch/rmevents/rm_scan.h"

namespace pelloran::rmevents {

constexpr uint32_t kInsertedChunk = static_cast<uint32_t>(-1);

constexpr uint32_t kFromInput = static_cast<uint32_t>(-1);

// One per input chunk, and a file can have 65,536: small, with the few built ones' bytes apart.
struct OutputChunk {
  uint32_t input = kInsertedChunk;  // the input chunk it comes from
  uint32_t built = kFromInput;    // .RMF, PROP and CONT: their bytes in CleanPlan::built
  bool keep = true;               // DATA chunks and indexes may still go once the packets are seen
};

// Which chunks the .RMF header counts. Writers differ: some count the header section after
// .RMF, ffmpeg and the format's reference parser every chunk, .RMF included. The cleaned file
// counts the way its input did.
struct ChunkCountRule {
  bool everyChunk = true;      // false: only the chunks before the first DATA chunk
  bool withFileHeader = true;  // .RMF counts itself
  uint32_t Count(uint32_t headerSection, uint32_t allChunks) const {
    return (everyChunk ? allChunks : headerSection) + (withFileHeader ? 1 : 0);
  }
};

struct CleanPlan {
  std::vector<OutputChunk> chunks;     // input order; dropped ones stay with keep = false
  // .RMF, PROP and CONT as written, but for the numbers that the writer fills in at the end
  std::vector<std::vector<uint8_t>> built;
  // Nothing for a chunk that is not built.
  std::span<const uint8_t> Bytes(const OutputChunk& c) const {
    if (c.built == kFromInput) return {};
    return built[c.built];
  }
  std::vector<bool> streamHeaderKept;  // per stream header
  ChunkCountRule chunkCount;
  bool contentWritten = false;
  std::vector<std::string> notes;      // decisions worth a log line
};

CleanPlan MakePlan(const InputLayout& layout, const EventTexts& texts);

// The chunks that .RMF can count in the input: those of the header section (before the first
// DATA chunk) and all of them, .RMF left out of both.
void CountInputChunks(const InputLayout& layout, uint32_t& headerSection, uint32_t& allChunks);

}  // namespace pelloran::rmevents
