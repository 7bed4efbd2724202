#include "batch/rmevents/rm_writer.h"

#include <algorithm>
#include <cstring>

#include "batch/rmevents/big_endian.h"

namespace pelloran::rmevents {
namespace {

std::string At(uint64_t offset) { return "at offset " + std::to_string(offset); }

constexpr uint64_t kDataNextAt = 14;  // the next-chunk link within a DATA header

// Where an index record's packet landed in the output.
struct FoundPacket {
  uint64_t offset = 0;
  uint32_t removedBefore = 0;  // removed packets ahead of it in the file
};

// A header's offsets mostly repeat one another: each new one is looked up once, the bytes of
// the last one copied on (65,535 offsets a header). They are compared as they stand in the
// input, without decoding, a block at a time: a block that only repeats the last one is copied
// whole.
template <typename LookUp>
void StoreNewOffsets(const uint8_t* old, size_t count, uint8_t* to, LookUp&& lookUp) {
  uint32_t lastOld = 0;  // as stored: offset 0 stays 0 in either byte order
  uint32_t lastNew = 0;
  auto one = [&](size_t i) {
    uint32_t o;
    std::memcpy(&o, old + 4 * i, 4);
    if (o != lastOld) {
      uint8_t stored[4];
      StoreU32(stored, lookUp(LoadU32(old + 4 * i)));
      std::memcpy(&lastNew, stored, 4);
      lastOld = o;
    }
    std::memcpy(to + 4 * i, &lastNew, 4);
  };
  constexpr size_t kBlock = 16;
  size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    uint32_t block[kBlock];
    std::memcpy(block, old + 4 * i, sizeof block);
    const uint32_t last = lastOld;  // a local: the loop stays free of memory it could alias
    uint32_t differs = 0;
    for (const uint32_t o : block) differs |= o ^ last;
    if (differs == 0) {
      for (uint32_t& o : block) o = lastNew;
      std::memcpy(to + 4 * i, block, sizeof block);
      continue;
    }
    for (size_t k = 0; k < kBlock; ++k) one(i + k);
  }
  for (; i < count; ++i) one(i);
}

class Writer {
 public:
  Writer(BufferedReader& in, const InputLayout& layout, const CleanPlan& plan, BufferedWriter& out)
      : in_(in),
        layout_(layout),
        plan_(plan),
        out_(out),
        matcher_(layout),
        found_(layout.targets.size()),
        streamAt_(layout.streams.size(), 0),
        standIn_(layout.data.size(), 0) {
    result_.dataKept.assign(layout.data.size(), 0);
    result_.indexKept.assign(layout.indexes.size(), 0);
  }

  CleanResult Run() {
    const size_t lastData = layout_.data.back().chunk;
    std::vector<size_t> deferred;  // indexes ahead of packets they name go after the last DATA
    for (const OutputChunk& c : plan_.chunks) {
      if (!c.keep) continue;
      if (c.input == kInsertedChunk) {
        WriteHeaderChunk(c, ChunkKind::Content, 0);
        continue;
      }
      const InputChunk& source = layout_.chunks[c.input];
      switch (source.kind) {
        case ChunkKind::Data:
          WriteData(source.item, c.input == lastData);
          if (c.input != lastData) break;
          matcher_.AfterLastPacket();
          for (size_t item : deferred) WriteIndex(item);
          break;
        case ChunkKind::Index:
          if (c.input < lastData) {
            deferred.push_back(source.item);
          } else {
            WriteIndex(source.item);
          }
          break;
        case ChunkKind::Other:
          Begin(ChunkKind::Other);
          in_.Seek(source.offset);
          in_.CopyTo(out_, source.extent);
          break;
        default:
          WriteHeaderChunk(c, source.kind, source.item);
          break;
      }
    }
    if (out_.Written() >= kMaxFileSize)
      throw ERealMediaError("the cleaned file would be 4 GiB or larger");
    PatchNumbers();
    out_.Flush();
    result_.outputSize = out_.Written();
    result_.keptPackets = result_.packets - removed_;
    return std::move(result_);
  }

 private:
  // Counts the chunk for .RMF.
  void Begin(ChunkKind kind) {
    if (kind == ChunkKind::FileHeader) return;
    if (kind == ChunkKind::Data) sawData_ = true;
    ++allChunks_;
    if (!sawData_) ++sectionChunks_;
  }

  void WriteHeaderChunk(const OutputChunk& c, ChunkKind kind, size_t item) {
    Begin(kind);
    if (kind == ChunkKind::FileHeader) fileHeaderAt_ = out_.Written();
    if (kind == ChunkKind::Properties) propertiesAt_ = out_.Written();
    if (kind == ChunkKind::Media) {
      streamAt_[item] = out_.Written();
      out_.Write(layout_.Bytes(layout_.chunks[c.input]));
      return;
    }
    const std::span<const uint8_t> bytes = plan_.Bytes(c);
    if (!bytes.empty()) out_.Write(bytes.data(), bytes.size());
  }

  // Its numbers are patched when it ends, its link when the next one starts: while they are
  // still in the writer's buffer, unless the chunk is larger than that.
  // An empty chunk's header is final as written (size 18, no packets).
  uint64_t StartDataChunk(uint32_t size = 0) {
    Begin(ChunkKind::Data);
    uint64_t at = out_.Written();
    if (wroteData_) {
      uint8_t next[4];
      StoreU32(next, static_cast<uint32_t>(at));
      out_.Patch(lastDataAt_ + kDataNextAt, next, sizeof next);
    }
    uint8_t header[kDataHeaderSize];
    StoreDataHeader(header, size, DataHeader{});
    out_.Write(header, sizeof header);
    return at;
  }

  void WriteData(size_t item, bool last) {
    const DataChunk& d = layout_.data[item];
    // A chunk that is its header alone and declares no packets stays as it is, unwalked: a
    // crafted file can have 65,536 of them.
    if (d.header.numPackets == 0 && d.end - d.offset == kDataHeaderSize) {
      Kept(item, StartDataChunk(kDataHeaderSize));
      return;
    }
    PacketWalker walker(in_, layout_, d);
    PacketHeader h;
    uint64_t offset = 0;
    bool started = false;
    uint64_t at = 0;
    uint32_t kept = 0;
    while (walker.Next(h, offset)) {
      ++result_.packets;
      if (layout_.removedStreams.Has(h.stream)) {
        StreamCount& count = result_.removedByStream[h.stream];
        ++count.packets;
        count.bytes += h.length;
        ++removed_;
        // No kept index names a packet of a removed stream: this only finds stray records.
        matcher_.AtPacket(offset, h.stream, [](uint32_t) {});
        continue;
      }
      if (!started) {
        at = StartDataChunk();
        started = true;
      }
      const FoundPacket here{out_.Written(), removed_};
      matcher_.AtPacket(offset, h.stream, [&](uint32_t t) { found_[t] = here; });
      ++kept;
      in_.CopyTo(out_, h.length);
    }
    if (uint64_t slack = d.end - walker.Position(); slack > 0)
      result_.notes.push_back("DATA chunk " + At(d.offset) + ": " + std::to_string(slack) +
                              " bytes after its last packet left out");
    // A chunk that held only advertising goes, one that was empty stays; a file keeps at least
    // one, so the last stays (empty) when all before it went.
    if (!started) {
      if (walker.Count() != 0 && !(last && !wroteData_)) return;
      Kept(item, StartDataChunk(kDataHeaderSize));
      return;
    }
    Kept(item, at);
    uint8_t header[kDataHeaderSize];
    DataHeader numbers;
    numbers.numPackets = kept;
    StoreDataHeader(header, static_cast<uint32_t>(out_.Written() - at), numbers);
    out_.Patch(at, header, sizeof header);
  }

  void Kept(size_t item, uint64_t at) {
    result_.dataKept[item] = 1;
    // Past 4 GiB the run fails before any offset is patched in.
    standIn_[item] = static_cast<uint32_t>(at);
    if (!wroteData_) firstDataAt_ = at;
    wroteData_ = true;
    lastDataAt_ = at;
  }

  void WriteIndex(size_t item) {
    const IndexChunk& x = layout_.indexes[item];
    if (const std::string& problem = matcher_.Problem(item); !problem.empty()) {
      result_.notes.push_back("index of stream " + std::to_string(x.header.stream) +
                              " left out: " + problem);
      return;
    }
    Begin(ChunkKind::Index);
    const uint64_t at = out_.Written();
    uint8_t header[kIndexHeaderSize];
    IndexHeader h = x.header;
    h.nextIndexHeader = 0;
    StoreIndexHeader(header,
                     static_cast<uint32_t>(kIndexHeaderSize +
                                           uint64_t{h.numIndices} * kIndexRecordSize),
                     h);
    out_.Write(header, sizeof header);
    for (uint32_t i = 0; i < x.header.numIndices; ++i) {
      const size_t t = x.firstTarget + i;
      IndexRecord r = layout_.targets[t].record;
      r.offset = static_cast<uint32_t>(found_[t].offset);
      r.packetCount = r.packetCount >= found_[t].removedBefore
                          ? r.packetCount - found_[t].removedBefore
                          : 0;
      uint8_t record[kIndexRecordSize];
      StoreIndexRecord(record, r);
      out_.Write(record, sizeof record);
    }
    result_.indexKept[item] = 1;
    indexesAt_.push_back(at);
  }

  // A logical header names, per physical stream, the DATA chunk that holds it; a chunk that went
  // is replaced by the next kept one (else the last kept before it). Looked up by binary search
  // over the chunks (in file order) and a table of kept neighbours, so that a file with many
  // logical headers, offsets and chunks costs n log n, not their product.
  // standIn_ holds the output offset of each kept chunk; this fills in the others'. No DATA
  // chunk is written at offset 0 (.RMF is there): 0 means none.
  void PrepareDataChunkLookup() {
    const size_t n = layout_.data.size();
    uint32_t kept = 0;
    for (size_t k = n; k-- > 0;) {
      if (result_.dataKept[k]) kept = standIn_[k];
      standIn_[k] = kept;
    }
    kept = 0;
    for (size_t k = 0; k < n; ++k) {
      const bool own = result_.dataKept[k];
      if (standIn_[k] == 0) standIn_[k] = kept;
      if (own) kept = standIn_[k];
    }
  }

  uint32_t LookUpDataChunkOffset(uint32_t old, const StreamHeader& s) {
    if (old == 0) return 0;
    const auto& data = layout_.data;
    auto it = std::lower_bound(data.begin(), data.end(), uint64_t{old},
                               [](const DataChunk& d, uint64_t at) { return d.offset < at; });
    if (it != data.end() && it->offset == old) {
      if (const uint32_t at = standIn_[static_cast<size_t>(it - data.begin())]; at != 0) return at;
    }
    result_.notes.push_back("logical stream header " + std::to_string(s.media.streamNumber) +
                            " named offset " + std::to_string(old) +
                            ", where no DATA chunk begins; it now names the first DATA chunk");
    return static_cast<uint32_t>(firstDataAt_);
  }

  void PatchNumbers() {
    for (size_t i = 0; i + 1 < indexesAt_.size(); ++i) {
      uint8_t next[4];
      StoreU32(next, static_cast<uint32_t>(indexesAt_[i + 1]));
      out_.Patch(indexesAt_[i] + 16, next, sizeof next);
    }

    for (const OutputChunk& c : plan_.chunks) {
      if (c.input != layout_.propertiesChunk) continue;
      const std::span<const uint8_t> built = plan_.Bytes(c);
      std::vector<uint8_t> bytes(built.begin(), built.end());
      Properties p;
      ParseProperties(bytes, p);
      p.numPackets = result_.packets - removed_;
      p.dataOffset = static_cast<uint32_t>(firstDataAt_);
      p.indexOffset = indexesAt_.empty() ? 0 : static_cast<uint32_t>(indexesAt_.front());
      StoreProperties(bytes, p);
      out_.Patch(propertiesAt_, bytes.data(), bytes.size());
    }

    PrepareDataChunkLookup();
    std::vector<uint8_t> offsets;  // one header's offsets, which lie side by side: one patch
    for (size_t i = 0; i < layout_.streams.size(); ++i) {
      const StreamHeader& s = layout_.streams[i];
      if (!plan_.streamHeaderKept[i] || !s.logical) continue;
      const LogicalStream& l = *s.logical;
      if (l.count == 0) continue;
      offsets.resize(4 * size_t{l.count});
      const uint8_t* old = layout_.Bytes(layout_.chunks[s.chunk]).data() + l.dataOffsetsPos;
      StoreNewOffsets(old, l.count, offsets.data(),
                      [&](uint32_t o) { return LookUpDataChunkOffset(o, s); });
      out_.Patch(streamAt_[i] + s.logical->dataOffsetsPos, offsets.data(), offsets.size());
    }

    uint8_t count[4];
    StoreU32(count, plan_.chunkCount.Count(sectionChunks_, allChunks_));
    out_.Patch(fileHeaderAt_ + 14, count, sizeof count);
  }

  BufferedReader& in_;
  const InputLayout& layout_;
  const CleanPlan& plan_;
  BufferedWriter& out_;
  IndexMatcher matcher_;
  std::vector<FoundPacket> found_;  // per index target
  std::vector<uint64_t> streamAt_;  // output offset per stream header written
  // Per input DATA chunk: the output offset of the kept chunk that stands for it (itself when
  // kept); 4 bytes a chunk, as a file can have 65,536 of them.
  std::vector<uint32_t> standIn_;
  bool wroteData_ = false;
  uint64_t firstDataAt_ = 0;  // the first and the last DATA chunk written
  uint64_t lastDataAt_ = 0;
  std::vector<uint64_t> indexesAt_;
  CleanResult result_;
  uint32_t removed_ = 0;
  uint64_t fileHeaderAt_ = 0;
  uint64_t propertiesAt_ = 0;
  bool sawData_ = false;
  uint32_t sectionChunks_ = 0;
  uint32_t allChunks_ = 0;
};

}  // namespace

CleanResult WriteCleanFile(BufferedReader& in, const InputLayout& layout, const CleanPlan& plan,
                           BufferedWriter& out) {
  return Writer(in, layout, plan, out).Run();
}

}  // namespace pelloran::rmevents
