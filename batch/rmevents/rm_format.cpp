#include "batch/rmevents/rm_format.h"

#include <cstdio>

#include "batch/rmevents/big_endian.h"

namespace pelloran::rmevents {

bool IsPlausibleFourCC(uint32_t id) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    char c = static_cast<char>((id >> shift) & 0xFF);
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == ' ' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string FourCCText(uint32_t id) {
  if (IsPlausibleFourCC(id)) {
    return std::string{static_cast<char>(id >> 24), static_cast<char>(id >> 16),
                       static_cast<char>(id >> 8), static_cast<char>(id)};
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(id));
  return text;
}

bool ParseFileHeader(const std::vector<uint8_t>& chunk, FileHeader& out) {
  ByteReader r(chunk.data(), chunk.size());
  r.Skip(kChunkHeaderSize);
  out.fileVersion = r.U32();
  out.numHeaders = r.U32();
  return r.Ok();
}

bool ParseProperties(const std::vector<uint8_t>& chunk, Properties& out) {
  ByteReader r(chunk.data(), chunk.size());
  r.Skip(kChunkHeaderSize);
  out.maxBitRate = r.U32();
  out.avgBitRate = r.U32();
  out.maxPacketSize = r.U32();
  out.avgPacketSize = r.U32();
  out.numPackets = r.U32();
  out.duration = r.U32();
  out.preroll = r.U32();
  out.indexOffset = r.U32();
  out.dataOffset = r.U32();
  out.numStreams = r.U16();
  out.flags = r.U16();
  return r.Ok();
}

void StoreProperties(std::vector<uint8_t>& chunk, const Properties& props) {
  uint8_t* p = chunk.data() + kChunkHeaderSize;
  const uint32_t fields[] = {props.maxBitRate, props.avgBitRate, props.maxPacketSize,
                             props.avgPacketSize, props.numPackets, props.duration,
                             props.preroll, props.indexOffset, props.dataOffset};
  for (uint32_t v : fields) {
    StoreU32(p, v);
    p += 4;
  }
  StoreU16(p, props.numStreams);
  StoreU16(p + 2, props.flags);
}

bool MediaProperties::IsLogical() const { return mimeType.rfind("logical-", 0) == 0; }

bool ParseMediaProperties(const std::vector<uint8_t>& chunk, MediaProperties& out) {
  ByteReader r(chunk.data(), chunk.size());
  r.Skip(kChunkHeaderSize);
  out.streamNumber = r.U16();
  out.maxBitRate = r.U32();
  out.avgBitRate = r.U32();
  out.maxPacketSize = r.U32();
  out.avgPacketSize = r.U32();
  out.startTime = r.U32();
  out.preroll = r.U32();
  out.duration = r.U32();
  out.name = r.Text(r.U8());
  out.mimeType = r.Text(r.U8());
  out.typeSpecificLen = r.U32();
  out.typeSpecificPos = r.Position();
  r.Skip(out.typeSpecificLen);
  return r.Ok();
}

bool ParseLogicalStream(const std::vector<uint8_t>& chunk, const MediaProperties& media,
                        LogicalStream& out) {
  ByteReader r(chunk.data() + media.typeSpecificPos, media.typeSpecificLen);
  uint32_t size = r.U32();
  uint16_t version = r.U16();
  if (!r.Ok() || version != 0 || size < 6 || size > media.typeSpecificLen) return false;
  uint16_t count = r.U16();
  // Both lists must be there whole.
  if (r.Remaining() < size_t{count} * 6) return false;
  out.count = count;
  out.physicalStreamsPos = media.typeSpecificPos + r.Position();
  out.dataOffsetsPos = out.physicalStreamsPos + 2 * size_t{count};
  r.Skip(size_t{count} * 6);
  out.numRules = r.U16();
  r.Skip(size_t{out.numRules} * 2);
  r.U16();  // number of properties; they are kept as they stand
  return r.Ok() && r.Position() <= size;
}

bool ParseContent(const std::vector<uint8_t>& chunk, ContentDescription& out) {
  ByteReader r(chunk.data(), chunk.size());
  r.Skip(kChunkHeaderSize);
  out.title = r.Text(r.U16());
  out.author = r.Text(r.U16());
  out.copyright = r.Text(r.U16());
  out.comment = r.Text(r.U16());
  return r.Ok();
}

uint64_t ContentChunkSize(const ContentDescription& c) {
  return kChunkHeaderSize + 8 + c.title.size() + c.author.size() + c.copyright.size() +
         c.comment.size();
}

std::vector<uint8_t> BuildContent(const ContentDescription& c) {
  std::vector<uint8_t> chunk;
  ByteWriter w(chunk);
  w.U32(kContentId);
  w.U32(static_cast<uint32_t>(ContentChunkSize(c)));
  w.U16(0);
  for (const std::string* text : {&c.title, &c.author, &c.copyright, &c.comment}) {
    PELLORAN_ASSERT(text->size() <= 0xFFFF, "content text of 64 KiB or more");
    w.U16(static_cast<uint16_t>(text->size()));
    w.Text(*text);
  }
  return chunk;
}

void StoreDataHeader(uint8_t* p, uint32_t chunkSize, const DataHeader& header) {
  StoreU32(p, kDataId);
  StoreU32(p + 4, chunkSize);
  StoreU16(p + 8, 0);
  StoreU32(p + 10, header.numPackets);
  StoreU32(p + 14, header.nextDataHeader);
}

PacketHeader ParsePacketHeader(const uint8_t* p) {
  return PacketHeader{LoadU16(p), LoadU16(p + 2), LoadU16(p + 4), LoadU32(p + 6)};
}

IndexHeader ParseIndexHeader(const uint8_t* p) {
  return IndexHeader{LoadU32(p + 10), LoadU16(p + 14), LoadU32(p + 16)};
}

void StoreIndexHeader(uint8_t* p, uint32_t chunkSize, const IndexHeader& header) {
  StoreU32(p, kIndexId);
  StoreU32(p + 4, chunkSize);
  StoreU16(p + 8, 0);
  StoreU32(p + 10, header.numIndices);
  StoreU16(p + 14, header.stream);
  StoreU32(p + 16, header.nextIndexHeader);
}

IndexRecord ParseIndexRecord(const uint8_t* p) {
  return IndexRecord{LoadU16(p), LoadU32(p + 2), LoadU32(p + 6), LoadU32(p + 10)};
}

void StoreIndexRecord(uint8_t* p, const IndexRecord& record) {
  StoreU16(p, record.version);
  StoreU32(p + 2, record.timestamp);
  StoreU32(p + 6, record.offset);
  StoreU32(p + 10, record.packetCount);
}

}  // namespace pelloran::rmevents
