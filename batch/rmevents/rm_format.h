#pragma once
// The RealMedia container: tagged chunks (four-character code, 32-bit size that counts the
// 10-byte chunk header, 16-bit object version), big-endian throughout. The header section holds
// ".RMF", "PROP", "MDPR" (one per stream, physical or logical) and "CONT"; then come "DATA"
// chunks of packets and "INDX" chunks (one per stream) whose records point at packets.
//
// The parse functions take a whole chunk (its 10-byte header included) and return false when a
// field runs past the chunk; they never read outside the buffer they are given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "batch/rmevents/big_endian.h"

namespace pelloran::rmevents {

// A file that is not RealMedia, or whose structure is broken, or that the tool cannot handle.
PELLORAN_EXCEPTION_CLASS(ERealMediaError, Exception);

constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return uint32_t{static_cast<uint8_t>(a)} << 24 | uint32_t{static_cast<uint8_t>(b)} << 16 |
         uint32_t{static_cast<uint8_t>(c)} << 8 | uint32_t{static_cast<uint8_t>(d)};
}
constexpr uint32_t kFileHeaderId = FourCC('.', 'R', 'M', 'F');
constexpr uint32_t kPropertiesId = FourCC('P', 'R', 'O', 'P');
constexpr uint32_t kMediaPropertiesId = FourCC('M', 'D', 'P', 'R');
constexpr uint32_t kContentId = FourCC('C', 'O', 'N', 'T');
constexpr uint32_t kDataId = FourCC('D', 'A', 'T', 'A');
constexpr uint32_t kIndexId = FourCC('I', 'N', 'D', 'X');

constexpr size_t kChunkHeaderSize = 10;
constexpr size_t kFileHeaderSize = 18;
constexpr size_t kPropertiesSize = 50;
constexpr size_t kDataHeaderSize = 18;
constexpr size_t kIndexHeaderSize = 20;
constexpr size_t kIndexRecordSize = 14;
constexpr size_t kPacketHeaderSizeV0 = 12;
constexpr size_t kPacketHeaderSizeV1 = 13;

// Offsets and sizes inside a RealMedia file are 32-bit.
constexpr uint64_t kMaxFileSize = uint64_t{1} << 32;

struct ChunkHeader {
  uint32_t id = 0;
  uint32_t size = 0;
  uint16_t version = 0;
};
inline ChunkHeader ParseChunkHeader(const uint8_t* tenBytes) {
  return ChunkHeader{LoadU32(tenBytes), LoadU32(tenBytes + 4), LoadU16(tenBytes + 8)};
}
// "PROP", or the code in hexadecimal when it is not printable.
std::string FourCCText(uint32_t id);
// True for codes made of letters, digits, spaces and dots, as every chunk code is.
bool IsPlausibleFourCC(uint32_t id);

// ".RMF".
struct FileHeader {
  uint32_t fileVersion = 0;
  uint32_t numHeaders = 0;
};
bool ParseFileHeader(const std::vector<uint8_t>& chunk, FileHeader& out);

// "PROP": the field offsets are fixed, so the store patches the chunk in place.
struct Properties {
  uint32_t maxBitRate = 0;
  uint32_t avgBitRate = 0;
  uint32_t maxPacketSize = 0;
  uint32_t avgPacketSize = 0;
  uint32_t numPackets = 0;
  uint32_t duration = 0;
  uint32_t preroll = 0;
  uint32_t indexOffset = 0;
  uint32_t dataOffset = 0;
  uint16_t numStreams = 0;
  uint16_t flags = 0;
};
bool ParseProperties(const std::vector<uint8_t>& chunk, Properties& out);
void StoreProperties(std::vector<uint8_t>& chunk, const Properties& props);

// "MDPR". A logical header ("logical-..." type) describes a group of physical streams; its
// type-specific data is a LogicalStream structure.
struct MediaProperties {
  uint16_t streamNumber = 0;
  uint32_t maxBitRate = 0;
  uint32_t avgBitRate = 0;
  uint32_t maxPacketSize = 0;
  uint32_t avgPacketSize = 0;
  uint32_t startTime = 0;
  uint32_t preroll = 0;
  uint32_t duration = 0;
  std::string name;
  std::string mimeType;
  size_t typeSpecificPos = 0;  // within the chunk
  uint32_t typeSpecificLen = 0;
  bool IsLogical() const;
};
bool ParseMediaProperties(const std::vector<uint8_t>& chunk, MediaProperties& out);

// Both lists are read where they stand in the chunk's bytes, never copied: a header may hold
// 65,535 of each.
struct LogicalStream {
  uint16_t count = 0;             // physical streams, and as many DATA chunk offsets
  size_t physicalStreamsPos = 0;  // within the chunk: 16-bit stream numbers
  size_t dataOffsetsPos = 0;      // within the chunk: 32-bit file offsets of the DATA chunks
                                  // that hold each stream, so they can be patched in place
  uint16_t numRules = 0;
  uint16_t PhysicalStream(const uint8_t* chunk, size_t i) const {
    return LoadU16(chunk + physicalStreamsPos + 2 * i);
  }
  uint32_t DataOffset(const uint8_t* chunk, size_t i) const {
    return LoadU32(chunk + dataOffsetsPos + 4 * i);
  }
};
bool ParseLogicalStream(const std::vector<uint8_t>& chunk, const MediaProperties& media,
                        LogicalStream& out);

// "CONT": four texts with 16-bit lengths, bytes as they are (GBK in the files this tool meets).
struct ContentDescription {
  std::string title;
  std::string author;
  std::string copyright;
  std::string comment;
};
bool ParseContent(const std::vector<uint8_t>& chunk, ContentDescription& out);
// The whole chunk; every text must be shorter than 64 KiB.
std::vector<uint8_t> BuildContent(const ContentDescription& content);
uint64_t ContentChunkSize(const ContentDescription& content);

struct DataHeader {
  uint32_t numPackets = 0;
  uint32_t nextDataHeader = 0;
};
inline DataHeader ParseDataHeader(const uint8_t* eighteenBytes) {
  return DataHeader{LoadU32(eighteenBytes + 10), LoadU32(eighteenBytes + 14)};
}
void StoreDataHeader(uint8_t* eighteenBytes, uint32_t chunkSize, const DataHeader& header);

// Version 0 ends with a packet group byte and flags, version 1 with a 16-bit ASM rule and ASM
// flags. `length` counts the header.
struct PacketHeader {
  uint16_t version = 0;
  uint16_t length = 0;
  uint16_t stream = 0;
  uint32_t timestamp = 0;
  size_t HeaderSize() const { return version == 0 ? kPacketHeaderSizeV0 : kPacketHeaderSizeV1; }
};
// Reads the first 10 bytes (common to both versions).
PacketHeader ParsePacketHeader(const uint8_t* tenBytes);

struct IndexHeader {
  uint32_t numIndices = 0;
  uint16_t stream = 0;
  uint32_t nextIndexHeader = 0;
};
IndexHeader ParseIndexHeader(const uint8_t* twentyBytes);
void StoreIndexHeader(uint8_t* twentyBytes, uint32_t chunkSize, const IndexHeader& header);

struct IndexRecord {
  uint16_t version = 0;
  uint32_t timestamp = 0;
  uint32_t offset = 0;
  uint32_t packetCount = 0;  // packets seen from the start of the file up to this one
};
IndexRecord ParseIndexRecord(const uint8_t* fourteenBytes);
void StoreIndexRecord(uint8_t* fourteenBytes, const IndexRecord& record);

}  // namespace pelloran::rmevents
