#include "batch/rmevents/clean_plan.h"

#include <algorithm>

#include "batch/rmevents/big_endian.h"

namespace pelloran::rmevents {
namespace {

// A count in a header means what its writer meant; keep that meaning. When it matches one of
// the usual ways of counting in the input, count the same way in the output; otherwise take off
// what was removed.
uint32_t RecountLike(uint32_t old, uint32_t firstWayIn, uint32_t firstWayOut,
                     uint32_t secondWayIn, uint32_t secondWayOut, uint32_t removed,
                     uint32_t added) {
  if (old == firstWayIn) return firstWayOut;
  if (old == secondWayIn) return secondWayOut;
  uint64_t v = uint64_t{old} + added;
  return static_cast<uint32_t>(v > removed ? v - removed : 0);
}

uint32_t Subtract(uint32_t from, uint64_t amount) {
  return from >= amount ? static_cast<uint32_t>(from - amount) : from;
}

class Planner {
 public:
  Planner(const InputLayout& layout, const EventTexts& texts) : in_(layout), texts_(texts) {}

  CleanPlan Run() {
    DecideStreamHeaders();
    DecideDataChunks();
    DecideIndexes();
    LayOut();
    PatchFileHeader();
    PatchProperties();
    PatchLogicalHeaders();
    return std::move(plan_);
  }

 private:
  void DecideStreamHeaders() {
    plan_.streamHeaderKept.assign(in_.streams.size(), true);
    for (size_t i = 0; i < in_.streams.size(); ++i) {
      const StreamHeader& s = in_.streams[i];
      bool remove = s.ad != AdKind::None;
      // A logical header whose every stream goes describes nothing any more.
      if (!remove && s.logical && !s.logical->physicalStreams.empty()) {
        remove = std::all_of(s.logical->physicalStreams.begin(), s.logical->physicalStreams.end(),
                             [this](uint16_t n) { return in_.removedStreams.Has(n); });
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

  void DecideDataChunks() {
    plan_.dataKept.resize(in_.data.size());
    bool any = false;
    for (size_t i = 0; i < in_.data.size(); ++i) {
      // A chunk that held only advertising goes; one that was empty to begin with stays.
      plan_.dataKept[i] = in_.data[i].keptPackets > 0 || in_.data[i].packets == 0;
      any = any || plan_.dataKept[i];
    }
    if (!any) plan_.dataKept[0] = true;  // a RealMedia file needs a DATA chunk
    plan_.dataOffset.assign(in_.data.size(), 0);
  }

  void DecideIndexes() {
    plan_.indexKept.resize(in_.indexes.size());
    if (in_.indexesTooLarge && !in_.indexes.empty())
      plan_.notes.push_back("the indexes are implausibly large; the cleaned file has none "
                            "(players rebuild it)");
    for (size_t i = 0; i < in_.indexes.size(); ++i) {
      const IndexChunk& x = in_.indexes[i];
      plan_.indexKept[i] = !in_.indexesTooLarge && !x.removedStream && x.problem.empty();
      if (!x.removedStream && !x.problem.empty())
        plan_.notes.push_back("index of stream " + std::to_string(x.header.stream) +
                              " left out: " + x.problem);
    }
    plan_.indexOffset.assign(in_.indexes.size(), 0);
  }

  ContentDescription NewContent() const {
    ContentDescription c = in_.content;
    if (texts_.title) c.title = *texts_.title;
    if (texts_.author) c.author = *texts_.author;
    if (texts_.copyright) c.copyright = *texts_.copyright;
    return c;
  }

  void Add(OutputChunk chunk) {
    if (chunk.keep) {
      chunk.offset = plan_.outputSize;
      plan_.outputSize += chunk.size;
    }
    plan_.chunks.push_back(std::move(chunk));
  }

  void LayOut() {
    const bool writeContent = in_.contentChunk.has_value() || !texts_.Empty();
    for (size_t k = 0; k < in_.chunks.size(); ++k) {
      const InputChunk& c = in_.chunks[k];
      OutputChunk out;
      out.input = k;
      out.size = c.extent;
      switch (c.kind) {
        case ChunkKind::FileHeader:
        case ChunkKind::Properties:
          out.bytes = c.bytes;
          break;
        case ChunkKind::Media:
          out.keep = plan_.streamHeaderKept[c.item];
          if (out.keep) out.bytes = c.bytes;
          break;
        case ChunkKind::Content:
          out.bytes = BuildContent(NewContent());
          out.size = out.bytes.size();
          plan_.contentWritten = true;
          break;
        case ChunkKind::Data:
          out.keep = plan_.dataKept[c.item];
          out.size = kDataHeaderSize + in_.data[c.item].keptBytes;
          break;
        case ChunkKind::Index:
          out.keep = plan_.indexKept[c.item];
          out.size = kIndexHeaderSize +
                     uint64_t{in_.indexes[c.item].header.numIndices} * kIndexRecordSize;
          break;
        case ChunkKind::Other:
          break;
      }
      if (c.kind == ChunkKind::Data && out.keep) plan_.dataOffset[c.item] = plan_.outputSize;
      if (c.kind == ChunkKind::Index && out.keep) plan_.indexOffset[c.item] = plan_.outputSize;
      Add(std::move(out));
      if (c.kind == ChunkKind::Properties && writeContent && !in_.contentChunk) {
        OutputChunk content;
        content.bytes = BuildContent(NewContent());
        content.size = content.bytes.size();
        plan_.contentWritten = true;
        Add(std::move(content));
      }
    }
    if (plan_.outputSize >= kMaxFileSize)
      throw ERealMediaError("the cleaned file would be 4 GiB or larger");
    plan_.keptPackets = in_.totalPackets - in_.removedPackets;
  }

  void PatchFileHeader() {
    // Header-section chunks (before the first DATA chunk), or every chunk after .RMF.
    uint32_t sectionIn = 0, sectionOut = 0, allIn = 0, allOut = 0;
    bool inSection = true;
    for (const OutputChunk& c : plan_.chunks) {
      ChunkKind kind = c.input == kInsertedChunk ? ChunkKind::Content : in_.chunks[c.input].kind;
      if (kind == ChunkKind::FileHeader) continue;
      if (kind == ChunkKind::Data) inSection = false;
      bool existed = c.input != kInsertedChunk;
      allIn += existed;
      allOut += c.keep;
      if (inSection) {
        sectionIn += existed;
        sectionOut += c.keep;
      }
    }
    for (OutputChunk& c : plan_.chunks) {
      if (c.input == kInsertedChunk || in_.chunks[c.input].kind != ChunkKind::FileHeader) continue;
      FileHeader h = in_.fileHeader;
      bool inserted = plan_.contentWritten && !in_.contentChunk;
      h.numHeaders = RecountLike(h.numHeaders, sectionIn, sectionOut, allIn, allOut,
                                 static_cast<uint32_t>(removedHeaders_), inserted ? 1 : 0);
      StoreFileHeader(c.bytes, h);
    }
  }

  uint64_t FirstKept(const std::vector<bool>& kept, const std::vector<uint64_t>& offsets) const {
    for (size_t i = 0; i < kept.size(); ++i)
      if (kept[i]) return offsets[i];
    return 0;
  }

  void PatchProperties() {
    Properties p = in_.properties;
    uint32_t physicalIn = 0;
    for (const StreamHeader& s : in_.streams) physicalIn += !s.media.IsLogical();
    const uint32_t allIn = static_cast<uint32_t>(in_.streams.size());
    const uint32_t removedPhysical = static_cast<uint32_t>(removedPhysical_);
    const uint32_t removedHeaders = static_cast<uint32_t>(removedHeaders_);
    p.numStreams = static_cast<uint16_t>(RecountLike(p.numStreams, physicalIn,
                                                     physicalIn - removedPhysical, allIn,
                                                     allIn - removedHeaders, removedPhysical, 0));
    p.avgBitRate = Subtract(p.avgBitRate, removedAvgRate_);
    p.maxBitRate = Subtract(p.maxBitRate, removedMaxRate_);
    p.numPackets = plan_.keptPackets;
    p.dataOffset = static_cast<uint32_t>(FirstKept(plan_.dataKept, plan_.dataOffset));
    p.indexOffset = static_cast<uint32_t>(FirstKept(plan_.indexKept, plan_.indexOffset));
    StoreProperties(plan_.chunks[OutputIndexOf(in_.propertiesChunk)].bytes, p);
  }

  size_t OutputIndexOf(size_t inputChunk) const {
    for (size_t i = 0; i < plan_.chunks.size(); ++i)
      if (plan_.chunks[i].input == inputChunk) return i;
    return 0;
  }

  // A logical header names, per physical stream, the DATA chunk that holds it.
  uint32_t NewDataChunkOffset(uint32_t old, const StreamHeader& s) {
    if (old == 0) return 0;
    for (size_t k = 0; k < in_.data.size(); ++k) {
      if (in_.data[k].offset != old) continue;
      if (plan_.dataKept[k]) return static_cast<uint32_t>(plan_.dataOffset[k]);
      for (size_t j = k + 1; j < in_.data.size(); ++j)
        if (plan_.dataKept[j]) return static_cast<uint32_t>(plan_.dataOffset[j]);
      for (size_t j = k; j-- > 0;)
        if (plan_.dataKept[j]) return static_cast<uint32_t>(plan_.dataOffset[j]);
    }
    plan_.notes.push_back("logical stream header " + std::to_string(s.media.streamNumber) +
                          " named offset " + std::to_string(old) +
                          ", where no DATA chunk begins; it now names the first DATA chunk");
    return static_cast<uint32_t>(FirstKept(plan_.dataKept, plan_.dataOffset));
  }

  void PatchLogicalHeaders() {
    for (size_t i = 0; i < in_.streams.size(); ++i) {
      const StreamHeader& s = in_.streams[i];
      if (!plan_.streamHeaderKept[i] || !s.logical) continue;
      OutputChunk& out = plan_.chunks[OutputIndexOf(s.chunk)];
      for (size_t j = 0; j < s.logical->dataOffsets.size(); ++j) {
        uint32_t v = NewDataChunkOffset(s.logical->dataOffsets[j], s);
        StoreU32(out.bytes.data() + s.logical->dataOffsetsPos + 4 * j, v);
      }
    }
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

uint32_t NewIndexOffset(const CleanPlan& plan, const IndexTarget& target) {
  return static_cast<uint32_t>(plan.dataOffset[static_cast<size_t>(target.dataChunk)] +
                               kDataHeaderSize + target.keptBytesBefore);
}

uint32_t NewIndexPacketCount(const IndexTarget& target, uint32_t oldCount) {
  return oldCount >= target.removedBefore ? oldCount - target.removedBefore : 0;
}

}  // namespace pelloran::rmevents
