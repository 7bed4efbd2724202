#include "batch/rmevents/clean_plan.h"

#include <algorithm>

namespace pelloran::rmevents {

void CountInputChunks(const InputLayout& layout, uint32_t& headerSection, uint32_t& allChunks) {
  headerSection = allChunks = 0;
  bool inSection = true;
  for (const InputChunk& c : layout.chunks) {
    if (c.kind == ChunkKind::FileHeader) continue;
    if (c.kind == ChunkKind::Data) inSection = false;
    ++allChunks;
    headerSection += inSection;
  }
}

namespace {

uint32_t Subtract(uint32_t from, uint64_t amount) {
  return from >= amount ? static_cast<uint32_t>(from - amount) : from;
}

class Planner {
 public:
  Planner(const InputLayout& layout, const EventTexts& texts) : in_(layout), texts_(texts) {}

  CleanPlan Run() {
    DecideStreamHeaders();
    LayOut();
    DecideChunkCount();
    PatchProperties();
    if (in_.indexesTooLarge && !in_.indexes.empty())
      plan_.notes.push_back("the indexes are implausibly large; the cleaned file has none "
                            "(players rebuild it)");
    return std::move(plan_);
  }

 private:
  void DecideStreamHeaders() {
    plan_.streamHeaderKept.assign(in_.streams.size(), true);
    for (size_t i = 0; i < in_.streams.size(); ++i) {
      const StreamHeader& s = in_.streams[i];
      bool remove = s.ad != AdKind::None;
      // A logical header whose every stream goes describes nothing any more.
      if (!remove && s.logical && s.logical->count != 0) {
        const uint8_t* bytes = in_.Bytes(in_.chunks[s.chunk]).data();
        remove = true;
        for (size_t k = 0; k < s.logical->count && remove; ++k)
          remove = in_.removedStreams.Has(s.logical->PhysicalStream(bytes, k));
      }
      if (!remove) continue;
      plan_.streamHeaderKept[i] = false;
      ++removedHeaders_;
      if (!s.media.IsLogical()) {
        ++removedPhysical_;
        removedAvgRate_ += s.media.avgBitRate;
        removedMaxRate_ += s.media.maxBitRate;
      }
    }
  }

  ContentDescription NewContent() const {
    ContentDescription c = in_.content;
    if (texts_.title) c.title = *texts_.title;
    if (texts_.author) c.author = *texts_.author;
    if (texts_.copyright) c.copyright = *texts_.copyright;
    return c;
  }

  void LayOut() {
    const bool writeContent = in_.contentChunk.has_value() || !texts_.Empty();
    plan_.chunks.reserve(in_.chunks.size() + 1);
    for (size_t k = 0; k < in_.chunks.size(); ++k) {
      const InputChunk& c = in_.chunks[k];
      OutputChunk out;
      out.input = static_cast<uint32_t>(k);  // at most ScanLimits::maxChunks
      switch (c.kind) {
        case ChunkKind::FileHeader:
        case ChunkKind::Properties:
          out.built = Built(in_.Bytes(c));
          break;
        case ChunkKind::Media:
          out.keep = plan_.streamHeaderKept[c.item];  // written as it stands, from the input
          break;
        case ChunkKind::Content:
          out.built = Built(BuildContent(NewContent()));
          plan_.contentWritten = true;
          break;
        case ChunkKind::Index:
          out.keep = !in_.indexesTooLarge && !in_.indexes[c.item].removedStream;
          break;
        case ChunkKind::Data:
        case ChunkKind::Other:
          break;
      }
      plan_.chunks.push_back(std::move(out));
      if (c.kind == ChunkKind::Properties && writeContent && !in_.contentChunk) {
        OutputChunk content;
        content.built = Built(BuildContent(NewContent()));
        plan_.contentWritten = true;
        plan_.chunks.push_back(std::move(content));
      }
    }
  }

  // The input's count shows its way of counting when it matches one; a count that matches none
  // is wrong, and the cleaned file counts every chunk, itself included.
  void DecideChunkCount() {
    uint32_t section = 0, all = 0;
    CountInputChunks(in_, section, all);
    const uint32_t count = in_.fileHeader.numHeaders;
    for (bool everyChunk : {false, true}) {
      for (bool withFileHeader : {false, true}) {
        ChunkCountRule rule{everyChunk, withFileHeader};
        if (rule.Count(section, all) == count) {
          plan_.chunkCount = rule;
          return;
        }
      }
    }
    plan_.chunkCount = ChunkCountRule{};
    plan_.notes.push_back("the file header (.RMF) counts " + std::to_string(count) +
                          " chunks, but the file has " + std::to_string(all + 1) +
                          ", and " + std::to_string(section) +
                          " before its first DATA chunk: the count is wrong; the cleaned file "
                          "counts all of its chunks, .RMF included");
  }

  // The properties header counts the physical streams or every stream header, as its writer
  // chose; a count that is neither is wrong and becomes the number of stream headers written.
  void PatchProperties() {
    Properties p = in_.properties;
    uint32_t physicalIn = 0;
    for (const StreamHeader& s : in_.streams) physicalIn += !s.media.IsLogical();
    const uint32_t allIn = static_cast<uint32_t>(in_.streams.size());
    const uint32_t physicalOut = physicalIn - static_cast<uint32_t>(removedPhysical_);
    const uint32_t allOut = allIn - static_cast<uint32_t>(removedHeaders_);
    uint32_t streams = allOut;
    if (p.numStreams == physicalIn) {
      streams = physicalOut;
    } else if (p.numStreams != allIn) {
      plan_.notes.push_back("the properties header (PROP) counts " +
                            std::to_string(p.numStreams) + " streams, but the file has " +
                            std::to_string(allIn) + " stream headers, " +
                            std::to_string(physicalIn) +
                            " of them physical: the count is wrong; the cleaned file counts its "
                            "stream headers");
    }
    p.numStreams = static_cast<uint16_t>(std::min<uint32_t>(streams, 0xFFFF));
    p.avgBitRate = Subtract(p.avgBitRate, removedAvgRate_);
    p.maxBitRate = Subtract(p.maxBitRate, removedMaxRate_);
    for (OutputChunk& c : plan_.chunks)
      if (c.input == in_.propertiesChunk) StoreProperties(plan_.built[c.built], p);
  }

  uint32_t Built(std::vector<uint8_t> bytes) {
    plan_.built.push_back(std::move(bytes));
    return static_cast<uint32_t>(plan_.built.size() - 1);
  }

  const InputLayout& in_;
  const EventTexts& texts_;
  CleanPlan plan_;
  size_t removedHeaders_ = 0;
  size_t removedPhysical_ = 0;
  uint64_t removedAvgRate_ = 0;
  uint64_t removedMaxRate_ = 0;
};

}  // namespace

CleanPlan MakePlan(const InputLayout& layout, const EventTexts& texts) {
  return Planner(layout, texts).Run();
}

}  // namespace pelloran::rmevents
