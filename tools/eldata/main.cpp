// pelloran-eldata: writes a program's crash-reporter data into the program.
//
//   pelloran-eldata --dwarf FULL.exe --image STRIPPED.exe [--options FILE] --output OUT.exe
//                   [--stats FILE]
//
// FULL.exe is the program as linked, with its DWARF; STRIPPED.exe the same program without its
// debug sections. The tool reads line tables and procedure names from FULL.exe, packs them with
// the options (defaults where the file says nothing) into the ELDATA container, and writes
// STRIPPED.exe with the container as the RCDATA resource "ELDATA" to OUT.exe. The resources go
// into a new section behind every mapped one, so no code or data moves (the linker's resource
// section keeps its place in memory as ".rsrcold" but not its file data); the tool checks that the
// code section of OUT.exe is the one of FULL.exe byte for byte, and that every code range it
// described decodes back to what DWARF says, before it writes anything.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "crashlog/infra/debuginfo/debug_info_format.h"
#include "crashlog/infra/debuginfo/debug_info_writer.h"
#include "crashlog/infra/options/eldata.h"
#include "crashlog/infra/options/option_stream.h"
#include "tools/eldata/debug_model.h"
#include "tools/eldata/dwarf_reader.h"
#include "tools/eldata/options_file.h"
#include "tools/eldata/pe_image.h"
#include "tools/eldata/pe_resources.h"

namespace pelloran::eldata {
namespace {

struct TArguments {
  std::string Dwarf, Image, Options, Output, Stats;
};

TArguments ParseArguments(int argc, char** argv) {
  TArguments args;
  const std::map<std::string, std::string*> names = {{"--dwarf", &args.Dwarf}, {"--image", &args.Image},
                                                     {"--options", &args.Options}, {"--output", &args.Output},
                                                     {"--stats", &args.Stats}};
  for (int i = 1; i < argc; ++i) {
    const auto it = names.find(argv[i]);
    if (it == names.end() || i + 1 == argc) throw std::invalid_argument(std::string("unexpected argument ") + argv[i]);
    *it->second = argv[++i];
  }
  if (args.Dwarf.empty() || args.Image.empty() || args.Output.empty())
    throw std::invalid_argument("usage: pelloran-eldata --dwarf FULL.exe --image STRIPPED.exe [--options FILE] --output OUT.exe [--stats FILE]");
  return args;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const std::string temporary = path + ".eldata-tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + temporary);
  }
  std::filesystem::permissions(temporary, std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                                              std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  std::filesystem::rename(temporary, path);
}

// The link time as a day count from 1899-12-30 (the date type reports use), little-endian double.
crashlog::TBuildTime BuildTimeOf(const TPeImage& image) {
  const double days = image.TimeDateStamp() / 86400.0 + 25569.0;
  crashlog::TBuildTime time{};
  std::memcpy(time.data(), &days, sizeof days);
  return time;
}

// Every described range must decode to what DWARF gave it, through the same unit index the
// reporter looks addresses up with; a writer fault must never ship.
void CheckDecoding(const TBuiltModel& built, const std::vector<std::uint8_t>& debugInfo, std::uint16_t version) {
  const std::uint64_t base = 0x10000000;  // any image base: lookups work on offsets
  const auto codeBase = base + crashlog::kCodeSectionRva;
  const auto index = crashlog::TDebugUnitIndex::Build(debugInfo, version);
  std::size_t failures = 0;
  for (const auto& e : built.Expected) {
    for (std::uint64_t offset : {std::uint64_t{e.Begin}, std::uint64_t{e.End} - 1}) {
      const auto found = index.Find(debugInfo, version, base, codeBase + offset);
      const crashlog::TDebugProcedure none;
      const auto& proc = e.Procedure == crashlog::kNoProcedure ? none : built.Model.Procedures[e.Procedure];
      if (found && found->UnitName == e.UnitName && found->Line == e.Line && found->ClassName == proc.ClassName &&
          found->ProcedureName == proc.Name)
        continue;
      if (++failures <= 5)
        std::cerr << "pelloran-eldata: offset 0x" << std::hex << offset << std::dec << " decodes as "
                  << (found ? found->UnitName + ":" + std::to_string(found->Line) + " " + found->ClassName + "." +
                                  found->ProcedureName
                            : std::string("nothing"))
                  << ", expected " << e.UnitName << ":" << e.Line << " " << proc.ClassName << "." << proc.Name << "\n";
    }
  }
  // A name lookup gives the first entry of that name: read the table once and compare the first
  // offset of every name with what was meant.
  std::unordered_map<std::string, std::uint32_t> meant, stored;
  for (const auto& n : built.Model.Names) meant.emplace(n.FullName, n.CodeOffset);
  const auto table = crashlog::ReadNameTable(debugInfo, version);
  if (!table) throw std::runtime_error("the written name table does not read back");
  for (const auto& entry : *table) stored.emplace(entry.FullName, entry.CodeOffset);
  for (const auto& [name, offset] : meant) {
    const auto it = stored.find(name);
    if ((it == stored.end() || it->second != offset) && ++failures <= 10)
      std::cerr << "pelloran-eldata: name " << name << " not found\n";
  }
  if (failures) throw std::runtime_error(std::to_string(failures) + " ranges or names do not decode as written");
}

int Run(const TArguments& args) {
  const TPeImage full(ReadFile(args.Dwarf));
  const auto& code = full.CodeSection();
  const std::uint64_t codeBase = std::uint64_t{full.ImageBase()} + code.VirtualAddress;
  const TDwarfFacts facts = ReadDwarf(args.Dwarf, codeBase, codeBase + code.VirtualSize);
  const TBuiltModel built = BuildDebugModel(facts, codeBase);
  const std::uint16_t version = crashlog::kCurrentDataVersion;
  crashlog::TDebugInfoWriteStats recordStats;
  const auto debugInfo = crashlog::WriteDebugInfo(built.Model, version, &recordStats);
  CheckDecoding(built, debugInfo, version);

  crashlog::TCrashOptionValues options;
  if (!args.Options.empty()) LoadOptionsFile(args.Options, options);
  const auto body = crashlog::BuildEldataBody(options, debugInfo);
  const auto container = crashlog::WriteEldataContainer(version, BuildTimeOf(full), body);

  TPeImage output(ReadFile(args.Image));
  TResourceTree resources = ReadResources(output);
  resources[TResourceKey::Numbered(kRcData)][TResourceKey::Named("ELDATA")] = {{0, {container, 0}}};
  const std::uint32_t rva = output.NextSectionRva();
  const auto section = BuildResourceSection(resources, rva);
  // The linker's resource section stays where it is in memory (sections must follow each other
  // without gaps), but nothing refers to it any more: its file data goes.
  for (std::size_t i = 0; i < output.Sections().size(); ++i) {
    if (output.Sections()[i].Name != ".rsrc") continue;
    output.RenameSection(i, ".rsrcold");
    output.DropSectionData(i);
  }
  output.AddSection(".rsrc", section, kSectionInitializedData | kSectionRead);
  output.SetDirectory(kResourceDirectory, rva, static_cast<std::uint32_t>(section.size()));
  output.UpdateChecksum();

  if (!SameCodeSection(full, output)) throw std::runtime_error("the code section changed; nothing written");
  const auto check = ReadResources(output)[TResourceKey::Numbered(kRcData)][TResourceKey::Named("ELDATA")][0];
  const auto reread = crashlog::ReadEldataContainer(check.Bytes);
  if (!reread || reread->Body != body) throw std::runtime_error("the written ELDATA resource does not read back");
  WriteFileAtomically(args.Output, output.Bytes());

  std::size_t segments = 0;
  for (const auto& u : built.Model.Units) segments += u.Segments.size();
  std::ostringstream stats;
  stats << "dwarf_bytes " << facts.DebugBytes << "\n"
        << "eldata_bytes " << container.size() << "\n"
        << "debug_info_bytes " << debugInfo.size() << "\n"
        << "units " << built.Model.Units.size() << "\n"
        << "segments " << segments << "\n"
        << "procedures " << built.Model.Procedures.size() << "\n"
        << "names " << built.Model.Names.size() << "\n"
        << "records_1 " << recordStats.OneByteRecords << "\n"
        << "records_1_named " << recordStats.OneByteNamedRecords << "\n"
        << "records_2 " << recordStats.TwoByteRecords << "\n"
        << "records_4 " << recordStats.FourByteRecords << "\n"
        << "records_wide " << recordStats.WideRecords << "\n"
        << "records_zero_length " << recordStats.ZeroLengthRecords << "\n";
  if (!args.Stats.empty()) {
    std::ofstream file(args.Stats, std::ios::trunc);
    file << stats.str();
  }
  std::cout << "pelloran-eldata: " << args.Output << ": ELDATA " << container.size() << " bytes from "
            << facts.DebugBytes << " bytes of DWARF, " << built.Model.Units.size() << " units\n";
  return 0;
}

}  // namespace
}  // namespace pelloran::eldata

int main(int argc, char** argv) {
  try {
    return pelloran::eldata::Run(pelloran::eldata::ParseArguments(argc, argv));
  } catch (const std::exception& e) {
    std::cerr << "pelloran-eldata: " << e.what() << "\n";
    return 1;
  }
}
