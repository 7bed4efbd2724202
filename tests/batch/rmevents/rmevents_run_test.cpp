// Whole runs of the tool over in-memory files: what the batch runner relies on (the log ends
// with "***", a failure leaves no output, the output is written while the input is read) and
// that no damaged input can crash it or make it loop.

#include <gtest/gtest.h>

#include <functional>

#include "batch/rmevents/big_endian.h"
#include "batch/rmevents/rm_scan.h"
#include "tests/batch/rmevents/memory_environment.h"
#include "tests/batch/rmevents/rm_builder.h"

namespace pelloran::rmevents {
namespace {

using rmtest::MemoryEnvironment;
using rmtest::MemoryLog;

const char kEvents[] =
    "i 00:00:00.0 00:00:10.0 Pelloran\r\na 00:00:00.0 00:00:10.0 www.pelloran.example\r\n"
    "c 00:00:00.0 00:00:10.0 \xD3\xC3\xA1\xB6Pelloran\xA1\xB7\r\nu 00:00:01.0 00:00:02.0 "
    "http://ads.example.com/\r\n";
const char kImageMap[] =
    "DURATION=0:0:0:0:1\r\n<MAP START=0:0:0:0:1 END=0:0:0:0:1 COORDS=0,0,0,0><AREA "
    "SHAPE=RECTANGLE COORDS=0,0,0,0 URL=\"\" ALT=\"\"></MAP>\r\n";

// Where the properties header (right after the 18-byte .RMF) keeps its index and data offsets.
constexpr size_t kPropIndexOffsetAt = 18 + 10 + 7 * 4;
constexpr size_t kPropDataOffsetAt = 18 + 10 + 8 * 4;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

struct Run {
  MemoryEnvironment env;
  MemoryLog log;
  RunOutcome outcome;
};

std::unique_ptr<Run> RunOn(std::vector<uint8_t> input, bool staleOutput = false,
                           std::vector<std::wstring> args = {}) {
  auto r = std::make_unique<struct Run>();
  r->env.files[L"in.rm"] = std::move(input);
  r->env.files[L"blank.txt"] = Bytes(kEvents);
  r->env.files[L"blank2.txt"] = Bytes(kImageMap);
  if (staleOutput) r->env.files[L"out.rm"] = Bytes("an earlier output");
  if (args.empty())
    args = {L"-i", L"in.rm", L"-o", L"out.rm", L"-e", L"blank.txt", L"-m", L"blank2.txt",
            L"-l", L"result.txt"};
  r->outcome = RunTool(ParseCommandLine(args), r->env, r->log);
  return r;
}

// A failed run leaves no partial file and an earlier output exactly as it was.
void ExpectFailedCleanly(const Run& r, const std::string& what, bool staleOutput = false) {
  EXPECT_FALSE(r.outcome.succeeded) << what;
  ASSERT_FALSE(r.log.lines.empty());
  EXPECT_EQ(r.log.lines.back(), "***") << what;
  EXPECT_EQ(r.env.files.count(L"~out.rm.part"), 0u) << what << "\n" << r.log.Text();
  if (staleOutput) {
    ASSERT_EQ(r.env.files.count(L"out.rm"), 1u) << what;
    EXPECT_EQ(r.env.files.at(L"out.rm"), Bytes("an earlier output")) << what;
  } else {
    EXPECT_EQ(r.env.files.count(L"out.rm"), 0u) << what << "\n" << r.log.Text();
  }
}

TEST(Run, ASuccessfulRunLogsWhatItReadRemovedAndWroteThenStars) {
  rmtest::RmBuilder b = rmtest::SampleFile();
  auto r = RunOn(b.Build());
  ASSERT_TRUE(r->outcome.succeeded) << r->log.Text();
  const std::string log = r->log.Text();
  EXPECT_EQ(r->log.lines.back(), "***");
  EXPECT_NE(log.find("Read: \"in.rm\""), std::string::npos);
  EXPECT_NE(log.find("Read: 17 packets, 5 of them advertising"), std::string::npos);
  EXPECT_NE(log.find("Removed: stream 2, application/x-pn-realevent (event stream): its header "
                     "and 3 packets"),
            std::string::npos);
  EXPECT_NE(log.find("Removed: stream 3, application/x-pn-imagemap (image map)"),
            std::string::npos);
  EXPECT_NE(log.find("Removed: logical header 4"), std::string::npos);
  EXPECT_NE(log.find("URL event (u) not supported"), std::string::npos);
  EXPECT_NE(log.find("no links; nothing to add"), std::string::npos);
  EXPECT_NE(log.find("Wrote: \"out.rm\", " + std::to_string(r->env.files[L"out.rm"].size()) +
                     " bytes"),
            std::string::npos);
  rmtest::ParsedFile out = rmtest::ParseFile(r->env.files[L"out.rm"]);
  EXPECT_TRUE(out.ok);
  EXPECT_EQ(out.cont[0], "Pelloran");
}

TEST(Run, AChineseLogSaysTheSameAndKeepsTheLinesTheRunnerReads) {
  rmtest::RmBuilder b = rmtest::SampleFile();
  auto r = RunOn(b.Build(), false,
                 {L"-i", L"in.rm", L"-o", L"out.rm", L"-e", L"blank.txt", L"-m", L"blank2.txt",
                  L"-l", L"result.txt", L"--lang", L"zh"});
  ASSERT_TRUE(r->outcome.succeeded) << r->log.Text();
  const std::string log = r->log.Text();
  EXPECT_EQ(r->log.lines.back(), "***");
  EXPECT_NE(log.find("读取：17 个数据包，其中 5 个是广告"), std::string::npos) << log;
  EXPECT_NE(log.find("已删除：流 2，application/x-pn-realevent（事件流）：其头部和 3 个数据包"),
            std::string::npos) << log;
  EXPECT_NE(log.find("已删除：逻辑头 4"), std::string::npos);
  EXPECT_NE(log.find("第 4 行：不支持网址事件 (u)"), std::string::npos) << log;
  EXPECT_NE(log.find("已写入：\"out.rm\"，" + std::to_string(r->env.files[L"out.rm"].size()) +
                     " 字节"),
            std::string::npos);
  EXPECT_EQ(log.find("Read:"), std::string::npos) << "no English line left: " << log;
  EXPECT_EQ(log.find("Removed:"), std::string::npos) << log;

  auto same = RunOn(b.Build(), false,
                    {L"-i", L"in.rm", L"-o", L"in.rm", L"-l", L"result.txt", L"--lang", L"zh"});
  EXPECT_FALSE(same->outcome.succeeded);
  EXPECT_NE(same->log.Text().find("\nError: 输出文件就是输入文件"), std::string::npos)
      << same->log.Text();
  EXPECT_EQ(same->log.lines.back(), "***");
}

TEST(Run, AFailureRemovesOnlyItsPartialFileAndAnEarlierOutputStays) {
  rmtest::RmBuilder b = rmtest::SampleFile();
  std::vector<uint8_t> input = b.Build();
  StoreU16(input.data() + b.packetOffsets[0][3] + 2, 0xFFF0);  // a packet longer than its chunk
  auto r = RunOn(input, true);
  ExpectFailedCleanly(*r, "bad packet", true);
  EXPECT_NE(r->log.Text().find("Error: packet at offset"), std::string::npos);
  EXPECT_EQ(r->env.removed, std::vector<std::wstring>{L"~out.rm.part"});
  EXPECT_EQ(r->env.files.at(L"in.rm"), input);

  // A good run replaces the earlier output only once it is complete.
  auto good = RunOn(b.Build(), true);
  ASSERT_TRUE(good->outcome.succeeded) << good->log.Text();
  EXPECT_TRUE(rmtest::ParseFile(good->env.files.at(L"out.rm")).ok);
  EXPECT_EQ(good->env.files.count(L"~out.rm.part"), 0u);
}

TEST(Run, TheInputIsNeverItsOwnOutputAndNothingIsReadFirst) {
  rmtest::RmBuilder b = rmtest::SampleFile();
  std::vector<uint8_t> input = b.Build();
  // The control files are missing too: the refusal comes before they would be read.
  auto r = RunOn(input, false, {L"-i", L"in.rm", L"-o", L"in.rm", L"-e", L"missing.txt", L"-m",
                                L"missing2.txt", L"-l", L"result.txt"});
  EXPECT_FALSE(r->outcome.succeeded);
  EXPECT_EQ(r->env.files[L"in.rm"], input);
  EXPECT_TRUE(r->env.removed.empty());
  EXPECT_TRUE(r->env.events.empty()) << "nothing is read";
  EXPECT_NE(r->log.Text().find("Error: the output file is the input file"), std::string::npos);
  EXPECT_EQ(r->log.lines.back(), "***");
}

TEST(Run, APartialFileInTheWayIsLeftAloneAndTheRunFails) {
  rmtest::RmBuilder b = rmtest::SampleFile();
  auto r = std::make_unique<struct Run>();
  r->env.files[L"in.rm"] = b.Build();
  r->env.files[L"~out.rm.part"] = Bytes("somebody's file");
  r->outcome = RunTool(ParseCommandLine({L"-i", L"in.rm", L"-o", L"out.rm"}), r->env, r->log);
  EXPECT_FALSE(r->outcome.succeeded);
  EXPECT_EQ(r->env.files.at(L"~out.rm.part"), Bytes("somebody's file"));
  EXPECT_EQ(r->env.files.count(L"out.rm"), 0u);
  EXPECT_TRUE(r->env.removed.empty());
}

TEST(Run, ALongWriteLogsItsProgress) {
  rmtest::RmBuilder b = rmtest::SampleFile();
  auto r = std::make_unique<struct Run>();
  r->env.files[L"in.rm"] = b.Build();
  r->env.clockStep = 6000;  // every write seems to come 6 s after the one before
  r->outcome = RunTool(ParseCommandLine({L"-i", L"in.rm", L"-o", L"out.rm"}), r->env, r->log);
  ASSERT_TRUE(r->outcome.succeeded) << r->log.Text();
  EXPECT_NE(r->log.Text().find("Writing: "), std::string::npos) << r->log.Text();
  r->env.clockStep = 0;
  auto quick = RunOn(b.Build());
  EXPECT_EQ(quick->log.Text().find("Writing: "), std::string::npos);
}

TEST(Run, MissingFilesAndBadCommandLinesFailWithAMessage) {
  auto missingInput = RunOn({}, true, {L"-i", L"nothing.rm", L"-o", L"out.rm"});
  ExpectFailedCleanly(*missingInput, "missing input", true);

  rmtest::RmBuilder b = rmtest::SampleFile();
  auto missingEvents = RunOn(b.Build(), true, {L"-i", L"in.rm", L"-o", L"out.rm", L"-e", L"x.txt"});
  ExpectFailedCleanly(*missingEvents, "missing events file", true);
  EXPECT_NE(missingEvents->log.Text().find("the events file \"x.txt\" cannot be read"),
            std::string::npos);

  auto usage = RunOn(b.Build(), false, {L"-i", L"in.rm", L"-q"});
  EXPECT_EQ(ExitStatus(ParseCommandLine({L"-i", L"in.rm", L"-q"}), usage->outcome), 2);
  EXPECT_EQ(usage->log.lines.back(), "***");
  EXPECT_NE(usage->log.Text().find("usage: rmevents"), std::string::npos);
}

TEST(Run, BadInputsEachGetAClearMessage) {
  rmtest::RmBuilder b = rmtest::SampleFile();
  const std::vector<uint8_t> good = b.Build();
  struct Case {
    const char* expected;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  std::vector<Case> cases = {
      {"not a RealMedia file", [](auto& f) { f[0] = 'X'; }},
      {"not a RealMedia file", [](auto& f) { f.resize(10); }},
      {"runs past the end of the file", [](auto& f) { StoreU32(f.data() + 22, 5000); }},
      {"impossible size", [](auto& f) { StoreU32(f.data() + 22, 4); }},
      {"after 7 of its", [&b](auto& f) {
         StoreU32(f.data() + kPropIndexOffsetAt, 0);
         f.resize(b.packetOffsets[0][7]);
       }},
      {"less than its own header",
       [&b](auto& f) { StoreU16(f.data() + b.packetOffsets[0][0] + 2, 5); }},
      {"has version 7", [&b](auto& f) { StoreU16(f.data() + b.packetOffsets[0][1], 7); }},
      {"data outside the file",
       [](auto& f) { StoreU32(f.data() + kPropDataOffsetAt, 0x7FFFFFFF); }},
      {"index outside the file",
       [](auto& f) { StoreU32(f.data() + kPropIndexOffsetAt, 0x7FFFFFF0); }},
      {"points outside the file", [](auto& f) {
         uint32_t indexAt = LoadU32(f.data() + kPropIndexOffsetAt);
         StoreU32(f.data() + indexAt + 20 + 6, 0x10000000);
       }},
      {"room for fewer", [](auto& f) {
         uint32_t indexAt = LoadU32(f.data() + kPropIndexOffsetAt);
         StoreU32(f.data() + indexAt + 10, 1000);
       }},
      {"truncated chunk", [](auto& f) { f.insert(f.end(), {'I', 'N', 'D'}); }},
      {"damaged there", [](auto& f) { f.insert(f.end(), 12, 0xEE); }},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> input = good;
    c.damage(input);
    auto r = RunOn(input, true);
    ExpectFailedCleanly(*r, c.expected, true);
    EXPECT_NE(r->log.Text().find(c.expected), std::string::npos)
        << "expected \"" << c.expected << "\" in\n" << r->log.Text();
  }
}

TEST(Run, EveryTruncationOfAFileFailsCleanly) {
  rmtest::RmBuilder b = rmtest::SampleFile(3);
  const std::vector<uint8_t> good = b.Build();
  for (size_t n = 0; n < good.size(); ++n) {
    auto r = RunOn(std::vector<uint8_t>(good.begin(), good.begin() + n), true);
    ExpectFailedCleanly(*r, "cut at " + std::to_string(n), true);
  }
}

TEST(Run, DamagedBytesAnywhereNeverCrashAndAnyOutputIsSound) {
  rmtest::RmBuilder b = rmtest::SampleFile(3);
  const std::vector<uint8_t> good = b.Build();
  int succeeded = 0;
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t value : {uint8_t(good[i] ^ 0xFF), uint8_t(good[i] + 1)}) {
      std::vector<uint8_t> input = good;
      input[i] = value;
      auto r = RunOn(input, true);
      ASSERT_EQ(r->log.lines.back(), "***");
      if (!r->outcome.succeeded) {
        ExpectFailedCleanly(*r, "byte " + std::to_string(i), true);
        continue;
      }
      ++succeeded;
      // Whatever was written must itself be a file the tool reads without complaint.
      MemoryInput out(r->env.files[L"out.rm"]);
      BufferedReader reader(out);
      EXPECT_NO_THROW(ScanInput(reader)) << "byte " << i;
    }
  }
  EXPECT_GT(succeeded, 0);
}

TEST(Run, EachInputByteIsReadOnceAndTheOutputOnlyGrowsInLargeWrites) {
  // About 3 MiB of packets: several buffers' worth each way.
  rmtest::RmBuilder b;
  b.streams = {{0, "video/x-pn-realvideo", 1000, {}},
               {1, "application/x-pn-realevent", 10, {}}};
  std::vector<rmtest::Packet> packets;
  for (uint32_t i = 0; i < 1000; ++i) {
    packets.push_back({0, 0, i * 40, std::string(3000, static_cast<char>('a' + i % 26)), 2});
    if (i % 50 == 0) packets.push_back({1, 1, i * 40, "u http://ads.example.com/", 2});
  }
  b.data = {packets};
  b.indexes = {{0, {{0, 0}, {0, 500}, {0, 1000}}}};
  const std::vector<uint8_t> input = b.Build();
  auto r = RunOn(input);
  ASSERT_TRUE(r->outcome.succeeded) << r->log.Text();
  const std::vector<uint8_t>& out = r->env.files[L"out.rm"];
  uint64_t read = 0, size = 0;
  size_t firstWrite = 0, lastRead = 0, appends = 0;
  for (size_t i = 0; i < r->env.events.size(); ++i) {
    const rmtest::IoEvent& e = r->env.events[i];
    switch (e.kind) {
      case rmtest::IoEvent::Read:
        read += e.size;
        lastRead = i;
        break;
      case rmtest::IoEvent::Append:
        if (appends++ == 0) firstWrite = i;
        EXPECT_EQ(e.offset, size + e.size);  // it only grows
        size = e.offset;
        break;
      case rmtest::IoEvent::Patch:  // numbers known at the end, inside what was written
        EXPECT_LE(e.offset + e.size, size);
        break;
    }
  }
  EXPECT_EQ(size, out.size());
  EXPECT_LT(firstWrite, lastRead);  // written while read, not after
  // The packets once, the headers and the index once more in small pieces.
  EXPECT_GE(read, input.size());
  EXPECT_LE(read, input.size() + (64 << 10));
  EXPECT_LE(appends, out.size() / (1 << 20) + 2);  // whole buffers, not packets
  EXPECT_GE(appends, 3u);
  EXPECT_TRUE(rmtest::ParseFile(out).ok);
}

TEST(Run, TheLogNamesAWrongDataSize) {
  rmtest::RmBuilder b = rmtest::SampleFile();
  std::vector<uint8_t> input = b.Build();
  StoreU32(input.data() + b.dataOffsets[0] + 4, 0xFFFFFFFF);
  auto r = RunOn(input);
  ASSERT_TRUE(r->outcome.succeeded) << r->log.Text();
  EXPECT_NE(r->log.Text().find("Note: DATA chunk at offset " + std::to_string(b.dataOffsets[0]) +
                               " gives a wrong size, 4294967295 bytes"),
            std::string::npos)
      << r->log.Text();
}

}  // namespace
}  // namespace pelloran::rmevents
