// The dump's name and retention, the memory and exception stream the reporter adds to a dump, the
// program's tags and files, and their sections in the report. The dumps here are built by a small
// writer of the format's own, independent of the code under test; a dump the system writes is
// checked by the crash programs' LLDB tests.

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "base/byte_stream_le.h"
#include "crashlog/capture/minidump_file.h"
#include "crashlog/capture/report_additions.h"
#include "crashlog/capture/report_text.h"

namespace pelloran::crashlog {
namespace {

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  std::memcpy(bytes.data() + at, &value, 4);
}
std::uint32_t Get32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

// A dump with `streams` directory entries (the first a memory list of the given ranges, the rest
// unused), each range's bytes filled with its own byte value.
std::vector<std::uint8_t> MakeDump(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& ranges,
                                   std::uint32_t streams = 2, std::uint8_t fill = 0xAA) {
  std::vector<std::uint8_t> dump(32 + 12 * streams);
  Put32(dump, 0, 0x504D444D);
  Put32(dump, 4, 0xA793);
  Put32(dump, 8, streams);
  Put32(dump, 12, 32);
  const auto listRva = static_cast<std::uint32_t>(dump.size());
  dump.resize(dump.size() + 4 + 16 * ranges.size());
  Put32(dump, listRva, static_cast<std::uint32_t>(ranges.size()));
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const auto rva = static_cast<std::uint32_t>(dump.size());
    dump.insert(dump.end(), ranges[i].second, fill);
    const std::size_t at = listRva + 4 + 16 * i;
    Put32(dump, at, ranges[i].first);
    Put32(dump, at + 4, 0);
    Put32(dump, at + 8, ranges[i].second);
    Put32(dump, at + 12, rva);
  }
  Put32(dump, 32, 5);
  Put32(dump, 36, static_cast<std::uint32_t>(4 + 16 * ranges.size()));
  Put32(dump, 40, listRva);
  return dump;
}

// What the dump holds at `address` (`size` bytes), read through its memory list; empty when no
// one range holds them all.
std::vector<std::uint8_t> ReadDump(const std::vector<std::uint8_t>& dump, std::uint64_t address, std::size_t size) {
  for (const TDumpRange& range : DumpMemoryRanges(dump))
    if (range.Address <= address && address + size <= range.Address + range.Size)
      return {dump.begin() + range.Rva + (address - range.Address), dump.begin() + range.Rva + (address - range.Address) + size};
  return {};
}

TEST(MiniDumpMemory, GapsAreAddedAndKeptStacksReplaceTheLiveBytes) {
  std::vector<std::uint8_t> dump = MakeDump({{0x1000, 0x100}, {0x3000, 0x80}});
  std::vector<TDumpMemory> memory(3);
  memory[0] = {0x1080, std::vector<std::uint8_t>(0x100, 0x11), true};   // half over the first range
  memory[1] = {0x2000, std::vector<std::uint8_t>(0x1100, 0x22), false};  // spans the second range
  memory[2] = {0x2000, std::vector<std::uint8_t>(0x10, 0x33), false};   // already added: nothing
  ASSERT_TRUE(AddDumpMemory(dump, memory));

  const std::vector<TDumpRange> ranges = DumpMemoryRanges(dump);
  for (std::size_t i = 1; i < ranges.size(); ++i)
    EXPECT_LE(ranges[i - 1].Address + ranges[i - 1].Size, ranges[i].Address) << "sorted, no overlap";
  EXPECT_EQ(ReadDump(dump, 0x1000, 0x80), std::vector<std::uint8_t>(0x80, 0xAA));
  EXPECT_EQ(ReadDump(dump, 0x1080, 0x80), std::vector<std::uint8_t>(0x80, 0x11)) << "replaced in place";
  EXPECT_EQ(ReadDump(dump, 0x1100, 0x80), std::vector<std::uint8_t>(0x80, 0x11)) << "the rest appended";
  EXPECT_EQ(ReadDump(dump, 0x2000, 0x1000), std::vector<std::uint8_t>(0x1000, 0x22));
  EXPECT_EQ(ReadDump(dump, 0x3000, 0x80), std::vector<std::uint8_t>(0x80, 0xAA)) << "not replaced";
  EXPECT_EQ(ReadDump(dump, 0x3080, 0x80), std::vector<std::uint8_t>(0x80, 0x22));
}

TEST(MiniDumpMemory, ForeignOrDamagedBytesAreLeftAlone) {
  std::vector<std::uint8_t> notADump(64, 0x4D);
  const std::vector<TDumpMemory> memory{{0x1000, {1, 2, 3}, false}};
  EXPECT_FALSE(AddDumpMemory(notADump, memory));
  EXPECT_EQ(notADump, std::vector<std::uint8_t>(64, 0x4D));
  std::vector<std::uint8_t> damaged = MakeDump({{0x1000, 0x10}});
  Put32(damaged, 8, 1000);  // more directory entries than the file holds
  const std::vector<std::uint8_t> before = damaged;
  EXPECT_FALSE(AddDumpMemory(damaged, memory));
  EXPECT_EQ(damaged, before);
  for (std::size_t cut = 0; cut < before.size(); ++cut) {
    std::vector<std::uint8_t> prefix(before.begin(), before.begin() + cut);
    AddDumpMemory(prefix, memory);  // must not read past the end (the sanitizer build checks)
  }
}

TEST(MiniDumpException, NamesTheErrorsThreadWithItsRegisters) {
  std::vector<std::uint8_t> context(716, 0);
  Put32(context, 0xB8, 0x401234);  // Eip
  for (const std::uint32_t streams : {2u, 1u}) {  // an unused entry to take, or none
    std::vector<std::uint8_t> dump = MakeDump({{0x1000, 0x10}}, streams);
    ASSERT_TRUE(SetDumpException(dump, {0x154, 0xE04C4F47, 0x401234, context}));
    const std::uint32_t count = Get32(dump, 8), directory = Get32(dump, 12);
    EXPECT_EQ(count, 2u);
    std::uint32_t rva = 0;
    for (std::uint32_t i = 0; i < count; ++i)
      if (Get32(dump, directory + 12 * i) == 6) rva = Get32(dump, directory + 12 * i + 8);
    ASSERT_NE(rva, 0u);
    EXPECT_EQ(Get32(dump, rva), 0x154u);
    EXPECT_EQ(Get32(dump, rva + 8), 0xE04C4F47u);
    EXPECT_EQ(Get32(dump, rva + 24), 0x401234u);
    const std::uint32_t contextSize = Get32(dump, rva + 160), contextRva = Get32(dump, rva + 164);
    EXPECT_EQ(contextSize, 716u);
    EXPECT_EQ(Get32(dump, contextRva + 0xB8), 0x401234u);
    EXPECT_EQ(ReadDump(dump, 0x1000, 0x10), std::vector<std::uint8_t>(0x10, 0xAA)) << "the memory list still reads";
  }
}

TEST(MiniDumpNames, AfterTheLogTheTimeTheProcessAndTheReport) {
  const TLocalTime time{2026, 12, 8, 3, 7, 9, 0};
  EXPECT_EQ(DumpFileName("C:\\app\\Pelloran.elf", time, 4242, 2), "C:\\app\\Pelloran-20261208-030709-4242-2.dmp");
  EXPECT_EQ(DumpFilePattern("C:\\app\\Pelloran.elf"), "C:\\app\\Pelloran-*.dmp");
  EXPECT_TRUE(IsDumpFileName("Pelloran", "pelloran-20261208-030709-4242-2.DMP"));
  EXPECT_FALSE(IsDumpFileName("Pelloran", "Pelloran-old-20261208-030709-4242-2.dmp"));
  EXPECT_FALSE(IsDumpFileName("Pelloran", "Pelloran-20261208-0307-4242-2.dmp"));
  EXPECT_FALSE(IsDumpFileName("Pelloran", "Pelloran-20261208-030709-4242-2.dmp.txt"));
}

TEST(MiniDumpNames, TheNewestAreKept) {
  const std::vector<TDumpFileEntry> files{{"a-3", 30}, {"a-1", 10}, {"a-4", 30}, {"a-2", 20}};
  EXPECT_EQ(DumpFilesToRemove(files, 2), (std::vector<std::string>{"a-1", "a-2"}));
  EXPECT_EQ(DumpFilesToRemove(files, 0), (std::vector<std::string>{"a-1", "a-2", "a-3"})) << "one is always kept";
  EXPECT_TRUE(DumpFilesToRemove(files, 4).empty());
}

TEST(ReportAdditions, BoundedReplacedAndSafeFromManyThreads) {
  ClearReportAdditions();
  EXPECT_FALSE(SetReportTag("", "x"));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) SetReportTag("tag" + std::to_string(t * 50 + i), std::string(300, 'v'));
    });
  for (std::thread& thread : threads) thread.join();
  TAddedFacts facts = ReportAdditions();
  ASSERT_EQ(facts.Tags.size(), kMaxTags);
  EXPECT_EQ(facts.Tags[0].second.size(), kMaxTagBytes);
  EXPECT_TRUE(SetReportTag(facts.Tags[3].first, "new")) << "a set name is replaced even when full";
  RemoveReportTag(facts.Tags[0].first);
  std::string chinese = "x";
  for (int i = 0; i < 200; ++i) chinese += "\xD6\xD0";
  EXPECT_TRUE(SetReportTag("late", chinese));
  facts = ReportAdditions();
  EXPECT_EQ(facts.Tags.back().second.size(), 256u - 1) << "a GBK character is not split by the cut";
  for (int i = 0; i < 10; ++i) AddReportFile("C:\\f" + std::to_string(i));
  AddReportFile("C:\\f0");
  EXPECT_EQ(ReportAdditions().Files.size(), kMaxFiles);
  ClearReportAdditions();
}

TEST(ReportAdditions, TheirOwnSectionsAfterTheGeneralSection) {
  TCrashOptionValues options;
  options.ReportFields = 0xFFFFFFFF;
  TGeneralInputs inputs;
  const std::string plain = ComposeGeneralText(options, inputs).Text;
  EXPECT_EQ(plain.find("Tags:"), std::string::npos);
  EXPECT_TRUE(plain.ends_with(": \r\n")) << "no empty line left at the end";
  inputs.Added.Files = {"C:\\app\\notes.txt"};
  EXPECT_NE(ComposeGeneralText(options, inputs).Text.find("\r\n\r\nFiles:\r\n-"), std::string::npos);
  EXPECT_NE(ComposeGeneralText(options, inputs).Text.find("\r\n  7.1 File: C:\\app\\notes.txt\r\n"), std::string::npos)
      << "numbered 7 without tags";
  inputs.Added.Tags = {{"user", "alice"}, {"doc\r\nument", "a\tb"}};
  inputs.Added.DumpFile = "C:\\app\\Pelloran-20261208-030709-4242-2.dmp";
  inputs.Added.Files = {"C:\\app\\notes.txt"};
  const std::string text = ComposeGeneralText(options, inputs).Text;
  EXPECT_NE(text.find("\r\n\r\nTags:\r\n-"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n  6.1 user      : alice\r\n  6.2 doc  ument: a b\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n  7.1 Minidump: C:\\app\\Pelloran-20261208-030709-4242-2.dmp\r\n  7.2 File    : C:\\app\\notes.txt\r\n"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace pelloran::crashlog
