#include "batch/rmevents/rm_writer.h"

namespace pelloran::rmevents {
namespace {

[[noreturn]] void Changed(const char* what) {
  throw ERealMediaError(std::string("the input changed while it was being cleaned (") + what +
                        ")");
}

template <typename Offsets>
uint32_t NextKept(const std::vector<bool>& kept, const Offsets& offsets, size_t after) {
  for (size_t i = after + 1; i < kept.size(); ++i)
    if (kept[i]) return static_cast<uint32_t>(offsets[i]);
  return 0;
}

class Writer {
 public:
  Writer(BufferedReader& in, const InputLayout& layout, const CleanPlan& plan, BufferedWriter& out)
      : in_(in), layout_(layout), plan_(plan), out_(out) {}

  void Run() {
    for (const OutputChunk& c : plan_.chunks) {
      if (!c.keep) continue;
      PELLORAN_ASSERT(out_.Written() == c.offset, "output chunk out of place");
      if (c.input == kInsertedChunk || !c.bytes.empty()) {
        out_.Write(c.bytes);
        continue;
      }
      const InputChunk& source = layout_.chunks[c.input];
      switch (source.kind) {
        case ChunkKind::Data: WriteData(source.item, c); break;
        case ChunkKind::Index: WriteIndex(source.item, c); break;
        default:
          in_.Seek(source.offset);
          in_.CopyTo(out_, source.extent);
          break;
      }
      PELLORAN_ASSERT(out_.Written() == c.offset + c.size, "output chunk of the wrong size");
    }
    out_.Flush();
  }

 private:
  void WriteData(size_t item, const OutputChunk& c) {
    const DataChunk& d = layout_.data[item];
    uint8_t header[kDataHeaderSize];
    DataHeader h;
    h.numPackets = d.keptPackets;
    h.nextDataHeader = NextKept(plan_.dataKept, plan_.dataOffset, item);
    StoreDataHeader(header, static_cast<uint32_t>(c.size), h);
    out_.Write(header, sizeof header);

    PacketWalker walker(in_, layout_, d);
    PacketHeader p;
    uint64_t offset = 0;
    uint64_t copied = 0;
    while (walker.Next(p, offset)) {
      if (layout_.removedStreams.Has(p.stream)) continue;
      copied += p.length;
      if (copied > d.keptBytes) Changed("a DATA chunk grew");
      in_.CopyTo(out_, p.length);
    }
    if (walker.Count() != d.packets || copied != d.keptBytes) Changed("a DATA chunk differs");
  }

  void WriteIndex(size_t item, const OutputChunk& c) {
    const IndexChunk& x = layout_.indexes[item];
    uint8_t header[kIndexHeaderSize];
    IndexHeader h = x.header;
    h.nextIndexHeader = NextKept(plan_.indexKept, plan_.indexOffset, item);
    StoreIndexHeader(header, static_cast<uint32_t>(c.size), h);
    out_.Write(header, sizeof header);

    in_.Seek(x.offset + kIndexHeaderSize);
    for (uint32_t i = 0; i < x.header.numIndices; ++i) {
      IndexRecord r = ParseIndexRecord(in_.Peek(kIndexRecordSize));
      in_.Skip(kIndexRecordSize);
      const IndexTarget& t = layout_.targets[x.firstTarget + i];
      if (r.offset != t.oldOffset || t.dataChunk < 0) Changed("an index differs");
      r.offset = NewIndexOffset(plan_, t);
      r.packetCount = NewIndexPacketCount(t, r.packetCount);
      uint8_t record[kIndexRecordSize];
      StoreIndexRecord(record, r);
      out_.Write(record, sizeof record);
    }
  }

  BufferedReader& in_;
  const InputLayout& layout_;
  const CleanPlan& plan_;
  BufferedWriter& out_;
};

}  // namespace

void WriteCleanFile(BufferedReader& in, const InputLayout& layout, const CleanPlan& plan,
                    BufferedWriter& out) {
  Writer(in, layout, plan, out).Run();
}

}  // namespace pelloran::rmevents
