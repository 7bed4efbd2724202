// The packed debug information: every record form, the unit-skipping rule, name handling, the
// NameTable, and the writer checked against the reader. The byte images are built here by hand,
// independently of the writer.
#include <gtest/gtest.h>

#include <random>

#include "crashlog/infra/debuginfo/debug_info_format.h"
#include "crashlog/infra/debuginfo/debug_info_writer.h"

namespace pelloran::crashlog {
namespace {

constexpr std::uint64_t kBase = 0x00400000;
constexpr std::uint64_t kCode = kBase + 0x1000;

// A hand-made DebugData image.
class TImage {
 public:
  TImage& U8(std::uint8_t v) { bytes.push_back(v); return *this; }
  TImage& U16(std::uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
  TImage& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  TImage& Name(std::string_view text) {
    U8(static_cast<std::uint8_t>(text.size()));
    for (char c : text) U8(static_cast<std::uint8_t>(c) ^ 0x5B);
    return *this;
  }
  TImage& Bytes(const std::vector<std::uint8_t>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  std::vector<std::uint8_t> bytes;
};

// A unit header followed by its records.
TImage& Unit(TImage& image, std::string_view name, std::uint32_t firstLine, std::uint32_t offset, std::uint32_t size,
             const std::vector<std::uint8_t>& records) {
  image.Name(name).U32(firstLine).U32(offset).U32(size).U32(static_cast<std::uint32_t>(records.size()));
  return image.Bytes(records);
}

std::vector<std::uint8_t> WithoutNameTable(std::uint32_t units, const std::vector<std::uint8_t>& unitBytes) {
  TImage image;
  image.U32(0);  // empty NameTable
  image.U32(units);
  return image.Bytes(unitBytes).bytes;
}

TDebugLocation Lookup(const std::vector<std::uint8_t>& data, std::uint64_t offset, std::uint16_t version = 454) {
  auto found = FindDebugLocation(data, version, kBase, kCode + offset);
  EXPECT_TRUE(found.has_value()) << "offset 0x" << std::hex << offset;
  return found.value_or(TDebugLocation{});
}

TLineRecord Decode(std::vector<std::uint8_t> bytes, std::uint16_t version = 454) {
  TByteReader reader(bytes);
  TLineRecord record;
  EXPECT_TRUE(ReadLineRecord(reader, version, record));
  EXPECT_EQ(reader.Remaining(), 0u) << "record not fully consumed";
  return record;
}

TEST(LineRecordForms, OneByteWithoutName) {
  auto r = Decode({0x00});
  EXPECT_EQ(r.LineDelta, 1);
  EXPECT_EQ(r.AddressDelta, 1u);
  EXPECT_FALSE(r.HasName);
  r = Decode({0xFE});
  EXPECT_EQ(r.LineDelta, 4);
  EXPECT_EQ(r.AddressDelta, 32u);
}

TEST(LineRecordForms, OneByteWithName) {
  // F = 0b101'011'01: line (5)+1 = 6, address (3)+1 = 4, then a name.
  auto r = Decode({0xAD, 2, 'A' ^ 0x5B, 'b' ^ 0x5B});
  EXPECT_EQ(r.LineDelta, 6);
  EXPECT_EQ(r.AddressDelta, 4u);
  ASSERT_TRUE(r.HasName);
  EXPECT_EQ(r.Name, "Ab");
}

TEST(LineRecordForms, TwoBytes) {
  // W = (31 << 11) | (127 << 4) | 0b0011: line 32, address 128, no name.
  const std::uint16_t w = (31 << 11) | (127 << 4) | 3;
  auto r = Decode({static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
  EXPECT_EQ(r.LineDelta, 32);
  EXPECT_EQ(r.AddressDelta, 128u);
  EXPECT_FALSE(r.HasName);
  const std::uint16_t named = (0 << 11) | (9 << 4) | 4 | 3;
  r = Decode({static_cast<std::uint8_t>(named), static_cast<std::uint8_t>(named >> 8), 1, 'X' ^ 0x5B});
  EXPECT_EQ(r.LineDelta, 1);
  EXPECT_EQ(r.AddressDelta, 10u);
  EXPECT_EQ(r.Name, "X");
}

std::vector<std::uint8_t> FourBytes(std::uint32_t e, bool named) {
  const std::uint32_t d = (e << 4) | 8 | 3 | (named ? 4 : 0);
  return {static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8), static_cast<std::uint8_t>(d >> 16),
          static_cast<std::uint8_t>(d >> 24)};
}

TEST(LineRecordForms, FourBytesGeneral) {
  // address field 0x123 -> 0x124, line field 0x0010 -> 17
  auto r = Decode(FourBytes((0x123u << 16) | 0x0010, false));
  EXPECT_EQ(r.AddressDelta, 0x124u);
  EXPECT_EQ(r.LineDelta, 17);
  // line field 0xFFFF gives 0, 0xFFFE gives -1; address field 0xFFF gives 0
  r = Decode(FourBytes((0xFFFu << 16) | 0xFFFF, false));
  EXPECT_EQ(r.AddressDelta, 0u);
  EXPECT_EQ(r.LineDelta, 0);
  r = Decode(FourBytes((0x000u << 16) | 0xFFFE, false));
  EXPECT_EQ(r.AddressDelta, 1u);
  EXPECT_EQ(r.LineDelta, -1);
}

TEST(LineRecordForms, EscapeBeforeVersion423IsTheGeneralForm) {
  auto r = Decode(FourBytes(0x0FFEFFFE, false), 422);
  EXPECT_EQ(r.AddressDelta, 0xFFFu);
  EXPECT_EQ(r.LineDelta, -1);
}

TEST(LineRecordForms, EscapeFromVersion423CarriesTwoWords) {
  auto bytes = FourBytes(0x0FFEFFFE, true);
  for (std::uint8_t b : {0x0F, 0x00, 0x33, 0x22}) bytes.push_back(b);  // line 0x000F+1, address 0x2233+1
  bytes.push_back(1);
  bytes.push_back('Q' ^ 0x5B);
  auto r = Decode(bytes, 423);
  EXPECT_EQ(r.LineDelta, 16);
  EXPECT_EQ(r.AddressDelta, 0x2234u);
  EXPECT_EQ(r.Name, "Q");
  // 0xFFFF + 1 kept in 16 bits: 0
  auto wrap = FourBytes(0x0FFEFFFE, false);
  for (std::uint8_t b : {0xFF, 0xFF, 0xFF, 0xFF}) wrap.push_back(b);
  r = Decode(wrap, 454);
  EXPECT_EQ(r.LineDelta, 0);
  EXPECT_EQ(r.AddressDelta, 0u);
}

TEST(LineRecordForms, TruncatedRecordsFail) {
  for (std::vector<std::uint8_t> bytes : {std::vector<std::uint8_t>{0x03}, std::vector<std::uint8_t>{0x0B, 0, 0},
                                          std::vector<std::uint8_t>{0x01, 5, 'a'}}) {
    TByteReader reader(bytes);
    TLineRecord record;
    EXPECT_FALSE(ReadLineRecord(reader, 454, record));
  }
}

TEST(DebugLookup, RecordsStepLinesAndAddresses) {
  // Unit "Main" at offset 0x10, 0x40 bytes, first line 100.
  // 0x00: line +1, 1 byte; 0xFE: line +4, 32 bytes; rest is the final range.
  TImage units;
  Unit(units, "Main", 100, 0x10, 0x40, {0x00, 0xFE});
  const auto data = WithoutNameTable(1, units.bytes);
  EXPECT_EQ(Lookup(data, 0x10).Line, 100);   // first byte
  EXPECT_EQ(Lookup(data, 0x11).Line, 101);   // after F = 0x00: one byte, one line
  EXPECT_EQ(Lookup(data, 0x30).Line, 101);   // end of the 32-byte range
  EXPECT_EQ(Lookup(data, 0x31).Line, 105);   // final range
  EXPECT_EQ(Lookup(data, 0x4F).Line, 105);   // last byte of the unit
  EXPECT_FALSE(FindDebugLocation(data, 454, kBase, kCode + 0x50));
  EXPECT_FALSE(FindDebugLocation(data, 454, kBase, kCode + 0x0F));
  EXPECT_EQ(Lookup(data, 0x20).UnitName, "Main.cpp");
}

TEST(DebugLookup, LinesBeyondWhatALocationHoldsAreUnknown) {
  // The smallest damaged input fuzzing found: first line 0x7FFFFFFF and one 1-byte record; the
  // step to the next line must not overflow. The record's own range keeps its line.
  TImage units;
  Unit(units, "a", 0x7FFFFFFF, 0, 0x10, {0x00});
  auto data = WithoutNameTable(1, units.bytes);
  EXPECT_EQ(Lookup(data, 0).Line, 0x7FFFFFFF);
  EXPECT_EQ(Lookup(data, 1).Line, 0);  // 0x80000000: not a line
  EXPECT_EQ(Lookup(data, 0xF).UnitName, "a.cpp");

  // 66,000 records of +32767 lines and 1 byte each (4-byte form, E = 0x00007FFE) from line 1:
  // record k's range has line 1 + 32767 k, which reaches 2^31 - 1 exactly at k = 65538.
  constexpr std::uint32_t kRecords = 66000;
  std::vector<std::uint8_t> records;
  for (std::uint32_t i = 0; i < kRecords; ++i)
    for (std::uint8_t byte : {0xEB, 0xFF, 0x07, 0x00}) records.push_back(byte);
  TImage many;
  Unit(many, "b", 1, 0, kRecords + 1, records);
  data = WithoutNameTable(1, many.bytes);
  EXPECT_EQ(Lookup(data, 1).Line, 32768);
  EXPECT_EQ(Lookup(data, 65538).Line, 0x7FFFFFFF);
  EXPECT_EQ(Lookup(data, 65539).Line, 0);
  EXPECT_EQ(Lookup(data, kRecords).Line, 0);  // the final range
  // A first line above 2^31 - 1 (stored unsigned) is not a line either.
  TImage high;
  Unit(high, "c", 0x80000000u, 0, 4, {0x00});
  EXPECT_EQ(Lookup(WithoutNameTable(1, high.bytes), 0).Line, 0);
}

TEST(DebugLookup, OnlyTheUnitHoldingTheAddressIsDecoded) {
  // The first unit covers 0..0xFF but its records are garbage: a lookup in the second unit must
  // skip them by their size without reading them.
  TImage units;
  Unit(units, "First", 1, 0x000, 0x100, {0x0B, 0xFF});  // a 4-byte record cut after 2 bytes
  Unit(units, "Second", 50, 0x100, 0x80, {0x00});
  const auto data = WithoutNameTable(2, units.bytes);
  const auto at = Lookup(data, 0x100);
  EXPECT_EQ(at.UnitName, "Second.cpp");
  EXPECT_EQ(at.Line, 50);
  EXPECT_EQ(Lookup(data, 0x17F).Line, 51);
}

TEST(DebugLookup, NameHandlingKeepsSetsAndClearsTheClass) {
  // Records: [TFoo.Bar] 2 bytes, [.Create] 2 bytes, [Baz] 2 bytes, final range.
  auto named = [](std::uint8_t lineMinus1, std::uint8_t addressMinus1, std::string_view name) {
    TImage r;
    r.U8(static_cast<std::uint8_t>((lineMinus1 << 5) | (addressMinus1 << 2) | 1)).Name(name);
    return r.bytes;
  };
  std::vector<std::uint8_t> records;
  for (auto part : {named(0, 1, "TFoo.Bar"), named(0, 1, ".Create"), named(0, 1, "Baz"), named(0, 1, "@Init")})
    records.insert(records.end(), part.begin(), part.end());
  TImage units;
  Unit(units, "Unit1", 10, 0, 0x20, records);
  const auto data = WithoutNameTable(1, units.bytes);
  // The first name covers its own range; later names announce the next range's procedure, while
  // a name's class applies at once.
  auto first = Lookup(data, 0);
  EXPECT_EQ(first.ClassName, "TFoo");
  EXPECT_EQ(first.ProcedureName, "Bar");
  auto second = Lookup(data, 2);
  EXPECT_EQ(second.ClassName, "TFoo");  // ".Create" keeps the class
  EXPECT_EQ(second.ProcedureName, "Bar");
  auto third = Lookup(data, 4);
  EXPECT_EQ(third.ClassName, "");  // "Baz" clears it
  EXPECT_EQ(third.ProcedureName, "Create");
  auto fourth = Lookup(data, 6);
  EXPECT_EQ(fourth.ProcedureName, "Baz");
  auto last = Lookup(data, 8);
  EXPECT_EQ(last.ProcedureName, "_Init");  // a leading '@' becomes '_'
  EXPECT_EQ(last.Line, 14);
}

TEST(DebugLookup, DamagedDataEndsTheSearchWithoutReadingPastIt) {
  TImage units;
  Unit(units, "Main", 1, 0, 0x40, {0x00, 0x00});
  auto data = WithoutNameTable(1, units.bytes);
  for (std::size_t cut = 0; cut < data.size(); ++cut) {
    std::vector<std::uint8_t> part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut));
    auto copy = std::make_unique<std::uint8_t[]>(cut + 1);  // exact-size buffer for the sanitizers
    std::copy(part.begin(), part.end(), copy.get());
    FindDebugLocation({copy.get(), cut}, 454, kBase, kCode + 0x3F);
  }
  // A unit count far beyond the data.
  TImage lying;
  lying.U32(0).U32(1000);
  Unit(lying, "X", 1, 0x1000, 1, {});
  EXPECT_FALSE(FindDebugLocation(lying.bytes, 454, kBase, kCode));
}

TEST(DebugLookup, VersionsBefore405HaveNoNameTable) {
  TImage units;
  units.U32(1);
  Unit(units, "Old", 7, 0, 4, {});
  EXPECT_EQ(Lookup(units.bytes, 2, 404).Line, 7);
  EXPECT_FALSE(FindNameTableOffset(units.bytes, 404, "Old.Proc"));
}

// The unit index answers as the plain walk over the unit table does, for sorted units, for
// overlapping ones (where the first unit whose records hold the address wins), and for damage.
TEST(DebugUnitIndex, AnswersAsThePlainSearch) {
  TImage units;
  Unit(units, "A", 1, 0x000, 0x40, {0x00, 0xFE});
  Unit(units, "B", 20, 0x040, 0x40, {0xFE});
  Unit(units, "C", 40, 0x100, 0x10, {});
  const auto sorted = WithoutNameTable(3, units.bytes);
  TImage overlapping;
  Unit(overlapping, "Wide", 1, 0x000, 0x100, {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE});  // overruns
  Unit(overlapping, "Inner", 50, 0x020, 0x20, {0x00});
  Unit(overlapping, "Late", 90, 0x180, 0x10, {});
  const auto overlapped = WithoutNameTable(3, overlapping.bytes);
  const std::vector<std::uint8_t> damaged(sorted.begin(), sorted.end() - 3);  // unit C's header cut
  for (const std::vector<std::uint8_t>* data : {&sorted, &overlapped, &damaged}) {
    const auto index = TDebugUnitIndex::Build(*data, 454);
    for (std::uint64_t offset = 0; offset < 0x200; ++offset) {
      const auto plain = FindDebugLocation(*data, 454, kBase, kCode + offset);
      const auto indexed = index.Find(*data, 454, kBase, kCode + offset);
      ASSERT_EQ(plain.has_value(), indexed.has_value()) << std::hex << offset;
      if (plain) {
        EXPECT_EQ(plain->UnitName, indexed->UnitName) << std::hex << offset;
        EXPECT_EQ(plain->Line, indexed->Line) << std::hex << offset;
      }
    }
  }
  EXPECT_EQ(TDebugUnitIndex::Build(damaged, 454).UnitCount(), 2u);
  EXPECT_FALSE(TDebugUnitIndex::Build(sorted, 454).Find(sorted, 454, kBase, kBase + 0x10));  // before the code
}

TEST(NameTable, FindsExactNamesOnly) {
  TImage table;
  table.Name("Unit1.TFoo.Bar").U32(0x120).U32(8).Name("Unit1.Baz").U32(0x200).U32(4).Name("Unit1.Baz").U32(0x300).U32(4);
  TImage data;
  data.U32(static_cast<std::uint32_t>(table.bytes.size())).Bytes(table.bytes).U32(0);
  EXPECT_EQ(FindNameTableOffset(data.bytes, 454, "Unit1.TFoo.Bar"), 0x120u);
  EXPECT_EQ(FindNameTableOffset(data.bytes, 454, "Unit1.Baz"), 0x200u);  // the first of equal names
  EXPECT_FALSE(FindNameTableOffset(data.bytes, 454, "unit1.baz"));
  EXPECT_FALSE(FindNameTableOffset(data.bytes, 454, "Unit1.TFoo"));

  // The whole table in stream order, as the build tool checks what it wrote.
  const auto entries = ReadNameTable(data.bytes, 454);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0].FullName, "Unit1.TFoo.Bar");
  EXPECT_EQ((*entries)[2].CodeOffset, 0x300u);
  EXPECT_EQ((*entries)[2].Size, 4u);
  const std::vector<std::uint8_t> cut(data.bytes.begin(), data.bytes.end() - 6);  // inside the last entry
  TImage cutTable;
  cutTable.U32(static_cast<std::uint32_t>(table.bytes.size() - 2)).Bytes({table.bytes.begin(), table.bytes.end() - 2});
  EXPECT_FALSE(ReadNameTable(cutTable.bytes, 454));
  EXPECT_FALSE(ReadNameTable(cut, 454));
  EXPECT_FALSE(ReadNameTable(data.bytes, 404));
}

TEST(UnitNames, ExtensionOnlyWhenTheNameHasNone) {
  EXPECT_EQ(UnitFileName("main"), "main.cpp");
  EXPECT_EQ(UnitFileName("stl_vector.h"), "stl_vector.h");
  EXPECT_EQ(UnitFileName(std::string(255, 'a')).size(), 255u);
}

// The writer against the reader: random models, every segment looked up at both ends.
TEST(DebugInfoWriter, EverySegmentDecodesAsWritten) {
  std::mt19937 random(7);
  for (std::uint16_t version : {std::uint16_t{404}, std::uint16_t{422}, std::uint16_t{454}}) {
    TDebugInfoModel model;
    for (int p = 0; p < 8; ++p)
      model.Procedures.push_back({p % 3 == 0 ? "" : "C" + std::to_string(p % 2), "f" + std::to_string(p)});
    struct TExpect {
      std::uint32_t Begin, End;
      std::int32_t Line;
      std::uint32_t Proc;
      std::string Unit;
    };
    std::vector<TExpect> expected;
    std::uint32_t offset = 0;
    for (int u = 0; u < 20; ++u) {
      TDebugUnit unit{"u" + std::to_string(u), offset, {}};
      std::int32_t line = static_cast<std::int32_t>(random() % 70000);
      for (int s = 0, count = 1 + random() % 40; s < count; ++s) {
        const std::uint32_t length = 1 + (random() % 5 == 0 ? random() % 150000 : random() % 48);
        std::uint32_t proc = random() % 9 == 8 ? kNoProcedure : random() % 8;
        if (s > 0 && random() % 3) proc = unit.Segments.back().Procedure;
        unit.Segments.push_back({length, line, proc});
        expected.push_back({offset, offset + length, line, proc, unit.StoredName + ".cpp"});
        offset += length;
        line = std::max(0, line + (random() % 6 == 0 ? static_cast<int>(random() % 140000) - 70000
                                                       : static_cast<int>(random() % 12) - 3));
      }
      offset += random() % 64;
      model.Units.push_back(std::move(unit));
    }
    TDebugInfoWriteStats stats;
    const auto data = WriteDebugInfo(model, version, &stats);
    EXPECT_GT(stats.OneByteRecords, 0u);
    EXPECT_GT(stats.TwoByteRecords, 0u);
    EXPECT_GT(stats.FourByteRecords, 0u);
    EXPECT_GT(stats.ZeroLengthRecords, 0u);
    if (version >= 423) {
      EXPECT_GT(stats.WideRecords, 0u);
    }
    const auto index = TDebugUnitIndex::Build(data, version);
    for (const auto& e : expected) {
      for (std::uint64_t at : {std::uint64_t{e.Begin}, std::uint64_t{e.End} - 1}) {
        const auto found = FindDebugLocation(data, version, kBase, kCode + at);
        const auto indexed = index.Find(data, version, kBase, kCode + at);
        ASSERT_TRUE(indexed);
        EXPECT_EQ(indexed->Line, e.Line);
        EXPECT_EQ(indexed->ProcedureName, found ? found->ProcedureName : "");
        ASSERT_TRUE(found) << version << " @" << at;
        EXPECT_EQ(found->Line, e.Line) << version << " @" << at;
        EXPECT_EQ(found->UnitName, e.Unit);
        const TDebugProcedure none;
        const auto& p = e.Proc == kNoProcedure ? none : model.Procedures[e.Proc];
        EXPECT_EQ(found->ClassName, p.ClassName) << version << " @" << at;
        EXPECT_EQ(found->ProcedureName, p.Name) << version << " @" << at;
      }
    }
  }
}

TEST(DebugInfoWriter, NamesTheLayoutCannotCarryAreRefused) {
  TDebugInfoModel model;
  model.Procedures.push_back({"a.b", "f"});
  EXPECT_THROW(WriteDebugInfo(model, 454), std::invalid_argument);
  EXPECT_EQ(MakeStorableName("@x.y"), "_x_y");
  EXPECT_EQ(MakeStorableName(std::string(300, 'n')).size(), 127u);
}

}  // namespace
}  // namespace pelloran::crashlog
