#pragma once
// The module registry of the crash reporter: every module loaded in the process with its kind,
// version, exports, options and debug information, and the lookup that turns a code address into
// module, unit, class, procedure and line.
//
// The registry is not locked: one thread at a time (the one processing an exception) uses it.
// Records live until their module is unloaded and RefreshModules notices, or the registry ends;
// TCrashDebugInfo::Module points into the registry and is valid that long.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crashlog/infra/debuginfo/debug_info_format.h"
#include "crashlog/infra/options/eldata.h"
#include "crashlog/infra/debuginfo/modules_exports.h"

namespace pelloran::crashlog {

class TCrashModuleOptionsEx;

// ModuleKind values.
enum : std::uint8_t { kModuleNotExamined = 0, kModuleProgram = 1, kModulePackage = 2, kModuleLibrary = 3 };

// One registered module.
struct TCrashModuleInfo {
  TCrashModuleInfo();
  ~TCrashModuleInfo();
  TCrashModuleInfo(const TCrashModuleInfo&) = delete;
  TCrashModuleInfo& operator=(const TCrashModuleInfo&) = delete;

  std::uintptr_t Handle = 0;  // base address of the loaded image
  std::string FileName;
  std::string Description;   // FileDescription of the version resource, or empty
  std::string Version;       // "major.minor.release.build", empty for 0.0.0.0 or none
  std::uint32_t FileSize = 0;
  TCrashFunctionsList Functions;  // exports, sorted by address
  bool FunctionsOverlap = true;   // some estimated export ranges overlap: misses search linearly
  std::uint8_t ModuleKind = kModuleNotExamined;
  std::uint16_t DataVersion = kCurrentDataVersion;
  TBuildTime BuildTime{};
  std::unique_ptr<TCrashModuleOptionsEx> Options;
  std::optional<std::vector<std::uint8_t>> DebugData;  // the bytes after the OptionStream
  // The unit table of DebugData, read on the first lookup.
  std::unique_ptr<TDebugUnitIndex> DebugIndex;
  // Made by RefreshModules without exports, kind or debug information; FindModule completes it.
  bool Light = false;
};

// LocationKind values.
enum : std::uint8_t {
  kLocationUnknown = 0,     // outside every registered module
  kLocationModule = 1,      // the module is known, nothing more
  kLocationExport = 2,      // an export name without unit
  kLocationExportUnit = 3,  // unit, class and procedure read from an export name
  kLocationDebugInfo = 4,   // from the module's debug information
};

// Where one code address lies.
struct TCrashDebugInfo {
  std::uint8_t LocationKind = kLocationUnknown;
  TCrashModuleInfo* Module = nullptr;  // set for kinds 1 to 4
  std::uint32_t Address = 0;
  std::string UnitName;       // source file name, with extension
  std::string ClassName;      // empty for plain procedures
  std::string ProcedureName;
  std::int32_t Line = 0;      // 0 when unknown
};

class TCrashModulesList {
 public:
  TCrashModulesList();
  ~TCrashModulesList();
  TCrashModulesList(const TCrashModulesList&) = delete;
  TCrashModulesList& operator=(const TCrashModulesList&) = delete;

  int Count() const noexcept { return static_cast<int>(modules_.size()); }
  TCrashModuleInfo& operator[](int index) const { return *modules_.at(static_cast<std::size_t>(index)); }

  // The record of the module loaded at `handle`, registering it first when needed; nullptr for
  // 0 or for a handle the system knows no file for. A light record is completed in place.
  TCrashModuleInfo* FindModule(std::uintptr_t handle);
  // FindModule of the image that holds `address` (the allocation base of its memory region).
  TCrashModuleInfo* FindModuleOfAddress(std::uintptr_t address);
  // Registers the module at `handle`; false when the system gives no file name for it.
  bool AddModule(std::uintptr_t handle);
  // Drops unloaded modules, registers new ones as light records, sorts by handle.
  void RefreshModules();
  // RefreshModules, then completes every record and reads its debug information's unit table:
  // the work the first lookup in each module would otherwise do, done at installation rather
  // than while an error is being processed.
  void RegisterModulesNow();

  // Never raises; an address outside every module gives kind 0, an unexplained one kind 1.
  TCrashDebugInfo GetLocation(std::uintptr_t address);
  // Address of the procedure "unit.Class.Proc" / "unit.Proc" of the running module, or 0.
  std::uintptr_t FindProcByName(std::string_view fullName);

  // The record of the module that holds the crash reporter (the running module).
  TCrashModuleInfo* RunningModule() { return FindModule(RunningModuleHandle()); }
  static std::uintptr_t RunningModuleHandle() noexcept;

 private:
  TCrashModuleInfo* Find(std::uintptr_t handle) const noexcept;
  TCrashDebugInfo Locate(std::uintptr_t address);
  bool Fill(TCrashModuleInfo& record, std::uintptr_t handle);
  static void IndexDebugData(TCrashModuleInfo& record);

  std::vector<std::unique_ptr<TCrashModuleInfo>> modules_;
  bool refreshing_ = false;
};

// Reads the record's ELDATA container (its resource, or data appended to the module file) into
// its Options, DataVersion, BuildTime and DebugData; for other modules than the running one, what
// their reporter published on the MODULE channel overrides the stored options.
bool LoadDebugInformation(TCrashModuleInfo& record);
// The module has an RCDATA resource "ELDATA" that starts with the container magic.
bool IsCrashLogModule(std::uintptr_t handle);
// The module's file ends with the container magic (data appended by old builds).
bool IsCrashLogModule_Old(std::uintptr_t handle);

// The folder of the record's file without the final backslash ("C:\" keeps it).
std::string ModuleFolder(const TCrashModuleInfo& record);
std::string ModuleFolder(std::string_view fileName);

// The registry of this process: created when the crash reporter starts, destroyed when it ends.
// Creating it makes CurrentCrashLogOptions answer with the running module's options.
TCrashModulesList* CrashModules() noexcept;
TCrashModulesList& CreateCrashModules();
void DestroyCrashModules() noexcept;

// FindProcByName on the process registry; 0 when there is none.
std::uintptr_t FindProcByName(std::string_view fullName);

}  // namespace pelloran::crashlog
