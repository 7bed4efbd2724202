// Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/) with the project's own
// writers, and takes the ELDATA resource of a built Pelloran.exe as it ships:
//   fuzz_make_seeds <corpus folder> <Pelloran.exe>
// The events tool's seeds are RealMedia files from its test-side writer (scripts/fuzz.sh seeds).

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "crashlog/infra/debuginfo/debug_info_format.h"
#include "crashlog/infra/debuginfo/debug_info_writer.h"
#include "crashlog/infra/diagnostics/diagnostics_text.h"
#include "crashlog/infra/options/eldata.h"
#include "crashlog/infra/options/module_payload.h"
#include "crashlog/infra/options/option_stream.h"
#include "tests/crashlog/infra/options/eldata_fixture.h"
#include "tests/crashlog/infra/options/legacy_option_stream.h"
#include "tools/eldata/pe_image.h"
#include "tools/eldata/pe_resources.h"

namespace fs = std::filesystem;
using namespace pelloran;
using namespace pelloran::crashlog;
using Bytes = std::vector<std::uint8_t>;

namespace {

fs::path g_corpus;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(g_corpus / target);
  std::ofstream file(g_corpus / target / name, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + (g_corpus / target / name).string());
}

void WriteText(const std::string& target, const std::string& name, std::string_view text) {
  Write(target, name, Bytes(text.begin(), text.end()));
}

Bytes WithVersion(std::uint16_t version, const Bytes& bytes) {
  Bytes out{static_cast<std::uint8_t>(version), static_cast<std::uint8_t>(version >> 8)};
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Two small units with named records in every record form, and a NameTable.
TDebugInfoModel SmallModel() {
  TDebugInfoModel model;
  model.Procedures = {{"", "main"}, {"TMainForm", "btnStartClick"}, {"TMainForm", "Timer1Timer"}};
  model.Units.push_back({"main", 0, {{5, 10, 0}, {40, 11, 0}, {300, 14, 0}, {2, 9, kNoProcedure}}});
  model.Units.push_back({"main_form", 0x200, {{8, 120, 1}, {1, 121, 1}, {70000, 40000, 2}, {4, 2, 2}}});
  model.Names = {{"main.main", 0, 347}, {"main_form.TMainForm.btnStartClick", 0x200, 9},
                 {"main_form.TMainForm.Timer1Timer", 0x209, 70004}};
  return model;
}

// The first `units` units and `names` names of a module's debug information, as debug
// information of its own.
Bytes CutDebugInfo(std::span<const std::uint8_t> data, std::uint32_t names, std::uint32_t units) {
  TByteReader in(data);
  std::uint32_t tableSize = 0, count = 0;
  std::span<const std::uint8_t> table;
  if (!in.ReadU32(tableSize) || !in.ReadBytes(tableSize, table) || !in.ReadU32(count))
    throw std::runtime_error("debug information without tables");
  TByteReader entries(table);
  for (std::uint32_t i = 0; i < names && entries.Remaining() > 0; ++i) {
    std::uint32_t offset, size;
    SkipShortName(entries);
    entries.ReadU32(offset);
    entries.ReadU32(size);
  }
  const std::size_t unitsStart = in.Position();
  std::uint32_t kept = 0;
  for (; kept < units && kept < count; ++kept) {
    std::uint32_t line, offset, size, dataSize;
    if (!SkipShortName(in) || !in.ReadU32(line) || !in.ReadU32(offset) || !in.ReadU32(size) ||
        !in.ReadU32(dataSize) || !in.Skip(dataSize))
      throw std::runtime_error("damaged unit table");
  }
  TByteWriter out;
  out.U32(static_cast<std::uint32_t>(entries.Position()));
  out.Bytes(table.first(entries.Position()));
  out.U32(kept);
  out.Bytes(data.subspan(unitsStart, in.Position() - unitsStart));
  return out.Take();
}

void OptionStreamSeeds() {
  const testing::TRawFields raw;
  for (std::uint16_t v : {400, 401, 403, 420, 421, 422, 449, 450})
    Write("option_stream", "layout-" + std::to_string(v), WithVersion(v, testing::BuildLegacyStream(v, raw)));
  Write("option_stream", "defaults-454", WithVersion(kCurrentDataVersion, SaveOptionStream(TCrashOptionValues{})));
  Write("option_stream", "fixture-454", WithVersion(kCurrentDataVersion, SaveOptionStream(testing::FixtureOptions())));
}

void DebugInfoSeeds(std::span<const std::uint8_t> shipped) {
  for (std::uint16_t v : {404, 422, 454})
    Write("debug_info", "small-" + std::to_string(v), WithVersion(v, WriteDebugInfo(SmallModel(), v)));
  Write("debug_info", "pelloran-first-units", WithVersion(kCurrentDataVersion, CutDebugInfo(shipped, 40, 40)));
}

void EldataSeeds(const Bytes& shippedContainer, std::span<const std::uint8_t> shippedDebugInfo) {
  const auto small = BuildEldataBody(testing::FixtureOptions(), WriteDebugInfo(SmallModel(), 454));
  Write("eldata", "pelloran-exe", shippedContainer);
  Write("eldata", "resource-454", WriteEldataContainer(kCurrentDataVersion, testing::kFixtureBuildTime, small));
  Write("eldata", "tail-454", WriteEldataTail(kCurrentDataVersion, testing::kFixtureBuildTime, small));
  // Before 450 the body is plain, so mutations reach the debug information directly.
  const auto plain = BuildEldataBody(testing::BuildLegacyStream(449, testing::TRawFields{}),
                                     CutDebugInfo(shippedDebugInfo, 8, 8), {});
  Write("eldata", "resource-449-plain", WriteEldataContainer(449, testing::kFixtureBuildTime, plain));
}

void PayloadSeeds() {
  Write("module_payload", "published", EncodeModulePayload(SaveOptionStream(testing::FixtureOptions())));
  Write("module_payload", "nothing", Bytes{kNothingPublished});
  Write("module_payload", "except", EncodeExceptPayload("EConvertError", "'x' is not a valid integer value\r\n", 0x1A4, 0x00401234));
}

void ExportSeeds(const eldata::TPeImage& image, std::span<const std::uint8_t> debugInfo) {
  int n = 0;
  for (std::string_view name : {"@Forms@TApplication@HandleException$qqrp14System@TObject", "Unit1.Proc",
                                "GetVersion", "@System@@HandleAnyException$qqrv", "?Run@TFoo@@QAEXXZ",
                                "@$xp$17System@TObject", "Unit1.TFoo.Bar@8"})
    WriteText("exports", "name-" + std::to_string(++n), name);
  // Code as it starts procedures of the shipped program: every 1000th entry of its NameTable.
  const auto code = image.SectionData(image.CodeSection());
  TByteReader in(debugInfo);
  std::uint32_t tableSize = 0;
  std::span<const std::uint8_t> table;
  in.ReadU32(tableSize);
  in.ReadBytes(tableSize, table);
  TByteReader entries(table);
  for (int i = 0; entries.Remaining() > 0; ++i) {
    std::string name;
    std::uint32_t offset = 0, size = 0;
    if (!ReadShortName(entries, name) || !entries.ReadU32(offset) || !entries.ReadU32(size)) break;
    if (i % 1000 != 0 || offset >= code.size()) continue;
    const auto piece = std::span(code).subspan(offset, std::min<std::size_t>(512, code.size() - offset));
    Write("exports", "code-" + std::to_string(i), Bytes(piece.begin(), piece.end()));
  }
  // A list of 6-byte entries (address, size) with overlapping neighbours.
  TByteWriter list;
  for (std::uint32_t i = 0; i < 8; ++i) {
    list.U32(0x00401000 + i * 0x40);
    list.U16(static_cast<std::uint16_t>(i % 3 == 0 ? 0x50 : 0x3F));
  }
  Write("exports", "list", list.Take());
}

void TextSeeds() {
  WriteText("text", "gbk-path", "C:\\app\\\xC7\x5C\\\xC7\x5C.exe");
  WriteText("text", "share", "\\\\server\\share\\logs\\Pelloran.elf");
  WriteText("text", "switches", "/x-DEBUG-save");
  WriteText("text", "locale", "00000804");
  WriteText("text", "service-pack", " Service Pack 3\r\n");
  WriteText("text", "lines", "one\r\ntwo\nthree\rfour\r\n\r\n");
  WriteText("text", "final-crlf", "message\r\n");
  WriteText("batch_text", "media", "D:\\\xC3\xBD\xCC\xE5\\\xB5\xE7\xD3\xB0.RMVB");
  WriteText("batch_text", "trail-backslash", "C:\\\xC7\x5C.rm");
  WriteText("batch_text", "plain", "movie.ra");
  WriteText("batch_text", "log",
            "rmevents (Pelloran) 1.0: removes pop-up advertising streams from RealMedia files\r\n"
            "Events: blank.txt: 3 events, title \"Pelloran\"\r\nWrote: \"Fix_a.rm\", 1200 bytes, 40 packets; "
            "300 bytes smaller than the input\r\n***\r\n");
  WriteText("batch_text", "log-nul", std::string_view("ok\n***\0hidden\n", 15));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc != 3) throw std::invalid_argument("usage: fuzz_make_seeds <corpus folder> <Pelloran.exe>");
    g_corpus = argv[1];
    const eldata::TPeImage image(ReadFile(argv[2]));
    const auto resources = eldata::ReadResources(image);
    const auto& container =
        resources.at(eldata::TResourceKey::Numbered(eldata::kRcData)).at(eldata::TResourceKey::Named("ELDATA")).begin()->second.Bytes;
    const auto contents = ReadEldataContainer(container);
    TCrashOptionValues values;
    std::optional<Bytes> debugInfo;
    if (!contents || !ReadEldataBody(contents->Body, contents->DataVersion, values, debugInfo))
      throw std::runtime_error("the program's ELDATA resource does not read");

    OptionStreamSeeds();
    EldataSeeds(container, *debugInfo);
    DebugInfoSeeds(*debugInfo);
    PayloadSeeds();
    ExportSeeds(image, *debugInfo);
    TextSeeds();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "fuzz_make_seeds: " << e.what() << "\n";
    return 1;
  }
}
