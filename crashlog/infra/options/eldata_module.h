#pragma once
// Finding a module's ELDATA container: the RCDATA resource "ELDATA", or, for modules built the
// old way, the data appended to the end of the module file.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crashlog/infra/options/eldata.h"

namespace pelloran::crashlog {

class TCrashModuleOptions;

// The bytes of the RCDATA resource "ELDATA" of `module` (a loaded module, also one loaded as a
// data file), viewed in place; nothing when it has none.
std::optional<std::span<const std::uint8_t>> FindEldataResource(const void* module);
// The module has an "ELDATA" resource that starts with the magic.
bool HasEldataResource(const void* module);

// The file ends with the container magic (opened read-only, others may keep reading and writing).
bool HasEldataFileTail(const std::string& fileName);
// The appended container of a file; nothing when absent or its length word does not fit the file.
std::optional<TEldataContents> ReadEldataFileTail(const std::string& fileName);

struct TModuleEldata {
  std::uint16_t DataVersion = kCurrentDataVersion;
  TBuildTime BuildTime{};
  // The bytes after the OptionStream; nothing when the body ends before them.
  std::optional<std::vector<std::uint8_t>> DebugData;
};

// Reads the container of `module` (its resource; without one, the end of `fileName`) and loads
// its OptionStream into `options`. Nothing, with `options` untouched, when the module has no
// container or its header or compressed body is damaged. A resource that carries the magic is
// never second-guessed by the file's end.
std::optional<TModuleEldata> LoadModuleEldata(const void* module, const std::string& fileName,
                                              TCrashModuleOptions& options);
// The same from container contents already read.
TModuleEldata LoadEldataContents(const TEldataContents& contents, TCrashModuleOptions& options);

}  // namespace pelloran::crashlog
