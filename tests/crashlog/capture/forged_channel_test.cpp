// Somebody who knows the channel's name makes the EXCEPT block of a program before the program
// does (it is started suspended), and keeps rewriting the type and message of every raise
// published there, thread and address kept, so that they would pass for the raise reported. The
// reporter does not trust a block it did not make: its report shows the real type and message.

#include <windows.h>

#include <winternl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "runtime/scoped_handle.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"

namespace pelloran::crashlog {
namespace {

using pelloran::testing::FileExists;
using pelloran::testing::ReadWholeFile;
using pelloran::testing::SiblingProgram;

// The load address of a process's program, from its process environment block (the process may
// not have run a single instruction of its own yet).
std::uintptr_t ProgramBaseOf(HANDLE process) {
  using TQuery = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION basic{};
  if (query == nullptr || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return 0;
  std::uint32_t base = 0;  // PEB.ImageBaseAddress
  if (!ReadProcessMemory(process, reinterpret_cast<const std::uint8_t*>(basic.PebBaseAddress) + 8, &base, sizeof base,
                         nullptr))
    return 0;
  return base;
}

// The forger's side of the block: it follows the channel's own rules (a sequence word at the end,
// odd while written), so its payload is read whole.
class TForgedBlock {
 public:
  TForgedBlock(DWORD processId, std::uintptr_t module) {
    const std::string name = SharedChannelName(processId, module, kExceptChannel);
    handle_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kExceptChannelSize, name.c_str()));
    if (!handle_) return;
    view_ = static_cast<std::uint8_t*>(MapViewOfFile(handle_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view_ == nullptr) return;
    const std::uint32_t total = kExceptChannelSize;
    std::memcpy(view_, &total, sizeof total);
  }
  ~TForgedBlock() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
  }
  bool Made() const { return view_ != nullptr; }

  // Rewrites a raise published by somebody else with the forged texts; true when it did.
  bool Forge(std::uint32_t threadId = 0, std::uint32_t address = 0) {
    auto* sequence = reinterpret_cast<volatile LONG*>(view_ + kExceptChannelSize - 4);
    const LONG even = *sequence & ~1L;
    if (InterlockedCompareExchange(sequence, even + 1, even) != even) return false;
    std::uint8_t* payload = view_ + 4;
    const auto published = DecodeExceptPayload(std::span<const std::uint8_t>(payload, 4096));
    bool forged = false;
    if (threadId != 0 || (published && published->ClassName != "EForged")) {
      if (published && threadId == 0) {
        threadId = published->ThreadId;
        address = published->Address;
      }
      WriteExceptPayload(std::span<std::uint8_t>(payload, 4096), "EForged", "A forged message", threadId, address);
      forged = true;
    }
    InterlockedExchange(sequence, even + 2);
    return forged;
  }

 private:
  ScopedKernelHandle handle_;
  std::uint8_t* view_ = nullptr;
};

TEST(ForgedExceptChannel, TheReportShowsTheRealTypeAndMessage) {
  const std::string program = SiblingProgram("crashlog_forged_target.exe");
  const std::string log = SiblingProgram("crashlog_forged_target.elf");
  DeleteFileA(log.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = "\"" + program + "\"";
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &startup, &info));
  ScopedKernelHandle process(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  const std::uintptr_t base = ProgramBaseOf(process.get());
  ASSERT_NE(base, 0u);
  TForgedBlock block(info.dwProcessId, base);
  ASSERT_TRUE(block.Made());
  block.Forge(info.dwThreadId, 0);
  ResumeThread(thread.get());

  // Every raise the program publishes is rewritten as soon as it is seen.
  int forgeries = 0;
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT && GetTickCount() - start < 60000) {
    if (block.Forge()) ++forgeries;
    YieldProcessor();
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.get(), &exitCode);
  EXPECT_EQ(exitCode, 1u);
  // The reporter wrote nothing into the block that was not its own.
  EXPECT_EQ(forgeries, 0);

  ASSERT_TRUE(FileExists(log));
  const std::string report = ReadWholeFile(log);
  DeleteFileA(log.c_str());
  EXPECT_NE(report.find("EInOutError\r\n"), std::string::npos) << report;
  EXPECT_NE(report.find("The catalogue is missing.\r\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("EForged"), std::string::npos) << report;
  EXPECT_EQ(report.find("forged message"), std::string::npos) << report;
}

}  // namespace
}  // namespace pelloran::crashlog
