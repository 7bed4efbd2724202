#pragma once
// First pass over an input file: walks every chunk and every packet, checks each size and offset
// against the file, and records what the second pass needs to write the cleaned file without
// looking back: which streams are advertising, how many bytes of each DATA chunk stay, and where
// every index record's packet lands. Memory stays small: headers, one entry per DATA and INDX
// chunk, per stream and per index record, never per packet.

#include <bitset>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "batch/rmevents/ad_streams.h"
#include "batch/rmevents/byte_stream.h"
#include "batch/rmevents/rm_format.h"

namespace pelloran::rmevents {

enum class ChunkKind { FileHeader, Properties, Media, Content, Data, Index, Other };

struct InputChunk {
  ChunkKind kind = ChunkKind::Other;
  uint32_t id = 0;
  uint64_t offset = 0;
  uint64_t extent = 0;         // bytes it occupies in the input
  std::vector<uint8_t> bytes;  // the whole chunk, for .RMF, PROP, MDPR and the first CONT
  size_t item = 0;             // its entry in streams, data or indexes
};

struct StreamHeader {
  size_t chunk = 0;
  MediaProperties media;
  AdKind ad = AdKind::None;
  std::optional<LogicalStream> logical;  // logical headers that could be read
};

// A set of stream numbers (16-bit), tested once per packet: a bit each.
class StreamSet {
 public:
  void Add(uint16_t n) { bits_[n] = true; }
  bool Has(uint16_t n) const { return bits_[n]; }

 private:
  std::bitset<65536> bits_;
};

struct StreamCount {
  uint32_t packets = 0;
  uint64_t bytes = 0;
};

struct DataChunk {
  size_t chunk = 0;
  uint64_t offset = 0;
  uint64_t end = 0;  // of its extent in the input (a size past the file's end is cut there)
  DataHeader header;
  uint32_t packets = 0;
  uint32_t keptPackets = 0;
  uint64_t keptBytes = 0;
  uint64_t slack = 0;  // bytes after its last packet
};

struct IndexChunk {
  size_t chunk = 0;
  uint64_t offset = 0;
  IndexHeader header;
  bool removedStream = false;
  std::string problem;  // why its records do not match the packets; empty when they do
  size_t firstTarget = 0;
};

// One record of an index that may be kept, and where its packet ends up.
struct IndexTarget {
  uint32_t oldOffset = 0;
  int32_t dataChunk = -1;  // -1 until the packet is found
  uint64_t keptBytesBefore = 0;
  uint32_t removedBefore = 0;  // removed packets ahead of it in the file
};

struct InputLayout {
  uint64_t fileSize = 0;
  std::vector<InputChunk> chunks;
  FileHeader fileHeader;
  Properties properties;
  size_t propertiesChunk = 0;
  std::optional<size_t> contentChunk;
  ContentDescription content;
  std::vector<StreamHeader> streams;
  StreamSet physicalStreams;          // streams with a (non-logical) header
  StreamSet removedStreams;           // physical streams whose packets go
  std::map<uint16_t, StreamCount> packetsByStream;
  std::vector<DataChunk> data;
  std::vector<IndexChunk> indexes;
  std::vector<IndexTarget> targets;
  bool indexesTooLarge = false;
  uint32_t totalPackets = 0;
  uint32_t removedPackets = 0;
  std::vector<std::string> notes;  // what was tolerated, one log line each
};

struct ScanLimits {
  uint64_t maxHeaderBytes = uint64_t{64} << 20;  // all header chunks together
  size_t maxIndexRecords = size_t{1} << 20;      // beyond this the indexes are left out
  size_t maxChunks = size_t{1} << 16;            // real files have a handful
};

// Raises ERealMediaError with a message for the log when the file cannot be cleaned.
InputLayout ScanInput(BufferedReader& in, const ScanLimits& limits = {});

// Walks the packets of one DATA chunk exactly as the scan did; the writer uses it to find the
// same packets again.
class PacketWalker {
 public:
  PacketWalker(BufferedReader& in, const InputLayout& layout, const DataChunk& chunk);
  // The next packet's header, with the reader at the packet's first byte; false after the last.
  bool Next(PacketHeader& header, uint64_t& offset);
  uint32_t Count() const { return count_; }
  uint64_t Position() const { return pos_; }

 private:
  bool LooksLikePacket(const PacketHeader& h) const;

  BufferedReader& in_;
  const InputLayout& layout_;
  uint64_t pos_;
  uint64_t end_;
  uint32_t declared_;
  uint32_t count_ = 0;
};

}  // namespace pelloran::rmevents
