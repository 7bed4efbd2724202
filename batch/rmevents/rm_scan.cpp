#include "batch/rmevents/rm_scan.h"

#include <algorithm>
#include <cstring>

#include "batch/rmevents/big_endian.h"

namespace pelloran::rmevents {
namespace {

std::string At(uint64_t offset) { return "at offset " + std::to_string(offset); }

[[noreturn]] void Fail(const std::string& message) { throw ERealMediaError(message); }

// Zero bytes after the last chunk are padding some writers leave; anything else is a fault.
constexpr uint64_t kMaxZeroTail = 64 * 1024;

bool AllZero(BufferedReader& in, uint64_t from, uint64_t n) {
  in.Seek(from);
  while (n > 0) {
    size_t step = static_cast<size_t>(std::min<uint64_t>(n, 64));
    const uint8_t* p = in.Peek(step);
    if (std::any_of(p, p + step, [](uint8_t b) { return b != 0; })) return false;
    in.Skip(step);
    n -= step;
  }
  return true;
}

class Scanner {
 public:
  Scanner(BufferedReader& in, const ScanLimits& limits) : in_(in), limits_(limits) {}

  InputLayout Run() {
    layout_.fileSize = in_.Size();
    if (layout_.fileSize >= kMaxFileSize)
      Fail("the input is 4 GiB or larger; RealMedia files are smaller");
    if (layout_.fileSize < kFileHeaderSize || LoadU32(in_.Peek(4)) != kFileHeaderId)
      Fail("the input is not a RealMedia file (it does not begin with a .RMF header)");
    WalkChunks();
    CheckHeaders();
    LoadIndexTargets();
    return std::move(layout_);
  }

 private:
  void WalkChunks() {
    uint64_t pos = 0;
    const uint64_t size = layout_.fileSize;
    // As many chunks as could fit, within the limit: no regrowth on files of many chunks.
    const size_t most = static_cast<size_t>(std::min<uint64_t>(limits_.maxChunks, size / kChunkHeaderSize + 1));
    layout_.chunks.reserve(most);
    layout_.data.reserve(most);
    while (pos < size) {
      if (size - pos < kChunkHeaderSize) {
        if (!AllZero(in_, pos, size - pos))
          Fail("truncated chunk " + At(pos) + ": only " + std::to_string(size - pos) +
               " bytes are left in the file");
        layout_.notes.push_back(std::to_string(size - pos) +
                                " zero bytes at the end of the file left out");
        break;
      }
      in_.Seek(pos);
      ChunkHeader h = ParseChunkHeader(in_.Peek(kChunkHeaderSize));
      if (h.id == 0 && h.size == 0 && size - pos <= kMaxZeroTail && AllZero(in_, pos, size - pos)) {
        layout_.notes.push_back(std::to_string(size - pos) +
                                " zero bytes at the end of the file left out");
        break;
      }
      if (h.id != kDataId && !IsPlausibleFourCC(h.id)) Fail("no chunk " + At(pos) + ": the file is damaged there");
      if (h.size < kChunkHeaderSize)
        Fail("chunk " + FourCCText(h.id) + " " + At(pos) + " has an impossible size (" +
             std::to_string(h.size) + " bytes)");
      if (layout_.chunks.size() >= limits_.maxChunks)
        Fail("the file has more than " + std::to_string(limits_.maxChunks) +
             " chunks; RealMedia files have a handful");
      InputChunk chunk;
      chunk.id = h.id;
      chunk.offset = static_cast<uint32_t>(pos);  // below the file's size
      chunk.extent = h.size;
      if (h.id == kDataId) {
        AddData(chunk, h);
      } else {
        if (pos + h.size > size)
          Fail("chunk " + FourCCText(h.id) + " " + At(pos) + " (" + std::to_string(h.size) +
               " bytes) runs past the end of the file");
        if (h.id == kIndexId) {
          AddIndex(chunk, h);
        } else {
          AddHeaderOrOther(chunk, h);
        }
      }
      pos += chunk.extent;
      layout_.chunks.push_back(std::move(chunk));
    }
  }

  void RequireVersion(const ChunkHeader& h, uint64_t pos, uint16_t highest) {
    if (h.version > highest)
      Fail("chunk " + FourCCText(h.id) + " " + At(pos) + " has version " +
           std::to_string(h.version) + ", which this tool does not know");
  }

  // Reads the whole chunk into its own bytes, without clearing them first.
  const std::vector<uint8_t>& Load(InputChunk& chunk, size_t minimum) {
    if (chunk.extent < minimum)
      Fail("chunk " + FourCCText(chunk.id) + " " + At(chunk.offset) + " is too short (" +
           std::to_string(chunk.extent) + " bytes)");
    headerBytes_ += chunk.extent;
    if (headerBytes_ > limits_.maxHeaderBytes)
      Fail("the file's headers are implausibly large (over " +
           std::to_string(limits_.maxHeaderBytes >> 20) + " MiB)");
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(chunk.extent));
    in_.Seek(chunk.offset);
    in_.AppendTo(bytes, static_cast<size_t>(chunk.extent));
    chunk.bytes = static_cast<uint32_t>(layout_.loaded.size());
    layout_.loaded.push_back(std::move(bytes));
    return layout_.loaded.back();
  }

  void AddHeaderOrOther(InputChunk& chunk, const ChunkHeader& h) {
    const uint64_t pos = chunk.offset;
    switch (h.id) {
      case kFileHeaderId:
        if (pos != 0) Fail("a second .RMF header " + At(pos));
        RequireVersion(h, pos, 1);
        ParseFileHeader(Load(chunk, kFileHeaderSize), layout_.fileHeader);
        chunk.kind = ChunkKind::FileHeader;
        return;
      case kPropertiesId:
        if (sawProperties_) Fail("a second PROP header " + At(pos));
        RequireVersion(h, pos, 0);
        ParseProperties(Load(chunk, kPropertiesSize), layout_.properties);
        layout_.propertiesChunk = layout_.chunks.size();
        sawProperties_ = true;
        chunk.kind = ChunkKind::Properties;
        return;
      case kMediaPropertiesId: {
        RequireVersion(h, pos, 0);
        const std::vector<uint8_t>& bytes = Load(chunk, kChunkHeaderSize);
        StreamHeader s;
        s.chunk = layout_.chunks.size();
        if (!ParseMediaProperties(bytes, s.media))
          Fail("stream header (MDPR) " + At(pos) + " is damaged: its fields run past its size");
        s.ad = ClassifyStreamType(s.media.mimeType);
        if (s.media.IsLogical()) {
          LogicalStream logical;
          if (ParseLogicalStream(bytes, s.media, logical)) s.logical = logical;
        }
        chunk.kind = ChunkKind::Media;
        chunk.item = static_cast<uint32_t>(layout_.streams.size());
        layout_.streams.push_back(std::move(s));
        return;
      }
      case kContentId:
        if (layout_.contentChunk) break;  // a second one is copied as it stands
        RequireVersion(h, pos, 0);
        if (!ParseContent(Load(chunk, kChunkHeaderSize), layout_.content))
          Fail("content description (CONT) " + At(pos) +
               " is damaged: its texts run past its size");
        layout_.contentChunk = layout_.chunks.size();
        chunk.kind = ChunkKind::Content;
        return;
      default:
        break;
    }
    chunk.kind = ChunkKind::Other;
  }

  void AddData(InputChunk& chunk, const ChunkHeader& h) {
    const uint64_t pos = chunk.offset;
    RequireVersion(h, pos, 0);
    if (h.size < kDataHeaderSize || pos + kDataHeaderSize > layout_.fileSize)
      Fail("DATA chunk " + At(pos) + " is truncated");
    DataChunk d;
    d.chunk = static_cast<uint32_t>(layout_.chunks.size());
    d.offset = static_cast<uint32_t>(pos);
    const uint64_t declaredEnd = pos + h.size;
    in_.Seek(pos);
    d.header = ParseDataHeader(in_.Peek(kDataHeaderSize));
    if (declaredEnd <= layout_.fileSize) {
      d.end = static_cast<uint32_t>(declaredEnd);
    } else {
      // Some writers (ffmpeg among them) declare a DATA size larger than what they wrote. The
      // chunk then ends with the file, or before a chunk that the file names elsewhere (the
      // next DATA chunk it links to, the index that PROP names), so that what follows is still
      // read; the packets decide: the walk fails later if one of them does not fit.
      uint64_t end = layout_.fileSize;
      if (ChunkStartsAt(d.header.nextDataHeader, kDataId, pos, end)) end = d.header.nextDataHeader;
      if (sawProperties_ && ChunkStartsAt(layout_.properties.indexOffset, kIndexId, pos, end))
        end = layout_.properties.indexOffset;
      layout_.notes.push_back("DATA chunk " + At(pos) + " gives a wrong size, " +
                              std::to_string(h.size) + " bytes: that is " +
                              std::to_string(declaredEnd - layout_.fileSize) +
                              " more than the file holds; the chunk is taken to end at offset " +
                              std::to_string(end) + " and the cleaned file gives its true size");
      d.end = static_cast<uint32_t>(end);
    }
    chunk.extent = d.end - pos;
    chunk.kind = ChunkKind::Data;
    chunk.item = static_cast<uint32_t>(layout_.data.size());
    layout_.data.push_back(d);
  }

  // A chunk with this code begins at `at`, after the DATA header at `data` and before `end`.
  bool ChunkStartsAt(uint64_t at, uint32_t id, uint64_t data, uint64_t end) {
    if (at < data + kDataHeaderSize || at + kChunkHeaderSize > end) return false;
    in_.Seek(at);
    return LoadU32(in_.Peek(4)) == id;
  }

  void AddIndex(InputChunk& chunk, const ChunkHeader& h) {
    const uint64_t pos = chunk.offset;
    RequireVersion(h, pos, 0);
    if (h.size < kIndexHeaderSize) Fail("index chunk (INDX) " + At(pos) + " is truncated");
    IndexChunk x;
    x.chunk = layout_.chunks.size();
    x.offset = pos;
    in_.Seek(pos);
    x.header = ParseIndexHeader(in_.Peek(kIndexHeaderSize));
    uint64_t needed = kIndexHeaderSize + uint64_t{x.header.numIndices} * kIndexRecordSize;
    if (h.size == kIndexHeaderSize && needed > h.size && pos + needed <= layout_.fileSize) {
      // Some writers leave the records out of the INDX size; they follow all the same.
      layout_.notes.push_back("index chunk " + At(pos) + " does not count its records in its size");
      chunk.extent = static_cast<uint32_t>(needed);  // within the file
    } else if (needed > h.size) {
      Fail("index chunk (INDX) " + At(pos) + " counts " + std::to_string(x.header.numIndices) +
           " entries but has room for fewer");
    }
    chunk.kind = ChunkKind::Index;
    chunk.item = static_cast<uint32_t>(layout_.indexes.size());
    layout_.indexes.push_back(x);
  }

  void CheckHeaders() {
    if (!sawProperties_) Fail("the file has no properties header (PROP)");
    if (layout_.data.empty()) Fail("the file has no DATA chunk: it holds no media");
    const Properties& p = layout_.properties;
    if (p.dataOffset >= layout_.fileSize)
      Fail("the properties header points at data outside the file (offset " +
           std::to_string(p.dataOffset) + ")");
    if (p.indexOffset >= layout_.fileSize)
      Fail("the properties header points at an index outside the file (offset " +
           std::to_string(p.indexOffset) + ")");
    // The chains of DATA and INDX chunks are rebuilt on writing; a link out of the file means
    // the file was cut short.
    // Both lists are in file order, so sorted already.
    for (size_t i = 0; i < layout_.data.size(); ++i)
      CheckLink("DATA", i, layout_.data[i].header.nextDataHeader, layout_.data);
    for (size_t i = 0; i < layout_.indexes.size(); ++i)
      CheckLink("index", i, layout_.indexes[i].header.nextIndexHeader, layout_.indexes);
    for (const StreamHeader& s : layout_.streams) {
      if (s.media.IsLogical()) continue;
      if (layout_.physicalStreams.Has(s.media.streamNumber))
        Fail("two stream headers describe stream " + std::to_string(s.media.streamNumber));
      layout_.physicalStreams.Add(s.media.streamNumber);
      if (s.ad != AdKind::None) layout_.removedStreams.Add(s.media.streamNumber);
    }
    for (const StreamHeader& s : layout_.streams) {
      if (!s.media.IsLogical() || s.ad != AdKind::None) continue;
      if (!s.logical)
        Fail("logical stream header " + std::to_string(s.media.streamNumber) + " (" +
             s.media.mimeType + ") is damaged");
      // All of them first, the first offender only for the message.
      const uint8_t* bytes = layout_.Bytes(layout_.chunks[s.chunk]).data();
      const LogicalStream& l = *s.logical;
      if (!AnyOffsetOutside(bytes + l.dataOffsetsPos, l.count)) continue;
      size_t first = 0;
      while (l.DataOffset(bytes, first) < layout_.fileSize) ++first;
      const uint32_t outside = l.DataOffset(bytes, first);
      Fail("logical stream header " + std::to_string(s.media.streamNumber) +
           " points outside the file (offset " + std::to_string(outside) + ")");
    }
  }

  // A logical header's offsets mostly repeat one another: each new one is decoded and checked,
  // blocks that only repeat the last one are passed over, compared as they are stored.
  bool AnyOffsetOutside(const uint8_t* offsets, size_t count) const {
    const uint32_t size = static_cast<uint32_t>(layout_.fileSize);  // below 4 GiB
    uint32_t last = 0;  // as stored; offset 0 is inside the file
    bool outside = false;
    auto one = [&](size_t i) {
      uint32_t o;
      std::memcpy(&o, offsets + 4 * i, 4);
      if (o == last) return;
      outside |= LoadU32(offsets + 4 * i) >= size;
      last = o;
    };
    constexpr size_t kBlock = 16;
    size_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
      uint32_t block[kBlock];
      std::memcpy(block, offsets + 4 * i, sizeof block);
      const uint32_t repeated = last;
      uint32_t differs = 0;
      for (const uint32_t o : block) differs |= o ^ repeated;
      if (differs == 0) continue;
      for (size_t k = 0; k < kBlock; ++k) one(i + k);
    }
    for (; i < count; ++i) one(i);
    return outside;
  }

  // Chunk `i` of `chunks` (in file order) links to `next`: mostly the one after it.
  template <typename Chunks>
  void CheckLink(const char* kind, size_t i, uint32_t next, const Chunks& chunks) {
    if (next == 0 || (i + 1 < chunks.size() && chunks[i + 1].offset == next)) return;
    auto it = std::lower_bound(chunks.begin(), chunks.end(), uint64_t{next},
                               [](const auto& c, uint64_t at) { return c.offset < at; });
    if (it != chunks.end() && it->offset == next) return;
    NoChunkAtLink(kind, chunks[i].offset, next);
  }

  void NoChunkAtLink(const char* kind, uint64_t from, uint32_t next) {
    std::string what = std::string(kind) + " chunk " + At(from);
    if (next >= layout_.fileSize)
      Fail(what + " names a next one outside the file (offset " + std::to_string(next) +
           "): the file is cut short");
    layout_.notes.push_back(what + " names a next one at offset " + std::to_string(next) +
                            ", where there is none");
  }

  // Reads the records of every index that may stay, so that the packet walk can find where
  // each of them points.
  void LoadIndexTargets() {
    size_t total = 0;
    for (IndexChunk& x : layout_.indexes) {
      x.removedStream = layout_.removedStreams.Has(x.header.stream);
      if (!x.removedStream) total += x.header.numIndices;
    }
    if (total > limits_.maxIndexRecords) {
      layout_.indexesTooLarge = true;
      return;
    }
    layout_.targets.reserve(total);
    for (IndexChunk& x : layout_.indexes) {
      x.firstTarget = layout_.targets.size();
      if (x.removedStream) continue;
      in_.Seek(x.offset + kIndexHeaderSize);
      for (uint32_t i = 0; i < x.header.numIndices; ++i) {
        IndexRecord r = ParseIndexRecord(in_.Peek(kIndexRecordSize));
        in_.Skip(kIndexRecordSize);
        if (r.offset >= layout_.fileSize)
          Fail("index entry " + std::to_string(i) + " of stream " +
               std::to_string(x.header.stream) + " points outside the file (offset " +
               std::to_string(r.offset) + ")");
        layout_.targets.push_back({r, static_cast<uint32_t>(&x - layout_.indexes.data())});
      }
    }
    std::vector<uint32_t>& order = layout_.targetsByOffset;
    order.resize(layout_.targets.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
      return layout_.targets[a].record.offset < layout_.targets[b].record.offset;
    });
  }

  BufferedReader& in_;
  const ScanLimits& limits_;
  InputLayout layout_;
  bool sawProperties_ = false;
  uint64_t headerBytes_ = 0;
};

}  // namespace

InputLayout ScanHeaders(BufferedReader& in, const ScanLimits& limits) {
  return Scanner(in, limits).Run();
}

InputLayout ScanInput(BufferedReader& in, const ScanLimits& limits) {
  InputLayout layout = ScanHeaders(in, limits);
  IndexMatcher matcher(layout);
  for (const DataChunk& d : layout.data) {
    PacketWalker walker(in, layout, d);
    PacketHeader h;
    uint64_t offset = 0;
    while (walker.Next(h, offset)) {
      matcher.AtPacket(offset, h.stream, [](uint32_t) {});
      ++layout.packets;
    }
  }
  matcher.AfterLastPacket();
  for (size_t i = 0; i < layout.indexes.size(); ++i)
    if (!matcher.Problem(i).empty())
      layout.notes.push_back("index of stream " + std::to_string(layout.indexes[i].header.stream) +
                             ": " + matcher.Problem(i));
  return layout;
}

void IndexMatcher::AfterLastPacket() {
  for (; next_ < layout_.targetsByOffset.size(); ++next_)
    Mark(layout_.targets[layout_.targetsByOffset[next_]], "an entry points past the last packet");
}

void IndexMatcher::Mark(const IndexTarget& target, const std::string& problem) {
  std::string& p = problems_[target.index];
  if (p.empty()) p = problem;
}

PacketWalker::PacketWalker(BufferedReader& in, const InputLayout& layout, const DataChunk& chunk)
    : in_(in),
      layout_(layout),
      pos_(chunk.offset + kDataHeaderSize),
      end_(chunk.end),
      declared_(chunk.header.numPackets) {}

bool PacketWalker::LooksLikePacket(const PacketHeader& h) const {
  return h.version <= 1 && h.length >= h.HeaderSize() && pos_ + h.length <= end_ &&
         layout_.physicalStreams.Has(h.stream);
}

bool PacketWalker::Next(PacketHeader& header, uint64_t& offset) {
  // Up to the declared count every packet must be sound; after it (or when no count is
  // declared) the walk goes on only while the bytes look like further packets.
  const bool required = count_ < declared_;
  if (pos_ + kChunkHeaderSize > end_) {
    if (!required) return false;
    throw ERealMediaError("DATA chunk ends " + At(pos_) + " after " + std::to_string(count_) +
                          " of its " + std::to_string(declared_) + " packets");
  }
  in_.Seek(pos_);
  PacketHeader h = ParsePacketHeader(in_.Peek(kChunkHeaderSize));
  if (!required && !LooksLikePacket(h)) return false;
  if (h.version > 1)
    throw ERealMediaError("packet " + At(pos_) + " has version " + std::to_string(h.version) +
                          ", which this tool does not know");
  if (h.length < h.HeaderSize())
    throw ERealMediaError("packet " + At(pos_) + " has length " + std::to_string(h.length) +
                          ", less than its own header");
  if (pos_ + h.length > end_)
    throw ERealMediaError("packet " + At(pos_) + " (" + std::to_string(h.length) +
                          " bytes) runs past the end of its DATA chunk");
  header = h;
  offset = pos_;
  pos_ += h.length;
  ++count_;
  return true;
}

}  // namespace pelloran::rmevents
