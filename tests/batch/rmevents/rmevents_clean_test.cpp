// Cleaning synthetic files in memory: what goes, what stays byte for byte, and every header
// field and offset that depends on the layout.

#include <gtest/gtest.h>

#include "batch/rmevents/big_endian.h"
#include "batch/rmevents/clean_plan.h"
#include "batch/rmevents/rm_scan.h"
#include "batch/rmevents/rm_writer.h"
#include "tests/batch/rmevents/rm_builder.h"

namespace pelloran::rmevents {
namespace {

using rmtest::ParsedFile;

// Where the properties header (right after the 18-byte .RMF) keeps its index offset.
constexpr size_t kPropIndexOffsetAt = 18 + 10 + 7 * 4;
using rmtest::RmBuilder;

struct Cleaned {
  std::vector<uint8_t> bytes;
  ParsedFile file;
  InputLayout layout;
  CleanPlan plan;
  CleanResult result;
};

// As the tool does it: the headers first, then one pass that writes while it reads.
Cleaned Clean(const std::vector<uint8_t>& input, const EventTexts& texts = {},
              const ScanLimits& limits = {}) {
  Cleaned c;
  MemoryInput in(input);
  BufferedReader headers(in, 4096);
  c.layout = ScanHeaders(headers, limits);
  c.plan = MakePlan(c.layout, texts);
  MemoryOutput out;
  BufferedReader reader(in, 4096);
  BufferedWriter writer(out, 4096);
  c.result = WriteCleanFile(reader, c.layout, c.plan, writer);
  c.bytes = out.bytes;
  c.file = rmtest::ParseFile(c.bytes);
  EXPECT_TRUE(c.file.ok) << "the cleaned file does not parse";
  EXPECT_EQ(c.bytes.size(), c.result.outputSize);
  // The whole check of the cleaned file: every packet sound, every index entry on its packet.
  MemoryInput again(c.bytes);
  BufferedReader check(again, 4096);
  EXPECT_NO_THROW({
    InputLayout cleaned = ScanInput(check);
    for (const std::string& note : cleaned.notes)
      EXPECT_EQ(note.find("index"), std::string::npos) << note;
  });
  return c;
}

// The chunks after .RMF: those before the first DATA chunk, and all of them.
std::pair<uint32_t, uint32_t> ChunkCounts(const ParsedFile& f) {
  uint32_t section = 0, all = 0;
  bool inSection = true;
  for (const auto& chunk : f.chunks) {
    if (chunk.first == ".RMF") continue;
    if (chunk.first == "DATA") inSection = false;
    ++all;
    section += inSection;
  }
  return {section, all};
}

std::vector<rmtest::Packet> Packets(const ParsedFile& f) {
  std::vector<rmtest::Packet> out;
  for (const auto& p : f.packets) out.push_back(p.packet);
  return out;
}

void ExpectSamePackets(const std::vector<rmtest::Packet>& want,
                       const std::vector<rmtest::Packet>& got) {
  ASSERT_EQ(want.size(), got.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(want[i].version, got[i].version) << i;
    EXPECT_EQ(want[i].stream, got[i].stream) << i;
    EXPECT_EQ(want[i].timestamp, got[i].timestamp) << i;
    EXPECT_EQ(want[i].flags, got[i].flags) << i;
    EXPECT_EQ(want[i].payload, got[i].payload) << i;
  }
}

TEST(Clean, AdStreamsGoAndEveryMediaPacketStaysByteForByte) {
  RmBuilder b = rmtest::SampleFile();
  std::vector<uint8_t> input = b.Build();
  Cleaned c = Clean(input);
  ExpectSamePackets(rmtest::PacketsOf(b, true), Packets(c.file));
  // Byte for byte, headers included, against the input's own bytes.
  ParsedFile in = rmtest::ParseFile(input);
  size_t k = 0;
  for (const auto& p : in.packets) {
    if (p.packet.stream >= 2) continue;
    ASSERT_LT(k, c.file.packets.size());
    EXPECT_EQ(p.bytes, c.file.packets[k++].bytes);
  }
  std::vector<std::pair<uint16_t, std::string>> streams = {
      {0, "video/x-pn-realvideo"}, {1, "audio/x-pn-realaudio"},
      {5, "logical-video/x-pn-multirate-realvideo"}};
  EXPECT_EQ(c.file.streams, streams);
  std::string all(c.bytes.begin(), c.bytes.end());
  EXPECT_EQ(all.find("ads.example.com"), std::string::npos);
  EXPECT_EQ(c.result.packets - c.result.keptPackets, 5u);
}

TEST(Clean, HeaderCountsOffsetsAndRatesFollowTheNewLayout) {
  RmBuilder b = rmtest::SampleFile();
  Cleaned c = Clean(b.Build());
  const ParsedFile& f = c.file;
  EXPECT_EQ(f.numHeaders, 5u);        // PROP, CONT and three stream headers
  EXPECT_EQ(f.numStreams, 2);         // physical streams
  EXPECT_EQ(f.prop[1], 58000u);       // average rate without the advertising
  EXPECT_EQ(f.prop[4], f.packets.size());
  ASSERT_EQ(f.dataOffsets.size(), 1u);
  EXPECT_EQ(f.prop[8], f.dataOffsets[0]);
  EXPECT_EQ(f.dataCounts[0], f.packets.size());
  EXPECT_EQ(f.dataNext[0], 0u);
  ASSERT_EQ(f.indexes.size(), 1u);    // the events index went with its stream
  EXPECT_EQ(f.prop[7], f.indexes[0].offset);
  EXPECT_EQ(f.logicalOffsets[2], std::vector<uint32_t>{f.dataOffsets[0]});
}

// The video index of SampleFile(9), checked against the cleaned file's own packets.
void ExpectVideoIndexOnItsPackets(const ParsedFile& f) {
  ASSERT_EQ(f.indexes.size(), 1u);
  const rmtest::ParsedIndex& x = f.indexes[0];
  EXPECT_EQ(x.stream, 0);
  EXPECT_EQ(x.next, 0u);
  EXPECT_EQ(f.prop[7], x.offset);
  ASSERT_EQ(x.records.size(), 9u);
  for (const auto& r : x.records) {
    size_t n = 0;
    while (n < f.packets.size() && f.packets[n].offset != r.offset) ++n;
    ASSERT_LT(n, f.packets.size()) << "entry at " << r.offset << " hits no packet";
    EXPECT_EQ(f.packets[n].packet.stream, 0);
    EXPECT_EQ(f.packets[n].packet.timestamp, r.timestamp);
    EXPECT_EQ(r.count, n);  // packets before it, counted in the cleaned file
  }
}

TEST(Clean, IndexEntriesPointAtTheSamePacketsInTheCleanedFile) {
  ExpectVideoIndexOnItsPackets(Clean(rmtest::SampleFile(9).Build()).file);
}

TEST(Clean, AnIndexAheadOfItsPacketsIsWrittenAfterThem) {
  RmBuilder b = rmtest::SampleFile(9);
  b.indexesFirst = true;
  b.numHeaders = 10;  // PROP, CONT, six stream headers and two indexes before the DATA chunk
  Cleaned c = Clean(b.Build());
  std::vector<std::string> codes;
  for (const auto& chunk : c.file.chunks) codes.push_back(chunk.first);
  EXPECT_EQ(codes, (std::vector<std::string>{".RMF", "PROP", "CONT", "MDPR", "MDPR", "MDPR",
                                             "DATA", "INDX"}));
  EXPECT_EQ(c.file.numHeaders, 5u);  // the header section as written
  ExpectVideoIndexOnItsPackets(c.file);
}

TEST(Clean, ContentDescriptionTakesTheEventsTextsAndKeepsTheRest) {
  RmBuilder b = rmtest::SampleFile();
  EventTexts texts;
  texts.title = "Pelloran";
  texts.copyright = "\xD3\xC3\xA1\xB6Pelloran\xA1\xB7";
  Cleaned c = Clean(b.Build(), texts);
  std::vector<std::string> cont = {"Pelloran", "ad author", "\xD3\xC3\xA1\xB6Pelloran\xA1\xB7",
                                   "a comment"};
  EXPECT_EQ(c.file.cont, cont);
}

TEST(Clean, AContentDescriptionIsAddedAfterThePropertiesWhenMissing) {
  RmBuilder b = rmtest::SampleFile();
  b.withContent = false;
  EventTexts texts;
  texts.author = "www.example.org";
  Cleaned c = Clean(b.Build(), texts);
  ASSERT_GE(c.file.chunks.size(), 3u);
  EXPECT_EQ(c.file.chunks[2].first, "CONT");
  EXPECT_EQ(c.file.cont, (std::vector<std::string>{"", "www.example.org", "", ""}));
  EXPECT_EQ(c.file.numHeaders, 5u);  // one added, three stream headers removed

  Cleaned none = Clean(b.Build());  // nothing to put in: nothing added
  EXPECT_TRUE(none.file.cont.empty());
}

TEST(Clean, ADataChunkOfAdvertisingOnlyGoesAndTheChainIsRelinked) {
  RmBuilder b = rmtest::SampleFile();
  std::vector<rmtest::Packet> media, ads;
  for (const auto& p : b.data[0]) (p.stream >= 2 ? ads : media).push_back(p);
  // media | advertising | media again, in version 1
  std::vector<rmtest::Packet> tail = media;
  for (auto& p : tail) {
    p.version = 1;
    p.timestamp += 1000;
  }
  b.data = {media, ads, tail};
  b.indexes = {{0, {{0, 0}, {2, 0}}}, {2, {{1, 0}}}};
  Cleaned c = Clean(b.Build());
  ASSERT_EQ(c.file.dataOffsets.size(), 2u);
  EXPECT_EQ(c.file.dataNext[0], c.file.dataOffsets[1]);
  EXPECT_EQ(c.file.dataNext[1], 0u);
  EXPECT_EQ(c.file.dataCounts[1], tail.size());
  std::vector<rmtest::Packet> want = media;
  want.insert(want.end(), tail.begin(), tail.end());
  ExpectSamePackets(want, Packets(c.file));
  ASSERT_EQ(c.file.indexes.size(), 1u);
  EXPECT_EQ(c.file.indexes[0].records[1].offset, c.file.dataOffsets[1] + 18);
  EXPECT_EQ(c.file.indexes[0].records[1].count, media.size());
}

TEST(Clean, LogicalHeaderOfADroppedChunkNamesAKeptOne) {
  RmBuilder b;
  b.streams = {{0, "video/x-pn-realvideo", 1000, {}},
               {1, "application/x-pn-realevent", 10, {}},
               {2, "logical-video/x-pn-multirate-realvideo", 0, {0, 1}}};
  b.data = {{{0, 1, 5, "event", 2}}, {{0, 0, 0, "frame", 2}}};
  Cleaned c = Clean(b.Build());
  ASSERT_EQ(c.file.dataOffsets.size(), 1u);
  // Both streams of the logical header now name the one remaining DATA chunk.
  EXPECT_EQ(c.file.logicalOffsets[1],
            (std::vector<uint32_t>{c.file.dataOffsets[0], c.file.dataOffsets[0]}));
}

// Long offset lists are compared and rewritten a block of 16 at a time: every offset, in whole
// blocks and in the tail, must land on the right chunk, and one outside the file anywhere in a
// block must be refused.
TEST(Clean, LongLogicalHeadersAreRewrittenAndCheckedWhole) {
  RmBuilder b;
  std::vector<uint16_t> streams;
  for (int i = 0; i < 37; ++i) streams.push_back(static_cast<uint16_t>((i * 7 / 3) % 3));
  b.streams = {{0, "video/x-pn-realvideo", 1000, {}},
               {1, "audio/x-pn-realaudio", 1000, {}},
               {2, "application/x-pn-realevent", 10, {}},
               {3, "logical-video/x-pn-multirate-realvideo", 0, streams}};
  // Stream 2's chunk goes: its offsets then name the next kept chunk, stream 0's.
  b.data = {{{0, 2, 5, "event", 2}}, {{0, 0, 0, "frame", 2}}, {{0, 1, 0, "sound", 2}}};
  const std::vector<uint8_t> input = b.Build();
  Cleaned c = Clean(input);
  ASSERT_EQ(c.file.dataOffsets.size(), 2u);
  std::vector<uint32_t> want;
  for (uint16_t n : streams) want.push_back(c.file.dataOffsets[n == 1 ? 1 : 0]);
  EXPECT_EQ(c.file.logicalOffsets[2], want);  // the event stream's header went

  const StreamHeader& logical = c.layout.streams[3];
  ASSERT_TRUE(logical.logical.has_value());
  const size_t offsetsAt = c.layout.chunks[logical.chunk].offset + logical.logical->dataOffsetsPos;
  for (size_t outside : {size_t{0}, size_t{9}, size_t{15}, size_t{21}, size_t{36}}) {
    std::vector<uint8_t> damaged = input;
    StoreU32(damaged.data() + offsetsAt + 4 * outside, 0x7FFFFFF0);
    try {
      Clean(damaged);
      ADD_FAILURE() << "offset " << outside << " outside the file was not refused";
    } catch (const ERealMediaError& e) {
      EXPECT_NE(std::string(e.what()).find("points outside the file (offset 2147483632)"),
                std::string::npos)
          << e.what();
    }
  }
}

TEST(Clean, FfmpegsOversizedDataChunkAndTrailingZerosAreTolerated) {
  RmBuilder b = rmtest::SampleFile();
  b.indexes.clear();
  std::vector<uint8_t> input = b.Build();
  // Declare 18 bytes more than written and end with 8 zero bytes, as ffmpeg's muxer does.
  uint32_t at = b.dataOffsets[0];
  StoreU32(input.data() + at + 4, LoadU32(input.data() + at + 4) + 18);
  input.insert(input.end(), 8, 0);
  Cleaned c = Clean(input);
  ExpectSamePackets(rmtest::PacketsOf(b, true), Packets(c.file));
  ASSERT_EQ(c.layout.notes.size(), 1u);
  EXPECT_NE(c.layout.notes[0].find("gives a wrong size"), std::string::npos);
  ASSERT_EQ(c.result.notes.size(), 1u);
  EXPECT_NE(c.result.notes[0].find("8 bytes after its last packet"), std::string::npos);
}

TEST(Clean, ADataSizeFarPastTheEndIsNamedWrongAndWhatFollowsIsKept) {
  RmBuilder b = rmtest::SampleFile();
  std::vector<uint8_t> input = b.Build();
  StoreU32(input.data() + b.dataOffsets[0] + 4, 0xFFFFFFFF);
  Cleaned c = Clean(input);
  ExpectSamePackets(rmtest::PacketsOf(b, true), Packets(c.file));
  ASSERT_EQ(c.layout.notes.size(), 1u);
  EXPECT_NE(c.layout.notes[0].find("gives a wrong size, 4294967295 bytes"), std::string::npos);
  // The video index after the DATA chunk is still found (PROP names it) and kept.
  ASSERT_EQ(c.file.indexes.size(), 1u);
  EXPECT_EQ(c.file.indexes[0].records.size(), 6u);
  EXPECT_TRUE(c.result.notes.empty());

  b.indexes.clear();  // nothing after the DATA chunk: it ends with the file
  input = b.Build();
  StoreU32(input.data() + b.dataOffsets[0] + 4, 0xFFFFFFFF);
  Cleaned last = Clean(input);
  ExpectSamePackets(rmtest::PacketsOf(b, true), Packets(last.file));
  EXPECT_EQ(last.file.dataOffsets.size(), 1u);
}

TEST(Clean, AnIndexWhoseSizeLeavesOutItsRecordsIsTolerated) {
  RmBuilder b = rmtest::SampleFile();
  b.indexes.pop_back();  // the video index alone, at the end of the file
  std::vector<uint8_t> input = b.Build();
  StoreU32(input.data() + LoadU32(input.data() + kPropIndexOffsetAt) + 4, 20);
  Cleaned c = Clean(input);
  ASSERT_EQ(c.file.indexes.size(), 1u);
  EXPECT_EQ(c.file.indexes[0].records.size(), 6u);
}

TEST(Clean, AnIndexThatMissesItsPacketsIsLeftOut) {
  RmBuilder b = rmtest::SampleFile();
  std::vector<uint8_t> input = b.Build();
  // Move the video index's second entry one byte into its packet.
  uint32_t indexAt = LoadU32(input.data() + kPropIndexOffsetAt);
  uint8_t* entry = input.data() + indexAt + 20 + 14 + 6;
  StoreU32(entry, LoadU32(entry) + 1);
  Cleaned c = Clean(input);
  EXPECT_TRUE(c.file.indexes.empty());
  EXPECT_EQ(c.file.prop[7], 0u);
  ASSERT_EQ(c.result.notes.size(), 1u);
  EXPECT_NE(c.result.notes[0].find("between packets"), std::string::npos);
  ExpectSamePackets(rmtest::PacketsOf(b, true), Packets(c.file));
}

TEST(Clean, TooManyIndexEntriesMeanNoIndexAndNoGrowingMemory) {
  RmBuilder b = rmtest::SampleFile();
  ScanLimits limits;
  limits.maxIndexRecords = 3;
  Cleaned c = Clean(b.Build(), {}, limits);
  EXPECT_TRUE(c.file.indexes.empty());
  EXPECT_TRUE(c.layout.targets.empty());
  ExpectSamePackets(rmtest::PacketsOf(b, true), Packets(c.file));
}

TEST(Clean, AFileOfCountlessChunksIsRefusedBeforeItFillsMemory) {
  RmBuilder b = rmtest::SampleFile();
  b.indexes.clear();
  std::vector<uint8_t> input = b.Build();
  for (int i = 0; i < 40; ++i)  // empty chunks of an unknown kind
    input.insert(input.end(), {'J', 'U', 'N', 'K', 0, 0, 0, 10, 0, 0});
  ScanLimits limits;
  limits.maxChunks = 32;
  MemoryInput in(input);
  BufferedReader reader(in);
  EXPECT_THROW(ScanInput(reader, limits), ERealMediaError);
  limits.maxChunks = 64;
  Cleaned c = Clean(input, {}, limits);  // unknown chunks are copied as they stand
  EXPECT_EQ(c.file.chunks.size(), 1 + 1 + 1 + 3 + 1 + 40u);
}

TEST(Clean, PacketsBeyondTheDeclaredCountAreKept) {
  RmBuilder b = rmtest::SampleFile();
  b.indexes.clear();
  std::vector<uint8_t> input = b.Build();
  StoreU32(input.data() + b.dataOffsets[0] + 10, 3);  // counts 3 of its packets
  Cleaned c = Clean(input);
  ExpectSamePackets(rmtest::PacketsOf(b, true), Packets(c.file));
  EXPECT_EQ(c.file.dataCounts[0], c.file.packets.size());
}

TEST(Clean, AFileWithoutAdvertisingKeepsEverything) {
  RmBuilder b;
  b.streams = {{0, "video/x-pn-realvideo", 1000, {}}, {1, "audio/x-pn-realaudio", 500, {}}};
  b.data = {{{0, 0, 0, "frame", 2}, {1, 1, 0, "sound", 0}, {0, 0, 40, "frame 2", 0}}};
  b.indexes = {{0, {{0, 0}, {0, 2}}}};
  std::vector<uint8_t> input = b.Build();
  Cleaned c = Clean(input);
  EXPECT_EQ(c.bytes, input);  // the same texts, so the same bytes
}

TEST(Clean, OlderEventAndImageMapTypesGoWithTheirPacketsAndIndexes) {
  RmBuilder b;
  b.streams = {{0, "video/x-pn-realvideo", 1000, {}},
               {1, "audio/x-pn-realaudio", 500, {}},
               {2, "syncMM/x-pn-realvideo", 10, {}},
               {3, "SYNCMM/X-PN-REALVIDEO-ENCRYPTED", 10, {}},
               {4, "image_map/x-pn-realvideo", 10, {}},
               {5, "logical-syncMM/x-pn-realvideo", 0, {2, 3}}};
  std::vector<rmtest::Packet> packets;
  for (uint32_t i = 0; i < 6; ++i) {
    packets.push_back({0, 0, i * 100, "frame " + std::to_string(i), 2});
    packets.push_back({0, 1, i * 100, "sound " + std::to_string(i), 0});
    packets.push_back({0, static_cast<uint16_t>(2 + i % 3), i * 100 + 1,
                       "u http://ads.example.com/" + std::to_string(i), 2});
  }
  b.data = {packets};
  b.indexes = {{0, {{0, 0}, {0, 9}}}, {2, {{0, 2}}}, {4, {{0, 8}, {0, 17}}}};
  Cleaned c = Clean(b.Build());
  EXPECT_EQ(c.file.streams, (std::vector<std::pair<uint16_t, std::string>>{
                                {0, "video/x-pn-realvideo"}, {1, "audio/x-pn-realaudio"}}));
  ExpectSamePackets(rmtest::PacketsOf(b, true), Packets(c.file));
  EXPECT_EQ(c.file.packets.size(), 12u);
  ASSERT_EQ(c.file.indexes.size(), 1u);
  EXPECT_EQ(c.file.indexes[0].stream, 0);
  EXPECT_EQ(c.file.numStreams, 2);
  EXPECT_EQ(c.file.numHeaders, 4u);  // PROP, CONT and two stream headers
  std::string all(c.bytes.begin(), c.bytes.end());
  EXPECT_EQ(all.find("ads.example.com"), std::string::npos);
}

TEST(Clean, TheChunkCountDescribesTheOutputTheWayTheInputCounted) {
  // The sample loses three stream headers and an index; the split one also a DATA chunk.
  RmBuilder split = rmtest::SampleFile();
  std::vector<rmtest::Packet> media, ads;
  for (const auto& p : split.data[0]) (p.stream >= 2 ? ads : media).push_back(p);
  split.data = {media, ads};
  split.indexes = {{0, {{0, 0}, {0, 2}}}, {2, {{1, 0}}}};
  for (RmBuilder b : {rmtest::SampleFile(), split}) {
    auto [sectionIn, allIn] = ChunkCounts(rmtest::ParseFile(b.Build()));
    // After .RMF: the header section or every chunk; .RMF itself counted or not.
    const std::pair<uint32_t, bool> ways[] = {
        {sectionIn, false}, {sectionIn + 1, false}, {allIn, true}, {allIn + 1, true}};
    for (size_t w = 0; w < 4; ++w) {
      b.numHeaders = ways[w].first;
      Cleaned c = Clean(b.Build());
      auto [section, all] = ChunkCounts(c.file);
      EXPECT_EQ(c.file.numHeaders, (ways[w].second ? all : section) + w % 2) << "way " << w;
    }
    // A count that fits no way is wrong; the output counts all its chunks, .RMF included.
    for (uint32_t wrong : {0xFFFFFFFFu, 0u, allIn + 2}) {
      b.numHeaders = wrong;
      Cleaned c = Clean(b.Build());
      EXPECT_EQ(c.file.numHeaders, c.file.chunks.size()) << wrong;
      ASSERT_EQ(c.plan.notes.size(), 1u);
      EXPECT_NE(c.plan.notes[0].find("the count is wrong"), std::string::npos);
    }
  }
}

TEST(Clean, TheStreamCountDescribesTheOutputTheWayTheInputCounted) {
  RmBuilder b = rmtest::SampleFile();  // four physical streams and two logical headers
  EXPECT_EQ(Clean(b.Build()).file.numStreams, 2);  // physical ones
  b.numStreams = 6;                                // every stream header
  EXPECT_EQ(Clean(b.Build()).file.numStreams, 3);
  b.numStreams = 0xFFFF;
  Cleaned damaged = Clean(b.Build());
  EXPECT_EQ(damaged.file.numStreams, damaged.file.streams.size());
  EXPECT_EQ(damaged.file.streams.size(), 3u);
  ASSERT_EQ(damaged.plan.notes.size(), 1u);
  EXPECT_NE(damaged.plan.notes[0].find("counts 65535 streams"), std::string::npos);
}

}  // namespace
}  // namespace pelloran::rmevents
