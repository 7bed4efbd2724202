// The hooking engine on real code of this program under the system: code hooks with their
// trampolines (registers, calling conventions, results, exceptions), thunks, import slots, hooks
// by name, the errors, and UnhookAll putting every byte and slot back.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <thread>

#include "crashlog/infra/hooks/hook.h"
#include "crashlog/infra/hooks/hook_code.h"
#include "crashlog/infra/debuginfo/modules.h"

// Victims: out of line and out of reach of interprocedural optimisation, so that calls really
// enter the hooked code, and long enough for a 5-byte patch.
#define VICTIM extern "C" __attribute__((noinline, noipa))

static volatile int g_originalCalls = 0;

VICTIM int VictimAdd(int a, int b) {
  g_originalCalls = g_originalCalls + 1;
  return a + b;
}
VICTIM __attribute__((fastcall)) int VictimFast(int a, int b) {  // ecx, edx
  g_originalCalls = g_originalCalls + 1;
  return a * 100 + b;
}
VICTIM __attribute__((regparm(3))) int VictimRegisters(int a, int b, int c) {  // eax, edx, ecx
  g_originalCalls = g_originalCalls + 1;
  return a * 10000 + b * 100 + c;
}
VICTIM __attribute__((stdcall)) int VictimStdcall(int a, int b, int c) {  // the callee pops its arguments
  g_originalCalls = g_originalCalls + 1;
  return a - b - c;
}
VICTIM double VictimHalf(double x) {
  g_originalCalls = g_originalCalls + 1;
  return x / 2;
}
VICTIM int VictimThrows(int x) {
  g_originalCalls = g_originalCalls + 1;
  if (x < 0) throw std::runtime_error("negative");
  return x;
}
VICTIM DWORD VictimSetsLastError(DWORD code) {
  g_originalCalls = g_originalCalls + 1;
  SetLastError(code);
  return code + 1;
}

// Two victims side by side, in one page of code, for two threads that hook-call them at once.
static volatile int g_pageACalls = 0, g_pageBCalls = 0;
VICTIM int VictimPageA(int a) {
  g_pageACalls = g_pageACalls + 1;
  return a + 1;
}
VICTIM int VictimPageB(int a) {
  g_pageBCalls = g_pageBCalls + 1;
  return a + 2;
}

// A method found by its full name in this program's own debug information.
struct THookVictim {
  __attribute__((noinline, noipa)) int Run(int x);
  int base = 1000;
};
int THookVictim::Run(int x) {
  g_originalCalls = g_originalCalls + 1;
  return base + x;
}

// The trampoline's two helper routines.
extern "C" void PelloranHookRestoreTarget();
extern "C" void PelloranHookReinstall();

namespace pelloran::crashlog {
namespace {

// Calls go through volatile pointers: the compiler cannot see which function runs.
template <typename F>
F Opaque(F f) {
  F volatile p = f;
  return p;
}

std::array<std::uint8_t, 5> FirstBytes(const void* code) {
  std::array<std::uint8_t, 5> bytes;
  std::memcpy(bytes.data(), code, 5);
  return bytes;
}

std::uint32_t U32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

class Hooks : public ::testing::Test {
 protected:
  void SetUp() override { g_originalCalls = 0; }
  void TearDown() override {
    UnhookAll();
    EXPECT_EQ(CodeHookCount(), 0u);
    EXPECT_EQ(ImportHookCount(), 0u);
  }
};

// ---- code hooks ---------------------------------------------------------------------------------

int (*g_addTrampoline)(int, int);
int g_addReplacementCalls = 0;
int ReplacementAdd(int a, int b) {
  ++g_addReplacementCalls;
  return g_addTrampoline(a, b) * 10;
}

TEST_F(Hooks, TrampolineRunsTheOriginalAndThePatchComesBack) {
  const auto original = FirstBytes(reinterpret_cast<void*>(&VictimAdd));
  g_addReplacementCalls = 0;
  g_addTrampoline = reinterpret_cast<int (*)(int, int)>(
      HookCode(reinterpret_cast<void*>(&VictimAdd), reinterpret_cast<void*>(&ReplacementAdd), "VictimAdd"));
  EXPECT_EQ(Opaque(&VictimAdd)(2, 3), 50);
  EXPECT_EQ(g_addReplacementCalls, 1);
  EXPECT_EQ(g_originalCalls, 1);
  // The trampoline wrote the jump back: the next direct call reaches the replacement again.
  EXPECT_EQ(Opaque(&VictimAdd)(4, 5), 90);
  EXPECT_EQ(g_addReplacementCalls, 2);
  EXPECT_EQ(FirstBytes(reinterpret_cast<void*>(&VictimAdd))[0], 0xE9);
  // The trampoline alone runs the original.
  EXPECT_EQ(g_addTrampoline(20, 1), 21);
  EXPECT_EQ(g_addReplacementCalls, 2);

  const TCodeHookBlock* block = HookBlockOf(reinterpret_cast<void*>(g_addTrampoline));
  std::uint8_t code[sizeof block->Code];
  std::memcpy(code, block->Code, sizeof code);
  UnhookCode(HookBlockOf(reinterpret_cast<void*>(g_addTrampoline)));
  EXPECT_EQ(FirstBytes(reinterpret_cast<void*>(&VictimAdd)), original);
  // The released block keeps its code for a thread still inside, its jump is the target's own
  // bytes, and no later hook gets it.
  EXPECT_EQ(std::memcmp(block->Code, code, sizeof code), 0);
  EXPECT_EQ(std::memcmp(block->Patch, original.data(), 5), 0);
  void* again = HookCode(reinterpret_cast<void*>(&VictimAdd), reinterpret_cast<void*>(&ReplacementAdd), "VictimAdd");
  EXPECT_NE(HookBlockOf(again), block);
  UnhookCode(HookBlockOf(again));
  EXPECT_EQ(Opaque(&VictimAdd)(2, 3), 5);
  UnhookCode(nullptr);  // nothing happens
}

TEST_F(Hooks, BlockAndTrampolineAreLaidOutByteForByte) {
  const auto original = FirstBytes(reinterpret_cast<void*>(&VictimAdd));
  void* trampoline =
      HookCode(reinterpret_cast<void*>(&VictimAdd), reinterpret_cast<void*>(&ReplacementAdd), "VictimAdd");
  const TCodeHookBlock* block = HookBlockOf(trampoline);
  const auto self = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(block));
  const auto target = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&VictimAdd));
  const auto replacement = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ReplacementAdd));
  ASSERT_EQ(static_cast<const void*>(block->Code), trampoline);
  EXPECT_EQ(block->Target, target);
  EXPECT_EQ(block->Replacement, replacement);
  EXPECT_EQ(std::memcmp(block->Saved, original.data(), 5), 0);
  EXPECT_EQ(block->Patch[0], 0xE9);
  EXPECT_EQ(U32(block->Patch + 1), replacement - target - 5);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(&VictimAdd), block->Patch, 5), 0);

  const std::uint8_t* c = block->Code;
  const std::uint32_t code = self + 22;
  EXPECT_EQ(c[0], 0x50);
  EXPECT_EQ(std::memcmp(c + 1, "\x8B\x44\x24\x04", 4), 0);
  EXPECT_EQ(c[5], 0xA3);
  EXPECT_EQ(U32(c + 6), self + 8);
  EXPECT_EQ(c[10], 0x58);
  EXPECT_EQ(std::memcmp(c + 11, "\x83\xC4\x04", 3), 0);
  EXPECT_EQ(c[14], 0x68);
  EXPECT_EQ(U32(c + 15), self);
  EXPECT_EQ(c[19], 0xE8);  // RestoreTarget
  EXPECT_EQ(code + 24 + U32(c + 20), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&PelloranHookRestoreTarget)));
  EXPECT_EQ(c[24], 0xE8);
  EXPECT_EQ(code + 29 + U32(c + 25), target);
  EXPECT_EQ(c[29], 0x68);
  EXPECT_EQ(U32(c + 30), self);
  EXPECT_EQ(c[34], 0xE8);  // Reinstall
  EXPECT_EQ(code + 39 + U32(c + 35), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&PelloranHookReinstall)));
  EXPECT_EQ(c[39], 0xFF);
  EXPECT_EQ(c[40], 0x25);
  EXPECT_EQ(U32(c + 41), self + 8);
}

int(__attribute__((fastcall)) * g_fastTrampoline)(int, int);
__attribute__((fastcall)) int ReplacementFast(int a, int b) { return g_fastTrampoline(a, b) + 1; }

int(__attribute__((regparm(3))) * g_registersTrampoline)(int, int, int);
__attribute__((regparm(3))) int ReplacementRegisters(int a, int b, int c) { return -g_registersTrampoline(a, b, c); }

int(__attribute__((stdcall)) * g_stdcallTrampoline)(int, int, int);
__attribute__((stdcall)) int ReplacementStdcall(int a, int b, int c) { return g_stdcallTrampoline(a, b, c) * 2; }

double (*g_halfTrampoline)(double);
double ReplacementHalf(double x) { return g_halfTrampoline(x) + 0.25; }

TEST_F(Hooks, RegisterArgumentsStackCleanupAndFloatingResultsPassThrough) {
  g_fastTrampoline = reinterpret_cast<decltype(g_fastTrampoline)>(
      HookCode(reinterpret_cast<void*>(&VictimFast), reinterpret_cast<void*>(&ReplacementFast), "VictimFast"));
  g_registersTrampoline = reinterpret_cast<decltype(g_registersTrampoline)>(HookCode(
      reinterpret_cast<void*>(&VictimRegisters), reinterpret_cast<void*>(&ReplacementRegisters), "VictimRegisters"));
  g_stdcallTrampoline = reinterpret_cast<decltype(g_stdcallTrampoline)>(HookCode(
      reinterpret_cast<void*>(&VictimStdcall), reinterpret_cast<void*>(&ReplacementStdcall), "VictimStdcall"));
  g_halfTrampoline = reinterpret_cast<decltype(g_halfTrampoline)>(
      HookCode(reinterpret_cast<void*>(&VictimHalf), reinterpret_cast<void*>(&ReplacementHalf), "VictimHalf"));

  EXPECT_EQ(Opaque(&VictimFast)(7, 8), 709);
  EXPECT_EQ(Opaque(&VictimRegisters)(1, 2, 3), -10203);
  // Repeated stdcall calls: a stack left unbalanced by the trampoline would not survive the loop.
  for (int i = 0; i < 100; ++i) ASSERT_EQ(Opaque(&VictimStdcall)(100, i, 1), (99 - i) * 2);
  EXPECT_DOUBLE_EQ(Opaque(&VictimHalf)(5.0), 2.75);
  EXPECT_EQ(g_originalCalls, 103);
}

DWORD (*g_lastErrorTrampoline)(DWORD);
DWORD g_seenLastError = 0;
DWORD ReplacementSetsLastError(DWORD code) {
  const DWORD result = g_lastErrorTrampoline(code);
  g_seenLastError = GetLastError();  // the trampoline's own system calls must not have changed it
  return result;
}

TEST_F(Hooks, TheOriginalsLastErrorSurvivesTheTrampoline) {
  g_lastErrorTrampoline = reinterpret_cast<decltype(g_lastErrorTrampoline)>(
      HookCode(reinterpret_cast<void*>(&VictimSetsLastError), reinterpret_cast<void*>(&ReplacementSetsLastError),
               "VictimSetsLastError"));
  SetLastError(0);
  EXPECT_EQ(Opaque(&VictimSetsLastError)(1234), 1235u);
  EXPECT_EQ(g_seenLastError, 1234u);
  EXPECT_EQ(GetLastError(), 1234u);
}

// ---- exceptions through a trampoline ------------------------------------------------------------

int (*g_throwsTrampoline)(int);
int g_throwsReplacementCalls = 0;
int ReplacementThrows(int x) {
  ++g_throwsReplacementCalls;
  return g_throwsTrampoline(x) + 1;
}
int ReplacementCatches(int x) {
  ++g_throwsReplacementCalls;
  try {
    return g_throwsTrampoline(x);
  } catch (const std::runtime_error&) {
    return -1000;
  }
}

TEST_F(Hooks, ACppExceptionTravelsThroughTheTrampolineAndThePatchComesBack) {
  g_throwsReplacementCalls = 0;
  g_throwsTrampoline = reinterpret_cast<int (*)(int)>(
      HookCode(reinterpret_cast<void*>(&VictimThrows), reinterpret_cast<void*>(&ReplacementThrows), "VictimThrows"));
  EXPECT_THROW(Opaque(&VictimThrows)(-1), std::runtime_error);
  EXPECT_EQ(g_throwsReplacementCalls, 1);
  EXPECT_EQ(FirstBytes(reinterpret_cast<void*>(&VictimThrows))[0], 0xE9) << "target left unpatched";
  EXPECT_EQ(Opaque(&VictimThrows)(4), 5);
  EXPECT_EQ(g_throwsReplacementCalls, 2);
  // Thrown through the trampoline straight to a caller that called the trampoline itself.
  EXPECT_THROW(g_throwsTrampoline(-2), std::runtime_error);
  EXPECT_EQ(Opaque(&VictimThrows)(1), 2);
}

TEST_F(Hooks, AnExceptionCaughtInsideTheReplacement) {
  g_throwsReplacementCalls = 0;
  g_throwsTrampoline = reinterpret_cast<int (*)(int)>(
      HookCode(reinterpret_cast<void*>(&VictimThrows), reinterpret_cast<void*>(&ReplacementCatches), "VictimThrows"));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Opaque(&VictimThrows)(-1), -1000);
  EXPECT_EQ(Opaque(&VictimThrows)(8), 8);
  EXPECT_EQ(g_throwsReplacementCalls, 4);
}

// ---- thunks ------------------------------------------------------------------------------------------

// Executable memory holding two import thunks for VictimAdd, one of each padding style.
struct TThunks {
  TThunks() {
    memory = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    const auto slotAddress = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(memory + 64));
    const auto target = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&VictimAdd));
    std::memcpy(memory + 64, &target, 4);
    const std::uint8_t jumpStub[] = {0xFF, 0x25, 0, 0, 0, 0, 0x8B, 0xC0};
    const std::uint8_t gnu[] = {0xFF, 0x25, 0, 0, 0, 0, 0x90, 0x90};
    std::memcpy(memory, jumpStub, 8);
    std::memcpy(memory + 8, gnu, 8);
    std::memcpy(memory + 2, &slotAddress, 4);
    std::memcpy(memory + 10, &slotAddress, 4);
  }
  ~TThunks() { VirtualFree(memory, 0, MEM_RELEASE); }
  std::uint8_t* memory;
};

TEST_F(Hooks, ImportThunksStandForTheProcedureTheyJumpTo) {
  TThunks thunks;
  for (int style = 0; style < 2; ++style) {
    const std::uint8_t before[8] = {thunks.memory[8 * style], thunks.memory[8 * style + 1]};
    void* trampoline = HookCode(thunks.memory + 8 * style, reinterpret_cast<void*>(&ReplacementAdd), "thunk");
    g_addTrampoline = reinterpret_cast<int (*)(int, int)>(trampoline);
    EXPECT_EQ(HookBlockOf(trampoline)->Target, reinterpret_cast<std::uintptr_t>(&VictimAdd)) << style;
    EXPECT_EQ(thunks.memory[8 * style], before[0]) << "the thunk itself was patched";
    EXPECT_EQ(Opaque(&VictimAdd)(1, 1), 20);
    UnhookCode(HookBlockOf(trampoline));
  }
  // A thunk as replacement stands for its destination as well.
  void* trampoline = HookCode(reinterpret_cast<void*>(&VictimFast), thunks.memory + 8, "VictimFast");
  EXPECT_EQ(HookBlockOf(trampoline)->Replacement, reinterpret_cast<std::uintptr_t>(&VictimAdd));
}

std::size_t (*g_strspnTrampoline)(const char*, const char*);
int g_strspnCalls = 0;
std::size_t ReplacementStrspn(const char* s, const char* accept) {
  ++g_strspnCalls;
  return g_strspnTrampoline(s, accept);
}

TEST_F(Hooks, ThisToolchainsImportThunkLeadsToTheLibraryProcedure) {
  auto* thunk = reinterpret_cast<std::uint8_t*>(Opaque(&::strspn));
  if (!(thunk[0] == 0xFF && thunk[1] == 0x25 && thunk[6] == 0x90 && thunk[7] == 0x90))
    GTEST_SKIP() << "strspn is not reached through an import thunk in this build";
  std::uint32_t slot;
  std::memcpy(&slot, thunk + 2, 4);
  const std::uint32_t library = *reinterpret_cast<const std::uint32_t*>(slot);
  g_strspnCalls = 0;
  g_strspnTrampoline = reinterpret_cast<decltype(g_strspnTrampoline)>(
      HookCode(thunk, reinterpret_cast<void*>(&ReplacementStrspn), "msvcrt.strspn"));
  EXPECT_EQ(HookBlockOf(reinterpret_cast<void*>(g_strspnTrampoline))->Target, library);
  EXPECT_EQ(Opaque(&::strspn)("aabbc", "ab"), 4u);
  EXPECT_EQ(g_strspnCalls, 1);
}

// ---- errors -------------------------------------------------------------------------------------

TEST_F(Hooks, ErrorsCarryTheirClassesAndMessages) {
  try {
    HookCode(nullptr, reinterpret_cast<void*>(&ReplacementAdd), "Nothing.Here");
    FAIL();
  } catch (const EProcNull& e) {
    EXPECT_STREQ(e.what(), "Cannot hook a null procedure (\"Nothing.Here\").");
    EXPECT_TRUE(e.InheritsFrom("EHookError"));
  }
  // Memory that is gone cannot be patched.
  void* gone = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  VirtualFree(gone, 0, MEM_RELEASE);
  try {
    HookCode(gone, reinterpret_cast<void*>(&ReplacementAdd), "Gone");
    FAIL();
  } catch (const EHookingError& e) {
    EXPECT_STREQ(e.what(), "Cannot hook the procedure \"Gone\".");
    EXPECT_EQ(e.ClassName(), "EHookingError");
  }
  EXPECT_EQ(CodeHookCount(), 0u);
  EXPECT_EQ(hook_detail::SharedAreaMessage("C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL"),
            "Cannot hook the module \"C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL\" located into the shared-area.");
  EXPECT_EQ(ESharedArea("x").ClassName(), "ESharedArea");
}

// ---- import hooks -------------------------------------------------------------------------------------
//
// The imports hooked here are ones that nothing else in this program uses: the threading and
// run-time libraries linked into it call through the same slots, and a thread id that changed
// under them would break their locks.

WORD WINAPI FakeLanguage() { return 0x4242; }
WORD WINAPI FakeOtherLanguage() { return 0x0777; }

// Each call reads the import slot anew (within one function the compiler may keep the slot's
// value in a register across calls).
__attribute__((noinline, noipa)) WORD SystemLanguage() { return GetSystemDefaultLangID(); }
__attribute__((noinline, noipa)) WORD UserLanguage() { return GetUserDefaultLangID(); }

// The import slot that `helper` calls (or jumps) through.
std::uint32_t* SlotCalledBy(const void* helper) {
  const auto* code = static_cast<const std::uint8_t*>(helper);
  for (int i = 0; i < 48; ++i)
    if (code[i] == 0xFF && (code[i + 1] == 0x15 || code[i + 1] == 0x25))
      return *reinterpret_cast<std::uint32_t* const*>(code + i + 2);
  return nullptr;
}

std::uintptr_t ThisProgram() { return reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)); }
void* Kernel32(const char* name) { return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)); }

TEST_F(Hooks, ImportHookRedirectsThisModulesCallsThroughItsSlots) {
  void* old = Kernel32("GetSystemDefaultLangID");
  const WORD real = SystemLanguage();
  EXPECT_EQ(HookImport(ThisProgram(), old, reinterpret_cast<void*>(&FakeLanguage), false, false,
                       "kernel32.GetSystemDefaultLangID"),
            old);
  EXPECT_EQ(SystemLanguage(), 0x4242);
  EXPECT_EQ(ImportHookCount(), 1u);
  UnhookAll();
  EXPECT_EQ(SystemLanguage(), real);
}

TEST_F(Hooks, ImportHookWithoutASlotFailsAsAsked) {
  void* notImported = Kernel32("GetAtomNameW");  // this program never calls it
  ASSERT_NE(notImported, nullptr);
  EXPECT_EQ(HookImport(ThisProgram(), notImported, reinterpret_cast<void*>(&FakeLanguage), false, true, "x"), nullptr);
  try {
    HookImport(ThisProgram(), notImported, reinterpret_cast<void*>(&FakeLanguage), false, false, "kernel32.GetAtomNameW");
    FAIL();
  } catch (const EHookingError& e) {
    EXPECT_STREQ(e.what(), "Cannot hook the procedure \"kernel32.GetAtomNameW\".");
  }
  EXPECT_THROW(HookImport(ThisProgram(), nullptr, reinterpret_cast<void*>(&FakeLanguage), false, true, "null"), EProcNull);
  EXPECT_EQ(ImportHookCount(), 0u);
}

TEST_F(Hooks, ImportHookByNameLooksTheOldProcedureUp) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const WORD real = UserLanguage();
  void* old = nullptr;
  EXPECT_TRUE(HookImportByName({"no-such-module.dll", self}, "kernel32.dll", false, old,
                               reinterpret_cast<void*>(&FakeOtherLanguage), "GetUserDefaultLangID"));
  EXPECT_EQ(old, Kernel32("GetUserDefaultLangID"));
  EXPECT_EQ(UserLanguage(), 0x0777);
  UnhookAll();
  EXPECT_EQ(UserLanguage(), real);
  EXPECT_FALSE(HookImportByName({"no-such-module.dll"}, "kernel32.dll", false, old,
                                reinterpret_cast<void*>(&FakeOtherLanguage), "GetUserDefaultLangID"));
  // A library that is not loaded: no procedure to look up; quiet when asked, EProcNull otherwise.
  EXPECT_FALSE(HookImportByName({self}, "not-loaded-library.dll", true, old,
                                reinterpret_cast<void*>(&FakeOtherLanguage), "GetUserDefaultLangID"));
  EXPECT_EQ(old, nullptr);
  EXPECT_THROW(HookImportByName({self}, "not-loaded-library.dll", false, old,
                                reinterpret_cast<void*>(&FakeOtherLanguage), "GetUserDefaultLangID"),
               EProcNull);
}

// ---- hooks by name --------------------------------------------------------------------------------------

// Methods are thiscall here: the object in ecx, the callee pops the arguments.
using TRun = int(__attribute__((thiscall)) *)(THookVictim*, int);
TRun g_runTrampoline;
__attribute__((thiscall)) int ReplacementRun(THookVictim* self, int x) { return g_runTrampoline(self, x) + 1; }

TEST_F(Hooks, HookByNameFindsTheProcedureInTheDebugInformation) {
  CreateCrashModules();
  const std::uintptr_t found = FindProcByName("hooks_test.THookVictim.Run");
  ASSERT_NE(found, 0u) << "this program carries no ELDATA debug information";
  auto method = &THookVictim::Run;
  void* methodAddress;
  std::memcpy(&methodAddress, &method, sizeof methodAddress);
  EXPECT_EQ(found, reinterpret_cast<std::uintptr_t>(methodAddress));

  // thiscall: the object travels in ecx, which the trampoline leaves alone.
  void* trampoline = HookByName("hooks_test.THookVictim.Run", reinterpret_cast<void*>(&ReplacementRun));
  ASSERT_NE(trampoline, nullptr);
  g_runTrampoline = reinterpret_cast<TRun>(trampoline);
  THookVictim victim;
  const auto run = Opaque(method);
  EXPECT_EQ((victim.*run)(5), 1006);
  EXPECT_EQ(HookByName("hooks_test.THookVictim.Missing", reinterpret_cast<void*>(&ReplacementRun)), nullptr);
  DestroyCrashModules();
}

TEST_F(Hooks, HookByNameOrExportFallsBackToThePackagesExport) {
  CreateCrashModules();
  void* language = Kernel32("GetUserDefaultUILanguage");
  EXPECT_EQ(HookByNameOrExport("nothing.NoSuch", "kernel32.dll", "GetUserDefaultUILanguage", nullptr), language);
  EXPECT_EQ(HookByNameOrExport("nothing.NoSuch", "not-loaded.dll", "GetUserDefaultUILanguage", nullptr), nullptr);
  EXPECT_EQ(CodeHookCount(), 0u);
  void* trampoline = HookByNameOrExport("nothing.NoSuch", "kernel32.dll", "GetUserDefaultUILanguage",
                                        reinterpret_cast<void*>(&FakeOtherLanguage));
  EXPECT_EQ(HookBlockOf(trampoline)->Target, reinterpret_cast<std::uintptr_t>(language));
  EXPECT_EQ(reinterpret_cast<WORD(WINAPI*)()>(Opaque(language))(), 0x0777);
  // The name wins over the export.
  void* byName = HookByNameOrExport("hooks_test.VictimHalf", "kernel32.dll", "GetUserDefaultUILanguage", nullptr);
  EXPECT_EQ(byName, reinterpret_cast<void*>(&VictimHalf));
  DestroyCrashModules();
}

// ---- RestoreHook, UnhookAll -----------------------------------------------------------------------

TEST_F(Hooks, RestoreHookWritesTheJumpAgain) {
  void* trampoline = HookCode(reinterpret_cast<void*>(&VictimAdd), reinterpret_cast<void*>(&ReplacementAdd), "VictimAdd");
  const TCodeHookBlock* block = HookBlockOf(trampoline);
  hook_detail::WriteCodeBytes(block->Target, block->Saved, 5);  // as a replacement that unpatched
  EXPECT_EQ(Opaque(&VictimAdd)(1, 2), 3);
  RestoreHook(trampoline);
  g_addTrampoline = reinterpret_cast<int (*)(int, int)>(trampoline);
  EXPECT_EQ(Opaque(&VictimAdd)(1, 2), 30);
}

int (*g_outerTrampoline)(int, int);
int ReplacementOuter(int a, int b) { return g_outerTrampoline(a, b) + 1; }

TEST_F(Hooks, UnhookAllPutsEveryByteAndSlotBack) {
  void* const targets[] = {reinterpret_cast<void*>(&VictimAdd), reinterpret_cast<void*>(&VictimFast),
                           reinterpret_cast<void*>(&VictimHalf), Kernel32("GetUserDefaultUILanguage")};
  std::array<std::uint8_t, 5> before[4];
  for (int i = 0; i < 4; ++i) before[i] = FirstBytes(targets[i]);
  std::uint32_t* const slots[] = {SlotCalledBy(reinterpret_cast<void*>(&SystemLanguage)),
                                  SlotCalledBy(reinterpret_cast<void*>(&UserLanguage))};
  ASSERT_TRUE(slots[0] && slots[1]);
  const std::uint32_t slotValues[] = {*slots[0], *slots[1]};
  const WORD system = SystemLanguage(), user = UserLanguage();

  g_addTrampoline = reinterpret_cast<int (*)(int, int)>(HookCode(targets[0], reinterpret_cast<void*>(&ReplacementAdd), "a"));
  // A second hook over the first: the newest comes off first, so the original bytes win.
  g_outerTrampoline = reinterpret_cast<int (*)(int, int)>(HookCode(targets[0], reinterpret_cast<void*>(&ReplacementOuter), "b"));
  g_fastTrampoline = reinterpret_cast<decltype(g_fastTrampoline)>(HookCode(targets[1], reinterpret_cast<void*>(&ReplacementFast), "c"));
  g_halfTrampoline = reinterpret_cast<decltype(g_halfTrampoline)>(HookCode(targets[2], reinterpret_cast<void*>(&ReplacementHalf), "d"));
  HookCode(targets[3], reinterpret_cast<void*>(&FakeOtherLanguage), "e");
  HookImport(ThisProgram(), Kernel32("GetSystemDefaultLangID"), reinterpret_cast<void*>(&FakeLanguage), false, false, "f");
  // Stacked import hooks on one slot; the outer one's replacement is also in another slot.
  HookImport(ThisProgram(), Kernel32("GetUserDefaultLangID"), reinterpret_cast<void*>(&FakeOtherLanguage), false, false, "g");
  HookImport(ThisProgram(), reinterpret_cast<void*>(&FakeOtherLanguage), reinterpret_cast<void*>(&FakeLanguage), false, false, "h");
  EXPECT_EQ(Opaque(&VictimAdd)(1, 1), 21);  // outer(+1) over add(*10)
  EXPECT_EQ(UserLanguage(), 0x4242);
  EXPECT_EQ(CodeHookCount(), 5u);
  EXPECT_EQ(ImportHookCount(), 3u);

  UnhookAll();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(FirstBytes(targets[i]), before[i]) << i;
  EXPECT_EQ(*slots[0], slotValues[0]);
  EXPECT_EQ(*slots[1], slotValues[1]);
  EXPECT_EQ(SystemLanguage(), system);
  EXPECT_EQ(UserLanguage(), user);
  EXPECT_EQ(Opaque(&VictimAdd)(1, 1), 2);
}

int (*g_pageATrampoline)(int);
int (*g_pageBTrampoline)(int);
int ReplacementPageA(int a) { return g_pageATrampoline(a) * 2; }
int ReplacementPageB(int a) { return g_pageBTrampoline(a) * 3; }

DWORD PageProtection(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  VirtualQuery(address, &info, sizeof info);
  return info.Protect;
}

TEST_F(Hooks, TwoThreadsWritingCodeInOnePageLeaveItsProtectionAsItWas) {
  const void* a = reinterpret_cast<const void*>(&VictimPageA);
  const void* b = reinterpret_cast<const void*>(&VictimPageB);
  const auto page = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t{0xFFF}; };
  if (page(a) != page(b) || page(static_cast<const std::uint8_t*>(a) + 4) != page(b))
    GTEST_SKIP() << "the two victims landed in different pages";
  const DWORD protection = PageProtection(a);
  const auto beforeA = FirstBytes(a), beforeB = FirstBytes(b);
  g_pageATrampoline = reinterpret_cast<int (*)(int)>(
      HookCode(const_cast<void*>(a), reinterpret_cast<void*>(&ReplacementPageA), "VictimPageA"));
  g_pageBTrampoline = reinterpret_cast<int (*)(int)>(
      HookCode(const_cast<void*>(b), reinterpret_cast<void*>(&ReplacementPageB), "VictimPageB"));
  g_pageACalls = 0;
  g_pageBCalls = 0;
  constexpr int kCalls = 20000;
  int wrongA = 0, wrongB = 0;
  std::thread first([&] {
    for (int i = 0; i < kCalls; ++i) wrongA += Opaque(&VictimPageA)(i) != (i + 1) * 2;
  });
  std::thread second([&] {
    for (int i = 0; i < kCalls; ++i) wrongB += Opaque(&VictimPageB)(i) != (i + 2) * 3;
  });
  first.join();
  second.join();
  EXPECT_EQ(wrongA, 0);
  EXPECT_EQ(wrongB, 0);
  EXPECT_EQ(g_pageACalls, kCalls);
  EXPECT_EQ(g_pageBCalls, kCalls);

  UnhookAll();
  EXPECT_EQ(PageProtection(a), protection);
  EXPECT_EQ(FirstBytes(a), beforeA);
  EXPECT_EQ(FirstBytes(b), beforeB);
}

TEST_F(Hooks, TheLastUserRemovesTheHooks) {
  const auto before = FirstBytes(reinterpret_cast<void*>(&VictimAdd));
  HooksStart();
  HooksStart();
  HookCode(reinterpret_cast<void*>(&VictimAdd), reinterpret_cast<void*>(&ReplacementAdd), "a");
  HooksEnd();
  EXPECT_EQ(CodeHookCount(), 1u);
  HooksEnd();
  EXPECT_EQ(CodeHookCount(), 0u);
  EXPECT_EQ(FirstBytes(reinterpret_cast<void*>(&VictimAdd)), before);
}

}  // namespace
}  // namespace pelloran::crashlog
