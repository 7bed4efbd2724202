#pragma once
// Builds small RealMedia files in memory for the tests, independently of the tool's writer:
// stream headers (physical and logical), an optional CONT, DATA chunks of version-0 and
// version-1 packets and INDX chunks whose entries name packets by their place.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rmtest {

struct Packet {
  uint16_t version = 0;
  uint16_t stream = 0;
  uint32_t timestamp = 0;
  std::string payload;
  uint8_t flags = 2;
};

struct Stream {
  uint16_t number = 0;
  std::string mime;
  uint32_t avgBitRate = 1000;
  std::vector<uint16_t> logicalStreams;  // for "logical-..." types
};

struct IndexEntry {
  size_t chunk = 0;   // DATA chunk
  size_t packet = 0;  // packet within it
};

struct Index {
  uint16_t stream = 0;
  std::vector<IndexEntry> entries;
};

class RmBuilder {
 public:
  std::vector<Stream> streams;
  bool withContent = true;
  std::string title = "ad title", author = "ad author", copyright = "ad copyright",
              comment = "a comment";
  std::vector<std::vector<Packet>> data;
  std::vector<Index> indexes;
  // Written as given; by default .RMF counts the header section after itself and PROP the
  // physical streams.
  std::optional<uint32_t> numHeaders;
  std::optional<uint16_t> numStreams;
  bool indexesFirst = false;  // INDX chunks before the DATA chunks instead of after them

  std::vector<uint8_t> Build();
  // Where the last Build put each packet and each DATA chunk.
  std::vector<std::vector<uint32_t>> packetOffsets;
  std::vector<uint32_t> dataOffsets;

 private:
  std::vector<uint8_t> Header(const std::vector<uint32_t>& dataAt, uint32_t indexAt,
                              uint32_t totalPackets) const;
};

// Video 0 and audio 1 with `rounds` packets each, an event stream 2 (version 0) and an image
// map 3 (version 1) interleaved, one DATA chunk, indexes for video and for the events.
RmBuilder SampleFile(int rounds = 6);

// The advertising types the tests use, written out in full (any case, "logical-" ignored).
bool IsAdType(const std::string& mime);

// Physical packets of the builder in file order, as the cleaner must keep them.
std::vector<Packet> PacketsOf(const RmBuilder& b, bool withoutAds);

// A plain reader for checking outputs: every chunk, packet and index record with its offset.
// It trusts sizes (the files it reads come from the tool) but never reads outside the buffer.
struct ParsedPacket {
  uint32_t offset = 0;
  Packet packet;
  std::vector<uint8_t> bytes;  // header included
};
struct ParsedIndex {
  uint32_t offset = 0;
  uint16_t stream = 0;
  uint32_t next = 0;
  struct Record {
    uint32_t timestamp, offset, count;
  };
  std::vector<Record> records;
};
struct ParsedFile {
  bool ok = false;
  std::vector<std::pair<std::string, uint32_t>> chunks;  // code, offset
  uint32_t numHeaders = 0;
  uint32_t prop[9] = {};  // max/avg rate, max/avg packet, packets, duration, preroll, index, data
  uint16_t numStreams = 0;
  std::vector<std::string> cont;
  std::vector<std::pair<uint16_t, std::string>> streams;          // number, type
  std::vector<std::vector<uint32_t>> logicalOffsets;              // per stream header
  std::vector<uint32_t> dataOffsets, dataCounts, dataNext;
  std::vector<ParsedPacket> packets;
  std::vector<ParsedIndex> indexes;
};
ParsedFile ParseFile(const std::vector<uint8_t>& bytes);

}  // namespace rmtest
