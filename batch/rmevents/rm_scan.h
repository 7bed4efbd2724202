#pragma once
// Reading an input file's structure before anything is written: walks every chunk, checks each
// size and offset against the file, loads the header chunks and the index records, and decides
// which streams are advertising. The packets are walked once, while the cleaned file is written
// (rm_writer.h), so a cleaning reads each byte of the file once. Memory stays small: headers,
// one entry per DATA and INDX chunk, per stream and per index record, never per packet.

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/rmevents/ad_streams.h"
#include "batch/rmevents/byte_stream.h"
#include "batch/rmevents/rm_format.h"

namespace pelloran::rmevents {

enum class ChunkKind : uint8_t { FileHeader, Properties, Media, Content, Data, Index, Other };

constexpr uint32_t kNoBytes = static_cast<uint32_t>(-1);

// One per chunk, and a file can have 65,536: small, with the few loaded ones' bytes apart.
// Offsets and sizes fit 32 bits: the scanner refuses inputs of 4 GiB or more.
struct InputChunk {
  uint32_t offset = 0;
  uint32_t extent = 0;         // bytes it occupies in the input
  uint32_t id = 0;
  uint32_t item = 0;           // its entry in streams, data or indexes
  uint32_t bytes = kNoBytes;   // .RMF, PROP, MDPR and the first CONT: in InputLayout::loaded
  ChunkKind kind = ChunkKind::Other;
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

// One per DATA chunk, and a file can have 65,536: 32-bit offsets, as for InputChunk.
struct DataChunk {
  uint32_t chunk = 0;
  uint32_t offset = 0;
  uint32_t end = 0;  // of its extent in the input (a size past the file's end is cut there)
  DataHeader header;
};

struct IndexChunk {
  size_t chunk = 0;
  uint64_t offset = 0;
  IndexHeader header;
  bool removedStream = false;
  size_t firstTarget = 0;  // its records in InputLayout::targets, unless removedStream
};

// One record of an index that may be kept.
struct IndexTarget {
  IndexRecord record;
  uint32_t index = 0;  // the IndexChunk it belongs to
};

struct InputLayout {
  uint64_t fileSize = 0;
  std::vector<InputChunk> chunks;
  std::vector<std::vector<uint8_t>> loaded;  // the whole chunk, for those that have bytes
  const std::vector<uint8_t>& Bytes(const InputChunk& c) const { return loaded[c.bytes]; }
  FileHeader fileHeader;
  Properties properties;
  size_t propertiesChunk = 0;
  std::optional<size_t> contentChunk;
  ContentDescription content;
  std::vector<StreamHeader> streams;
  StreamSet physicalStreams;  // streams with a (non-logical) header
  StreamSet removedStreams;   // physical streams whose packets go
  std::vector<DataChunk> data;
  std::vector<IndexChunk> indexes;
  std::vector<IndexTarget> targets;
  std::vector<uint32_t> targetsByOffset;  // targets in the order of the packets they name
  bool indexesTooLarge = false;           // then targets is empty and no index is kept
  uint32_t packets = 0;                   // counted by ScanInput only
  std::vector<std::string> notes;         // what was tolerated, one log line each
};

struct ScanLimits {
  uint64_t maxHeaderBytes = uint64_t{64} << 20;  // all header chunks together
  size_t maxIndexRecords = size_t{1} << 20;      // beyond this the indexes are left out
  size_t maxChunks = size_t{1} << 16;            // real files have a handful
};

// The structure, headers and index records; what the cleaner needs before it writes. Raises
// ERealMediaError with a message for the log when the file cannot be cleaned.
InputLayout ScanHeaders(BufferedReader& in, const ScanLimits& limits = {});

// ScanHeaders and a walk over every packet, which must be sound: the whole check of a file.
InputLayout ScanInput(BufferedReader& in, const ScanLimits& limits = {});

// Walks the packets of one DATA chunk: every packet up to the declared count must be sound,
// then the walk goes on while the bytes look like further packets.
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

// Follows the packets in file order and finds the packet that each index record names. A record
// that falls between packets, on a packet of another stream or past the last packet is a
// problem of its index, which is then left out.
class IndexMatcher {
 public:
  explicit IndexMatcher(const InputLayout& layout)
      : layout_(layout), problems_(layout.indexes.size()) {}

  // Calls hit(target) for every record naming the packet at `offset`.
  template <typename Hit>
  void AtPacket(uint64_t offset, uint16_t stream, Hit&& hit) {
    const std::vector<uint32_t>& order = layout_.targetsByOffset;
    for (; next_ < order.size(); ++next_) {
      const uint32_t t = order[next_];
      const IndexTarget& target = layout_.targets[t];
      if (target.record.offset > offset) break;
      if (target.record.offset < offset) {
        Mark(target, "an entry points between packets (offset " +
                         std::to_string(target.record.offset) + ")");
      } else if (stream != layout_.indexes[target.index].header.stream) {
        Mark(target, "an entry points at a packet of stream " + std::to_string(stream));
      } else {
        hit(t);
      }
    }
  }
  void AfterLastPacket();
  // Empty when every record of the index named a packet of its stream.
  const std::string& Problem(size_t index) const { return problems_[index]; }

 private:
  void Mark(const IndexTarget& target, const std::string& problem);

  const InputLayout& layout_;
  std::vector<std::string> problems_;
  size_t next_ = 0;
};

}  // namespace pelloran::rmevents
