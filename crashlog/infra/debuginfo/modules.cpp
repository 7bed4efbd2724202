#include "crashlog/infra/debuginfo/modules.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>

#include "crashlog/infra/debuginfo/debug_info_format.h"
#include "crashlog/infra/options/eldata_module.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/debuginfo/modules_pe.h"
#include "crashlog/infra/diagnostics/version_facts.h"
#include "crashlog/infra/options/options.h"
#include "crashlog/infra/options/options_channel.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "base/ansi_path.h"
#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

namespace {

HMODULE AsModule(std::uintptr_t handle) { return reinterpret_cast<HMODULE>(handle); }

std::vector<std::uintptr_t> LoadedModuleHandles() {
  std::vector<std::uintptr_t> handles;
  if (IsNtFamily()) {
    const ScopedKernelHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
    if (!process) return handles;
    std::vector<HMODULE> modules(256);
    for (;;) {
      DWORD needed = 0;
      if (!EnumProcessModules(process.get(), modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                              &needed))
        return handles;
      if (needed <= modules.size() * sizeof(HMODULE)) {
        modules.resize(needed / sizeof(HMODULE));
        break;
      }
      modules.resize(needed / sizeof(HMODULE) + 16);
    }
    for (HMODULE m : modules) handles.push_back(reinterpret_cast<std::uintptr_t>(m));
  } else {
    const ScopedGeneric<FileHandleTraits> snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId()));
    if (!snapshot) return handles;
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot.get(), &entry); more; more = Module32Next(snapshot.get(), &entry))
      handles.push_back(reinterpret_cast<std::uintptr_t>(entry.hModule));
  }
  return handles;
}

// Loads and unloads of modules, counted by the loader's notification: RefreshModules enumerates
// the modules only when the count moved since its last enumeration. Enumerating them costs a read
// of the loader's records through the system per module (under Wine, a round trip to its server
// each), more than the rest of a report together.
std::atomic<std::uint32_t> loaderChanges{0};

struct TDllNotificationData;
using TLdrDllNotification = void(CALLBACK*)(ULONG reason, const TDllNotificationData* data, void* context);
using TLdrRegisterDllNotification = LONG(NTAPI*)(ULONG flags, TLdrDllNotification notification, void* context,
                                                 void** cookie);

void CALLBACK OnLoaderChange(ULONG, const TDllNotificationData*, void*) {
  loaderChanges.fetch_add(1, std::memory_order_release);
}

// True when the loader reports every load and unload from now on (the system has the
// notification); registered once per process.
bool LoaderChangesWatched() {
  static const bool watched = [] {
    const auto registerNotification = reinterpret_cast<TLdrRegisterDllNotification>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification")));
    void* cookie = nullptr;
    return registerNotification != nullptr && registerNotification(0, &OnLoaderChange, nullptr, &cookie) == 0;
  }();
  return watched;
}

TCrashModulesList* processModules = nullptr;

TCrashModuleOptionsEx* RunningModuleOptions() {
  if (!processModules) return nullptr;
  TCrashModuleInfo* record = processModules->RunningModule();
  return record ? record->Options.get() : nullptr;
}

}  // namespace

TCrashModuleInfo::TCrashModuleInfo() = default;
TCrashModuleInfo::~TCrashModuleInfo() = default;

TCrashModulesList::TCrashModulesList() = default;
TCrashModulesList::~TCrashModulesList() = default;

std::uintptr_t TCrashModulesList::RunningModuleHandle() noexcept {
  return reinterpret_cast<std::uintptr_t>(ThisModule());
}

TCrashModuleInfo* TCrashModulesList::Find(std::uintptr_t handle) const noexcept {
  for (const auto& m : modules_)
    if (m->Handle == handle) return m.get();
  return nullptr;
}

bool TCrashModulesList::Fill(TCrashModuleInfo& record, std::uintptr_t handle) {
  std::string fileName = ModuleFileName(AsModule(handle));
  if (fileName.empty()) return false;
  record.Handle = handle;
  record.FileName = std::move(fileName);
  auto version = ReadVersionFacts(record.FileName);
  record.Description = std::move(version.Description);
  record.Version = std::move(version.Version);
  record.FileSize = FindFileSize(record.FileName);
  record.Functions.clear();
  record.Light = refreshing_;
  record.ModuleKind = kModuleNotExamined;
  if (!refreshing_) {
    record.Functions = ReadModuleExports(handle);
    record.FunctionsOverlap = ExportsOverlap(record.Functions);
    record.ModuleKind = ReadModuleKind(handle, record.FileName);
  }
  record.Options = std::make_unique<TCrashModuleOptionsEx>(record.FileName, true);
  record.DebugIndex.reset();
  if (refreshing_ || !LoadDebugInformation(record)) {
    record.DataVersion = kCurrentDataVersion;
    record.BuildTime = {};
    record.DebugData.reset();
  }
  return true;
}

bool TCrashModulesList::AddModule(std::uintptr_t handle) {
  TraceEnter("TCrashModulesList.AddModule", {reinterpret_cast<const void*>(handle)});
  auto record = std::make_unique<TCrashModuleInfo>();
  const bool added = Fill(*record, handle);
  if (added) modules_.push_back(std::move(record));
  TraceLeave("TCrashModulesList.AddModule", {added});
  return added;
}

TCrashModuleInfo* TCrashModulesList::FindModule(std::uintptr_t handle) {
  if (handle == 0) return nullptr;
  if (TCrashModuleInfo* known = Find(handle)) {
    if (!known->Light || refreshing_) return known;
    // Completed in place rather than replaced, so that its place in the sorted list and every
    // reference to it stay valid.
    if (Fill(*known, handle)) return known;
    modules_.erase(std::find_if(modules_.begin(), modules_.end(), [&](const auto& m) { return m.get() == known; }));
    return nullptr;
  }
  if (!AddModule(handle)) return nullptr;
  return modules_.back().get();
}

TCrashModuleInfo* TCrashModulesList::FindModuleOfAddress(std::uintptr_t address) {
  return FindModule(AllocationBaseOf(address));
}

void TCrashModulesList::RefreshModules() {
  TraceEnter("TCrashModulesList.RefreshModules");
  // Read before enumerating: a change during the enumeration makes the next refresh enumerate.
  const std::uint32_t changes = loaderChanges.load(std::memory_order_acquire);
  if (!LoaderChangesWatched() || !enumerated_ || changes != enumeratedChanges_) {
    std::erase_if(modules_, [](const auto& m) { return ModuleFileName(AsModule(m->Handle)).empty(); });
    refreshing_ = true;
    for (std::uintptr_t handle : LoadedModuleHandles())
      if (!Find(handle)) AddModule(handle);
    enumerated_ = true;
    enumeratedChanges_ = changes;
  }
  std::stable_sort(modules_.begin(), modules_.end(), [](const auto& a, const auto& b) { return a->Handle < b->Handle; });
  refreshing_ = false;
  TraceLeave("TCrashModulesList.RefreshModules", {Count()});
}

void TCrashModulesList::RegisterModulesNow() {
  TraceEnter("TCrashModulesList.RegisterModulesNow");
  RefreshModules();
  std::vector<std::uintptr_t> light;
  for (const auto& m : modules_)
    if (m->Light) light.push_back(m->Handle);
  for (std::uintptr_t handle : light) FindModule(handle);  // drops a module unloaded meanwhile
  for (const auto& m : modules_) IndexDebugData(*m);
  TraceLeave("TCrashModulesList.RegisterModulesNow", {Count()});
}

void TCrashModulesList::IndexDebugData(TCrashModuleInfo& record) {
  if (record.DebugData && !record.DebugIndex)
    record.DebugIndex = std::make_unique<TDebugUnitIndex>(TDebugUnitIndex::Build(*record.DebugData, record.DataVersion));
}

TCrashDebugInfo TCrashModulesList::GetLocation(std::uintptr_t address) {
  TraceEnter("TCrashModulesList.GetLocation", {reinterpret_cast<const void*>(address)});
  TCrashDebugInfo info = Locate(address);
  TraceLeave("TCrashModulesList.GetLocation", {static_cast<int>(info.LocationKind), info.UnitName, info.ProcedureName,
                                               static_cast<int>(info.Line)});
  return info;
}

TCrashDebugInfo TCrashModulesList::Locate(std::uintptr_t address) {
  TCrashDebugInfo info;
  info.Address = static_cast<std::uint32_t>(address);
  TCrashModuleInfo* record = FindModuleOfAddress(address);
  if (!record) return info;
  if (record->DebugData) {
    IndexDebugData(*record);
    if (auto found = record->DebugIndex->Find(*record->DebugData, record->DataVersion, record->Handle, address)) {
      info.LocationKind = kLocationDebugInfo;
      info.Module = record;
      info.UnitName = std::move(found->UnitName);
      info.ClassName = std::move(found->ClassName);
      info.ProcedureName = std::move(found->ProcedureName);
      info.Line = found->Line;
      return info;
    }
  }
  info.LocationKind = kLocationModule;
  info.Module = record;
  const int index = FindExportIndex(record->Functions, static_cast<std::uint32_t>(address), record->FunctionsOverlap);
  if (index < 0) return info;
  auto parts = ParseExportName(record->Functions[static_cast<std::size_t>(index)].Name);
  if (parts.LocationKind == kLocationModule) return info;
  info.LocationKind = parts.LocationKind;
  info.UnitName = std::move(parts.UnitName);
  info.ClassName = std::move(parts.ClassName);
  info.ProcedureName = std::move(parts.ProcedureName);
  return info;
}

std::uintptr_t TCrashModulesList::FindProcByName(std::string_view fullName) {
  TraceEnter("TCrashModulesList.FindProcByName", {fullName});
  std::uintptr_t address = 0;
  TCrashModuleInfo* record = RunningModule();
  if (record && record->DebugData) {
    const auto offset = FindNameTableOffset(*record->DebugData, record->DataVersion, fullName);
    if (offset) address = record->Handle + *offset + kCodeSectionRva;
  }
  TraceLeave("TCrashModulesList.FindProcByName", {reinterpret_cast<const void*>(address)});
  return address;
}

bool LoadDebugInformation(TCrashModuleInfo& record) {
  TraceEnter("LoadDebugInformation", {record.FileName});
  bool loaded = false;
  if (record.Options) {
    if (auto eldata = LoadModuleEldata(AsModule(record.Handle), record.FileName, *record.Options)) {
      record.DataVersion = eldata->DataVersion;
      record.BuildTime = eldata->BuildTime;
      record.DebugData = std::move(eldata->DebugData);
      loaded = true;
      if (record.Handle != TCrashModulesList::RunningModuleHandle())
        LoadPublishedOptions(AsModule(record.Handle), *record.Options, record.DataVersion);
    }
  }
  TraceLeave("LoadDebugInformation", {loaded});
  return loaded;
}

bool IsCrashLogModule(std::uintptr_t handle) { return HasEldataResource(AsModule(handle)); }

bool IsCrashLogModule_Old(std::uintptr_t handle) {
  const std::string fileName = ModuleFileName(AsModule(handle));
  return !fileName.empty() && HasEldataFileTail(fileName);
}

std::string ModuleFolder(std::string_view fileName) {
  // Whole GBK characters: a folder name may end in a character whose trail byte is 0x5C.
  const std::size_t afterSlash = AfterLastPathDelimiter(fileName, "\\");
  if (afterSlash == 0) return {};
  const std::size_t slash = afterSlash - 1;
  if (slash > 0 && fileName[slash - 1] == ':') return std::string(fileName.substr(0, slash + 1));
  return std::string(fileName.substr(0, slash));
}

std::string ModuleFolder(const TCrashModuleInfo& record) { return ModuleFolder(record.FileName); }

TCrashModulesList* CrashModules() noexcept { return processModules; }

TCrashModulesList& CreateCrashModules() {
  if (!processModules) {
    processModules = new TCrashModulesList();
    SetCurrentCrashLogOptionsLookup(&RunningModuleOptions);
  }
  return *processModules;
}

void DestroyCrashModules() noexcept {
  SetCurrentCrashLogOptionsLookup(nullptr);
  delete std::exchange(processModules, nullptr);
}

std::uintptr_t FindProcByName(std::string_view fullName) {
  return processModules ? processModules->FindProcByName(fullName) : 0;
}

}  // namespace pelloran::crashlog
