// The module registry under the system: this program's own ELDATA resource, libraries without
// debug information (exports, nothing), a library with the container appended to its file and
// options published on its MODULE channel, module kinds and version facts, and StackScan of a
// known call chain and of hostile memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "crashlog/infra/debuginfo/debug_info_writer.h"
#include "crashlog/infra/options/eldata.h"
#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/options/options.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "crashlog/infra/debuginfo/stack.h"

// ---- a known call chain: ChainA -> THelper::ChainB -> chain::ChainC -> StackScan ----------------

static int g_lineA = 0, g_lineB = 0, g_lineC = 0;
static pelloran::crashlog::TCrashStackList g_chainStack;

namespace chain {
__attribute__((noinline, noipa)) int ChainC(int depth) {
  std::uintptr_t sp, stackBase;
  asm volatile("movl %%esp, %0" : "=r"(sp));
  asm volatile("movl %%fs:4, %0" : "=r"(stackBase));  // NT_TIB.StackBase
  g_lineC = __LINE__ + 1;
  g_chainStack = pelloran::crashlog::StackScan(*pelloran::crashlog::CrashModules(), 0, sp - 256, stackBase - 4);
  return depth + 1;
}
}  // namespace chain

struct THelper {
  __attribute__((noinline, noipa)) int ChainB(int depth);
};
int THelper::ChainB(int depth) {
  g_lineB = __LINE__ + 1;
  const int result = chain::ChainC(depth + 1);
  return result + 1;
}

__attribute__((noinline, noipa)) int ChainA(int depth) {
  THelper helper;
  g_lineA = __LINE__ + 1;
  const int result = helper.ChainB(depth + 1);
  return result + 1;
}

__attribute__((noinline, noipa)) void* ReturnAddress() { return __builtin_return_address(0); }

namespace pelloran::crashlog {
namespace {

std::uintptr_t ThisProgram() { return reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)); }

std::string ProgramFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return ModuleFolder(std::string_view(path));
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { modules_ = &CreateCrashModules(); }
  void TearDown() override { DestroyCrashModules(); }
  TCrashModulesList* modules_ = nullptr;
};

TEST_F(Registry, ThisProgramResolvesThroughItsOwnResource) {
  TCrashModuleInfo* self = modules_->FindModule(ThisProgram());
  ASSERT_NE(self, nullptr);
  EXPECT_TRUE(IsCrashLogModule(ThisProgram()));
  EXPECT_FALSE(IsCrashLogModule_Old(ThisProgram()));
  EXPECT_EQ(self->ModuleKind, kModuleProgram);
  // The program's own resources survived the ELDATA resource being added beside them.
  EXPECT_EQ(self->Description, "Registry test program");
  EXPECT_EQ(self->Version, "5.6.7.8");
  EXPECT_EQ(self->DataVersion, 454);
  ASSERT_TRUE(self->DebugData.has_value());
  EXPECT_NE(self->BuildTime, TBuildTime{});
  EXPECT_EQ(self->Options->ModuleName(), self->FileName);
  // The options file given to the build tool, over the defaults.
  EXPECT_EQ(self->Options->MailSubject(), "Registry test program");
  EXPECT_EQ(self->Options->SendMode(), kSendMailClient);
  EXPECT_EQ(self->Options->GetText(2), "Something broke.");
  EXPECT_EQ(self->Options->FilterClasses().Strings(), std::vector<std::string>{"EAbort"});
  EXPECT_TRUE(self->Options->SaveLog());
  EXPECT_EQ(modules_->FindModule(ThisProgram()), self);  // registered once
  EXPECT_EQ(&CurrentCrashLogOptions(), self->Options.get());

  const int line = __LINE__ + 1;
  const auto returnAddress = reinterpret_cast<std::uintptr_t>(ReturnAddress());
  const TCrashDebugInfo info = modules_->GetLocation(returnAddress - 1);
  EXPECT_EQ(info.LocationKind, kLocationDebugInfo);
  EXPECT_EQ(info.Module, self);
  EXPECT_EQ(info.Address, returnAddress - 1);
  EXPECT_EQ(info.UnitName, "modules_test.cpp");
  EXPECT_EQ(info.Line, line);

  const TCrashDebugInfo method = modules_->GetLocation(modules_->FindProcByName("modules_test.THelper.ChainB"));
  EXPECT_EQ(method.ClassName, "THelper");
  EXPECT_EQ(method.ProcedureName, "ChainB");
  EXPECT_EQ(modules_->FindProcByName("modules_test.chain::ChainC"), reinterpret_cast<std::uintptr_t>(&chain::ChainC));
  EXPECT_EQ(modules_->FindProcByName("modules_test.ChainA"), reinterpret_cast<std::uintptr_t>(&ChainA));
  EXPECT_EQ(modules_->FindProcByName("modules_test.NoSuchThing"), 0u);
}

TEST_F(Registry, UnknownPlacesAndHandles) {
  EXPECT_EQ(modules_->FindModule(0), nullptr);
  void* heap = HeapAlloc(GetProcessHeap(), 0, 64);
  EXPECT_EQ(modules_->FindModuleOfAddress(reinterpret_cast<std::uintptr_t>(heap)), nullptr);
  const TCrashDebugInfo info = modules_->GetLocation(reinterpret_cast<std::uintptr_t>(heap));
  EXPECT_EQ(info.LocationKind, kLocationUnknown);
  EXPECT_EQ(info.Module, nullptr);
  EXPECT_EQ(info.Address, reinterpret_cast<std::uintptr_t>(heap));
  HeapFree(GetProcessHeap(), 0, heap);
  EXPECT_EQ(modules_->GetLocation(0x10).LocationKind, kLocationUnknown);
}

TEST_F(Registry, LibraryWithoutDebugInformationResolvesThroughItsExports) {
  const HMODULE library = LoadLibraryA("crashlog_modules_package.dll");
  ASSERT_NE(library, nullptr);
  const auto handle = reinterpret_cast<std::uintptr_t>(library);
  TCrashModuleInfo* record = modules_->FindModule(handle);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->ModuleKind, kModulePackage);
  EXPECT_FALSE(record->DebugData.has_value());
  EXPECT_EQ(record->DataVersion, 454);
  EXPECT_EQ(record->BuildTime, TBuildTime{});
  EXPECT_EQ(record->Description, "Sample package library");
  EXPECT_EQ(record->Version, "1.2.3.4");
  EXPECT_EQ(record->FileSize, std::filesystem::file_size(record->FileName));
  EXPECT_EQ(ModuleFolder(*record), ProgramFolder());
  ASSERT_EQ(record->Functions.size(), 4u);
  for (std::size_t i = 1; i < record->Functions.size(); ++i)
    EXPECT_LT(record->Functions[i - 1].Address, record->Functions[i].Address);

  auto export_ = [&](const char* name) { return reinterpret_cast<std::uintptr_t>(GetProcAddress(library, name)); };
  // Inside the procedure: past its first byte, before its return.
  TCrashDebugInfo info = modules_->GetLocation(export_("@Forms@TApplication@HandleException$qqrp14System@TObject") + 3);
  EXPECT_EQ(info.LocationKind, kLocationExportUnit);
  EXPECT_EQ(info.Module, record);
  EXPECT_EQ(info.UnitName, "Forms.cpp");
  EXPECT_EQ(info.ClassName, "TApplication");
  EXPECT_EQ(info.ProcedureName, "HandleException");
  EXPECT_EQ(info.Line, 0);
  info = modules_->GetLocation(export_("Unit1.Proc") + 3);
  EXPECT_EQ(info.LocationKind, kLocationExportUnit);
  EXPECT_EQ(info.UnitName, "Unit1.cpp");
  EXPECT_EQ(info.ClassName, "");
  EXPECT_EQ(info.ProcedureName, "Proc");
  info = modules_->GetLocation(export_("GetVersion") + 3);
  EXPECT_EQ(info.LocationKind, kLocationExport);
  EXPECT_EQ(info.UnitName, "");
  EXPECT_EQ(info.ProcedureName, "GetVersion");
  // A procedure that is not exported lies outside every export's estimated code: module only.
  const auto& useHidden = *std::find_if(record->Functions.begin(), record->Functions.end(),
                                        [](const TCrashFunctionInfo& f) { return f.Name == "UseHidden"; });
  EXPECT_GT(useHidden.Size, 3u);
  info = modules_->GetLocation(useHidden.Address + useHidden.Size + 1);
  EXPECT_EQ(info.LocationKind, kLocationModule);
  EXPECT_EQ(info.Module, record);
  EXPECT_EQ(info.ProcedureName, "");
  FreeLibrary(library);
}

TEST_F(Registry, LibraryWithNothingGivesTheModuleOnly) {
  const HMODULE library = LoadLibraryA("crashlog_modules_plain.dll");
  ASSERT_NE(library, nullptr);
  const auto handle = reinterpret_cast<std::uintptr_t>(library);
  const TCrashDebugInfo info = modules_->GetLocation(handle + 0x1000 + 0x10);
  EXPECT_EQ(info.LocationKind, kLocationModule);
  ASSERT_NE(info.Module, nullptr);
  EXPECT_EQ(info.Module->Handle, handle);
  EXPECT_EQ(info.Module->ModuleKind, kModuleLibrary);
  EXPECT_TRUE(info.Module->Functions.empty());
  EXPECT_EQ(info.Module->Description, "");
  EXPECT_EQ(info.Module->Version, "");
  EXPECT_EQ(info.UnitName + info.ClassName + info.ProcedureName, "");
  FreeLibrary(library);
}

// A copy of the plain library with an old-style container appended to its file: debug
// information for its first 0x100 code bytes, and options that differ from the defaults.
// The copy is named after this process, so that no earlier run's file is in the way.
std::string MakeOldStyleLibrary(const std::string& name) {
  const std::string folder = ProgramFolder();
  const std::string path = folder + "\\" + name + "_" + std::to_string(GetCurrentProcessId()) + ".dll";
  if (!CopyFileA((folder + "\\crashlog_modules_plain.dll").c_str(), path.c_str(), FALSE)) return {};
  TDebugInfoModel model;
  model.Procedures = {{"TOld", "Run"}, {"", "Helper"}};
  model.Units.push_back({"OldUnit", 0, {{0x20, 10, 0}, {0x20, 12, 0}, {0xC0, 30, 1}}});
  model.Names.push_back({"OldUnit.TOld.Run", 0, 0x40});
  TCrashOptionValues values;
  values.ShowDialog = false;
  values.MailSubject = "from the file";
  const auto body = BuildEldataBody(values, WriteDebugInfo(model, 454));
  const TBuildTime time = {1, 2, 3, 4, 5, 6, 7, 8};
  const auto tail = WriteEldataTail(454, time, body);
  std::ofstream file(path, std::ios::binary | std::ios::app);
  file.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
  return path;
}

TEST_F(Registry, OldContainerAtTheEndOfTheFile) {
  const std::string path = MakeOldStyleLibrary("crashlog_modules_old");
  const HMODULE library = LoadLibraryA(path.c_str());
  ASSERT_NE(library, nullptr);
  const auto handle = reinterpret_cast<std::uintptr_t>(library);
  EXPECT_FALSE(IsCrashLogModule(handle));
  EXPECT_TRUE(IsCrashLogModule_Old(handle));
  TCrashModuleInfo* record = modules_->FindModule(handle);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->DataVersion, 454);
  EXPECT_EQ(record->BuildTime, (TBuildTime{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_FALSE(record->Options->ShowDialog());
  EXPECT_EQ(record->Options->MailSubject(), "from the file");

  TCrashDebugInfo info = modules_->GetLocation(handle + 0x1000 + 0x25);
  EXPECT_EQ(info.LocationKind, kLocationDebugInfo);
  EXPECT_EQ(info.UnitName, "OldUnit.cpp");
  EXPECT_EQ(info.ClassName, "TOld");
  EXPECT_EQ(info.ProcedureName, "Run");
  EXPECT_EQ(info.Line, 12);
  info = modules_->GetLocation(handle + 0x1000 + 0x90);
  EXPECT_EQ(info.ProcedureName, "Helper");
  EXPECT_EQ(info.Line, 30);
  // Past the described bytes the library is known, nothing more.
  EXPECT_EQ(modules_->GetLocation(handle + 0x1000 + 0x100).LocationKind, kLocationModule);
  FreeLibrary(library);
  DeleteFileA(path.c_str());
}

TEST_F(Registry, OptionsPublishedOnTheModuleChannelWin) {
  const std::string path = MakeOldStyleLibrary("crashlog_modules_published");
  const HMODULE library = LoadLibraryA(path.c_str());
  ASSERT_NE(library, nullptr);
  // What that library's own crash reporter would have published: u8 1, then its options.
  TCrashOptionValues published;
  published.MailSubject = "from the channel";
  auto payload = SaveOptionStream(published);
  payload.insert(payload.begin(), 1);
  SharedChannel channel = SharedChannel::Create(kModuleChannel, library, static_cast<std::uint32_t>(payload.size()));
  ASSERT_TRUE(channel.IsOpen());
  std::memcpy(channel.Payload(), payload.data(), payload.size());

  TCrashModuleInfo* record = modules_->FindModule(reinterpret_cast<std::uintptr_t>(library));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->Options->MailSubject(), "from the channel");
  EXPECT_TRUE(record->Options->ShowDialog());
  ASSERT_TRUE(record->DebugData.has_value());  // the debug information still comes from the file
  channel.Delete();
  FreeLibrary(library);
  DeleteFileA(path.c_str());
}

TEST_F(Registry, RefreshRegistersLightEntriesCompletedOnFirstUse) {
  modules_->FindModule(ThisProgram());
  modules_->RefreshModules();
  const auto kernel = reinterpret_cast<std::uintptr_t>(GetModuleHandleA("kernel32.dll"));
  const auto ntdll = reinterpret_cast<std::uintptr_t>(GetModuleHandleA("ntdll.dll"));
  TCrashModuleInfo* light = nullptr;
  bool sawProgram = false, sawNtdll = false;
  for (int i = 0; i < modules_->Count(); ++i) {
    const TCrashModuleInfo& m = (*modules_)[i];
    if (i > 0) {
      EXPECT_LT((*modules_)[i - 1].Handle, m.Handle) << "not sorted by handle";
    }
    if (m.Handle == kernel) light = &(*modules_)[i];
    sawProgram |= m.Handle == ThisProgram();
    sawNtdll |= m.Handle == ntdll;
    EXPECT_FALSE(m.FileName.empty());
  }
  EXPECT_TRUE(sawProgram);
  EXPECT_TRUE(sawNtdll);
  ASSERT_NE(light, nullptr);
  EXPECT_TRUE(light->Light);
  EXPECT_TRUE(light->Functions.empty());
  EXPECT_EQ(light->ModuleKind, kModuleNotExamined);
  const int count = modules_->Count();

  TCrashModuleInfo* full = modules_->FindModule(kernel);
  EXPECT_EQ(full, light);  // completed in place
  EXPECT_FALSE(full->Light);
  EXPECT_EQ(full->ModuleKind, kModuleLibrary);
  EXPECT_GT(full->Functions.size(), 100u);
  EXPECT_EQ(modules_->Count(), count);
  const TCrashDebugInfo info = modules_->GetLocation(reinterpret_cast<std::uintptr_t>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")));
  EXPECT_EQ(info.Module, full);
  EXPECT_GE(info.LocationKind, kLocationModule);

  // An unloaded library leaves the registry at the next refresh.
  const HMODULE library = LoadLibraryA("crashlog_modules_plain.dll");
  modules_->FindModule(reinterpret_cast<std::uintptr_t>(library));
  FreeLibrary(library);
  modules_->RefreshModules();
  for (int i = 0; i < modules_->Count(); ++i)
    EXPECT_NE((*modules_)[i].Handle, reinterpret_cast<std::uintptr_t>(library));

  // A library loaded after a refresh is registered by the next one, and leaves again.
  const HMODULE later = LoadLibraryA("crashlog_modules_plain.dll");
  ASSERT_NE(later, nullptr);
  auto registered = [&] {
    for (int i = 0; i < modules_->Count(); ++i)
      if ((*modules_)[i].Handle == reinterpret_cast<std::uintptr_t>(later)) return true;
    return false;
  };
  modules_->RefreshModules();
  EXPECT_TRUE(registered());
  FreeLibrary(later);
  modules_->RefreshModules();
  EXPECT_FALSE(registered());
}

TEST_F(Registry, RegisterModulesNowCompletesEveryLoadedModule) {
  modules_->RegisterModulesNow();
  const auto kernel = reinterpret_cast<std::uintptr_t>(GetModuleHandleA("kernel32.dll"));
  bool sawProgram = false, sawKernel = false;
  for (int i = 0; i < modules_->Count(); ++i) {
    const TCrashModuleInfo& m = (*modules_)[i];
    EXPECT_FALSE(m.Light) << m.FileName;
    EXPECT_NE(m.ModuleKind, kModuleNotExamined) << m.FileName;
    if (m.Handle == ThisProgram()) {
      sawProgram = true;
      EXPECT_NE(m.DebugIndex, nullptr) << "the unit table is read at registration";
    }
    if (m.Handle == kernel) {
      sawKernel = true;
      EXPECT_GT(m.Functions.size(), 100u);
    }
  }
  EXPECT_TRUE(sawProgram);
  EXPECT_TRUE(sawKernel);

  // A library loaded later is complete after the next call too, and its location needs nothing more.
  const HMODULE library = LoadLibraryA("crashlog_modules_package.dll");
  ASSERT_NE(library, nullptr);
  modules_->RegisterModulesNow();
  const int count = modules_->Count();
  TCrashModuleInfo* record = nullptr;
  for (int i = 0; i < count; ++i)
    if ((*modules_)[i].Handle == reinterpret_cast<std::uintptr_t>(library)) record = &(*modules_)[i];
  ASSERT_NE(record, nullptr);
  EXPECT_FALSE(record->Light);
  EXPECT_EQ(record->ModuleKind, kModulePackage);
  EXPECT_EQ(record->Functions.size(), 4u);
  EXPECT_EQ(modules_->GetLocation(reinterpret_cast<std::uintptr_t>(GetProcAddress(library, "GetVersion")) + 3).Module,
            record);
  EXPECT_EQ(modules_->Count(), count);
  FreeLibrary(library);
}

TEST(ModuleFolders, DriveRootsKeepTheirBackslash) {
  EXPECT_EQ(ModuleFolder(std::string_view("C:\\app\\mod.dll")), "C:\\app");
  EXPECT_EQ(ModuleFolder(std::string_view("C:\\mod.dll")), "C:\\");
  EXPECT_EQ(ModuleFolder(std::string_view("mod.dll")), "");
  EXPECT_EQ(ModuleFolder(std::string_view("\\\\server\\share\\mod.dll")), "\\\\server\\share");
  // "\xC7\x5C" is one GBK character whose trail byte is the code of "\".
  EXPECT_EQ(ModuleFolder(std::string_view("C:\\\xC7\x5C\\mod.dll")), "C:\\\xC7\x5C");
  EXPECT_EQ(ModuleFolder(std::string_view("C:\\\xC7\x5C")), "C:\\");
}

// ---- StackScan ------------------------------------------------------------------------------------

TEST_F(Registry, StackScanListsAKnownChainInnermostFirst) {
  modules_->FindModule(ThisProgram());
  ASSERT_EQ(ChainA(0), 5);
  struct TExpected {
    const char* Class;
    const char* Procedure;
    int Line;
  } expected[] = {{"", "chain::ChainC", g_lineC}, {"THelper", "ChainB", g_lineB}, {"", "ChainA", g_lineA}};
  std::size_t next = 0;
  for (const TCrashDebugInfo& entry : g_chainStack) {
    if (next == std::size(expected)) break;
    if (entry.LocationKind == kLocationDebugInfo && entry.UnitName == "modules_test.cpp" &&
        entry.ProcedureName == expected[next].Procedure && entry.ClassName == expected[next].Class &&
        entry.Line == expected[next].Line)
      ++next;
  }
  std::string listed;
  for (const TCrashDebugInfo& entry : g_chainStack)
    listed += entry.UnitName + ":" + std::to_string(entry.Line) + " " + entry.ClassName + "." + entry.ProcedureName + "\n";
  EXPECT_EQ(next, std::size(expected)) << "call chain not found in order in:\n" << listed;
  // A direct call also names the procedure it called, just before the call's own line.
  bool calleeNamed = false;
  for (std::size_t i = 0; i + 1 < g_chainStack.size(); ++i)
    calleeNamed |= g_chainStack[i].ProcedureName == "chain::ChainC" && g_chainStack[i + 1].ProcedureName == "ChainB" &&
                   g_chainStack[i + 1].Line == g_lineB;
  EXPECT_TRUE(calleeNamed) << listed;
}

TEST(CallRules, EachCallFormIsRecognisedFromTheBytesBeforeTheReturnAddress) {
  struct TCase {
    std::vector<std::uint8_t> Call;  // the call instruction, ending at the return address
    std::uint32_t Size;
  } cases[] = {
      {{0xE8, 1, 2, 3, 4}, 5},              // call rel32
      {{0xFF, 0xD0}, 2},                    // call eax
      {{0xFF, 0xD7}, 2},                    // call edi
      {{0xFF, 0x13}, 2},                    // call [ebx]
      {{0xFF, 0x16}, 2},                    // call [esi]
      {{0xFF, 0x56, 0x08}, 3},              // call [esi+8]
      {{0xFF, 0x90, 1, 0, 0, 0}, 6},        // call [eax+d32]
      {{0xFF, 0x14, 0x24}, 3},              // call [esp]
      {{0xFF, 0x54, 0x24, 0x04}, 4},        // call [esp+4]
      {{0xFF, 0x94, 0x24, 0, 1, 0, 0}, 7},  // call [esp+d32]
      {{0xFF, 0x15, 0, 0x10, 0x40, 0}, 6},  // call [abs32]
  };
  for (const auto& c : cases) {
    std::uint8_t b[7] = {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90};
    std::memcpy(b + 7 - c.Call.size(), c.Call.data(), c.Call.size());
    const TCallSite site = RecogniseCall(b);
    EXPECT_EQ(site.Size, c.Size) << "form of " << c.Call.size() << " bytes starting " << std::hex << int(c.Call[0])
                                 << " " << int(c.Call[1]);
    EXPECT_EQ(site.Relative, c.Call[0] == 0xE8);
    EXPECT_EQ(site.ThroughPointer, c.Call[1] == 0x15);
  }
  const std::uint8_t none[7] = {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0xE0};  // jmp eax: not a call
  EXPECT_EQ(RecogniseCall(none).Size, 0u);
  const std::uint8_t esp[7] = {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0x14};  // call [esp] needs its SIB byte
  EXPECT_EQ(RecogniseCall(esp).Size, 0u);
}

TEST(OwnMemory, ReadsNeverFaultOnMemoryThatWentAway) {
  auto* page = static_cast<std::uint32_t*>(VirtualAlloc(nullptr, 0x1000, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(page, nullptr);
  page[0] = 0x12345678;
  const auto address = reinterpret_cast<std::uintptr_t>(page);
  TReadableCache cache;
  std::uint32_t value = 0;
  ASSERT_TRUE(cache.Read(address, &value, 4));
  EXPECT_EQ(value, 0x12345678u);
  DWORD previous = 0;
  ASSERT_TRUE(VirtualProtect(page, 0x1000, PAGE_NOACCESS, &previous));
  // The cache still believes the page readable; the copy faults inside its own frame and fails.
  EXPECT_FALSE(cache.Read(address, &value, 4));
  EXPECT_FALSE(ReadOwnMemory(address, &value, 4));
  // Released altogether, and a copy that starts readable but runs into the released page.
  auto* pair = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(pair, nullptr);
  ASSERT_TRUE(VirtualFree(pair + 0x1000, 0x1000, MEM_DECOMMIT));
  std::uint8_t bytes[8] = {};
  EXPECT_FALSE(ReadOwnMemory(reinterpret_cast<std::uintptr_t>(pair + 0xFFC), bytes, sizeof bytes));
  EXPECT_TRUE(ReadOwnMemory(reinterpret_cast<std::uintptr_t>(pair + 0xFF8), bytes, 8));
  VirtualFree(pair, 0, MEM_RELEASE);
  cache.Clear();
  EXPECT_FALSE(cache.IsReadable(address, 4));
  VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(Registry, StackScanOverHostileMemoryNeverFaults) {
  // Executable memory with every call form, and a fake stack of their return addresses mixed with
  // values that point nowhere, into a gap, or at the very end of readable memory.
  auto* code = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 0x3000, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(code, nullptr);
  VirtualAlloc(code, 0x1000, MEM_COMMIT, PAGE_EXECUTE_READWRITE);  // then a reserved page, then...
  VirtualAlloc(code + 0x2000, 0x1000, MEM_COMMIT, PAGE_READONLY | PAGE_GUARD);
  std::memset(code, 0x90, 0x1000);
  std::vector<std::uint32_t> stack;
  std::uintptr_t at = reinterpret_cast<std::uintptr_t>(code) + 0x100;
  auto place = [&](std::vector<std::uint8_t> call) {
    std::memcpy(reinterpret_cast<void*>(at), call.data(), call.size());
    at += call.size();
    stack.push_back(static_cast<std::uint32_t>(at));
    at += 16;
  };
  // A direct call into an import thunk that leads to ChainA: the callee is named as ChainA.
  const std::uintptr_t thunk = reinterpret_cast<std::uintptr_t>(code) + 0x800;
  const std::uintptr_t slot = thunk + 0x40;
  const auto chainA = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ChainA));
  std::memcpy(reinterpret_cast<void*>(slot), &chainA, 4);
  const std::uint8_t thunkBytes[8] = {0xFF, 0x25, 0, 0, 0, 0, 0x90, 0x90};
  std::memcpy(reinterpret_cast<void*>(thunk), thunkBytes, 8);
  std::memcpy(reinterpret_cast<void*>(thunk + 2), &slot, 4);
  {
    const std::uint32_t rel = static_cast<std::uint32_t>(thunk - (at + 5));
    place({0xE8, std::uint8_t(rel), std::uint8_t(rel >> 8), std::uint8_t(rel >> 16), std::uint8_t(rel >> 24)});
  }
  place({0xFF, 0xD2});
  place({0xFF, 0x15, 0, 0, 0, 0});  // call [0]: the pointer is not readable, so no call
  stack.push_back(0);
  stack.push_back(3);
  stack.push_back(0xFFFFFFFF);
  stack.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code) + 0x1003));  // after a reserved page's start
  stack.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code) + 0x2004));  // in a guard page
  stack.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code) + 0x1800));   // inside the reserved page

  const auto low = reinterpret_cast<std::uintptr_t>(stack.data());
  const auto list = StackScan(*modules_, 0x1234, low, low + 4 * (stack.size() - 1));
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].Address, 0x1234u);  // the first address comes first
  EXPECT_EQ(list[1].ProcedureName, "ChainA");  // the callee through the thunk
  EXPECT_EQ(list[2].Address, stack[0] - 5);
  EXPECT_EQ(list[3].Address, stack[1] - 2);

  // The guard page is still a guard page: the scan never touched it.
  MEMORY_BASIC_INFORMATION info;
  VirtualQuery(code + 0x2000, &info, sizeof info);
  EXPECT_TRUE(info.Protect & PAGE_GUARD);

  // Ranges that are not memory at all: no entries, no fault.
  EXPECT_TRUE(StackScan(*modules_, 0, reinterpret_cast<std::uintptr_t>(code) + 0x1000,
                        reinterpret_cast<std::uintptr_t>(code) + 0x2FFC).empty());
  EXPECT_TRUE(StackScan(*modules_, 0, 0xFFFFFF00, 0xFFFFFFFC).empty());
  VirtualFree(code, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace pelloran::crashlog
