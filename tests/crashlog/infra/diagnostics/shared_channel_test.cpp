#include "crashlog/infra/diagnostics/shared_channel.h"

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace pelloran::crashlog {
namespace {

// Each test uses its own suffix so that nothing depends on the order of the tests.
const void* const kProgram = nullptr;

TEST(SharedChannelName, ProcessIdAndModuleInUpperCaseHexThenSuffix) {
  EXPECT_EQ(SharedChannelName(0x1a2b, 0x00400000, "MODULE"), "00001A2B00400000MODULE");
  EXPECT_EQ(SharedChannelName(0xFFFFFFFF, 0x7c80abcd, "EXCEPT"), "FFFFFFFF7C80ABCDEXCEPT");
}

TEST(SharedChannelName, RunningModuleOfAProgramIsTheProgramFile) {
  EXPECT_EQ(RunningModule(), GetModuleHandleA(nullptr));
}

TEST(SharedChannel, CreatedBlockCarriesTotalSizeWordUnderTheSystemName) {
  SharedChannel channel = SharedChannel::Create("T_SIZEWORD", kProgram, 10);
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel.PayloadSize(), 10u);
  std::memcpy(channel.Payload(), "0123456789", 10);

  // Another holder opens it by the documented name and sees size word and payload.
  const std::string name = SharedChannelName(GetCurrentProcessId(),
                                             reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)),
                                             "T_SIZEWORD");
  HANDLE raw = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  ASSERT_NE(raw, nullptr);
  const auto* view = static_cast<const std::uint8_t*>(MapViewOfFile(raw, FILE_MAP_READ, 0, 0, 14));
  ASSERT_NE(view, nullptr);
  std::uint32_t total;
  std::memcpy(&total, view, 4);
  EXPECT_EQ(total, 14u);
  EXPECT_EQ(std::memcmp(view + 4, "0123456789", 10), 0);
  UnmapViewOfFile(view);
  CloseHandle(raw);
}

TEST(SharedChannel, OpenOnlyRequestForAbsentChannelCreatesNothing) {
  EXPECT_FALSE(SharedChannel::Open("T_ABSENT", kProgram));
  EXPECT_FALSE(SharedChannel::Create("T_ABSENT", kProgram, 0));
  EXPECT_FALSE(ReadSharedChannel("T_ABSENT", kProgram).has_value());
  // Still absent: the open-only requests above did not leave a block behind.
  EXPECT_FALSE(SharedChannel::Open("T_ABSENT", kProgram));
}

TEST(SharedChannel, SecondCreateOpensTheExistingBlockWithItsCreatorsSize) {
  SharedChannel first = SharedChannel::Create("T_EXISTING", kProgram, 3);
  ASSERT_TRUE(first);
  std::memcpy(first.Payload(), "abc", 3);
  EXPECT_FALSE(first.Preexisting());
  SharedChannel second = SharedChannel::Create("T_EXISTING", kProgram, 100);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second.Preexisting());
  EXPECT_EQ(second.PayloadSize(), 3u);
  EXPECT_EQ(std::memcmp(second.Payload(), "abc", 3), 0);
}

TEST(SharedChannel, DeletedChannelIsGoneWhenNoOtherHolderRemains) {
  SharedChannel channel = SharedChannel::Create("T_DELETE", kProgram, 1);
  ASSERT_TRUE(channel);
  channel.Delete();
  EXPECT_FALSE(channel);
  EXPECT_EQ(channel.PayloadSize(), 0u);
  EXPECT_FALSE(SharedChannel::Open("T_DELETE", kProgram));
}

TEST(SharedChannel, MoveTransfersOwnership) {
  SharedChannel a = SharedChannel::Create("T_MOVE", kProgram, 2);
  ASSERT_TRUE(a);
  SharedChannel b = std::move(a);
  EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): the moved-from state is part of the API
  EXPECT_TRUE(b);
  a = std::move(b);
  EXPECT_TRUE(a);
  EXPECT_TRUE(SharedChannel::Open("T_MOVE", kProgram));
}

TEST(SharedChannel, ReplaceWritesNewPayloadAndReadersSeeIt) {
  SharedChannel channel;
  const std::vector<std::uint8_t> one{0};
  ASSERT_TRUE(ReplaceSharedChannel(channel, "T_REPLACE", kProgram, one));
  EXPECT_EQ(ReadSharedChannel("T_REPLACE", kProgram), one);
  const std::vector<std::uint8_t> two{1, 2, 3, 4, 5};
  ASSERT_TRUE(ReplaceSharedChannel(channel, "T_REPLACE", kProgram, two));
  EXPECT_EQ(ReadSharedChannel("T_REPLACE", kProgram), two);
}

TEST(SharedChannel, ReplaceNeverWritesPastABlockHeldOpenElsewhere) {
  SharedChannel channel;
  ASSERT_TRUE(ReplaceSharedChannel(channel, "T_HELD", kProgram, std::vector<std::uint8_t>{7}));
  SharedChannel reader = SharedChannel::Open("T_HELD", kProgram);  // keeps the old block alive
  ASSERT_TRUE(reader);
  EXPECT_FALSE(ReplaceSharedChannel(channel, "T_HELD", kProgram, std::vector<std::uint8_t>(64, 9)));
  EXPECT_FALSE(channel);
  EXPECT_EQ(reader.PayloadSize(), 1u);
  EXPECT_EQ(reader.Payload()[0], 7);
}

TEST(SharedChannel, ChannelsAreSeparatedByModuleHandle) {
  SharedChannel ours;
  ASSERT_TRUE(ReplaceSharedChannel(ours, "T_PERMODULE", kProgram, std::vector<std::uint8_t>{1}));
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  EXPECT_FALSE(ReadSharedChannel("T_PERMODULE", kernel).has_value());
  SharedChannel theirs;
  ASSERT_TRUE(ReplaceSharedChannel(theirs, "T_PERMODULE", kernel, std::vector<std::uint8_t>{2}));
  EXPECT_EQ(ReadSharedChannel("T_PERMODULE", kProgram), std::vector<std::uint8_t>{1});
  EXPECT_EQ(ReadSharedChannel("T_PERMODULE", kernel), std::vector<std::uint8_t>{2});
}

TEST(SharedChannel, DamagedSizeWordIsRefused) {
  const std::string name = SharedChannelName(GetCurrentProcessId(),
                                             reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)),
                                             "T_DAMAGED");
  HANDLE raw = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
  ASSERT_NE(raw, nullptr);
  auto* view = static_cast<std::uint8_t*>(MapViewOfFile(raw, FILE_MAP_ALL_ACCESS, 0, 0, 8));
  ASSERT_NE(view, nullptr);
  const std::uint32_t tooLarge = 0x00100000;  // claims a megabyte in a one-page block
  std::memcpy(view, &tooLarge, 4);
  EXPECT_FALSE(SharedChannel::Open("T_DAMAGED", kProgram));
  const std::uint32_t tooSmall = 2;
  std::memcpy(view, &tooSmall, 4);
  EXPECT_FALSE(SharedChannel::Open("T_DAMAGED", kProgram));
  UnmapViewOfFile(view);
  CloseHandle(raw);
}

TEST(SharedChannel, ABlockMadeBeforeItsCreatorIsReportedEvenWhenUnusable) {
  const std::string name = SharedChannelName(GetCurrentProcessId(),
                                             reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)), "T_SQUAT");
  HANDLE squatter = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
  ASSERT_NE(squatter, nullptr);  // an all-zero block: its size word says nothing is there
  SharedChannel channel = SharedChannel::Create("T_SQUAT", kProgram, 100);
  EXPECT_FALSE(channel);
  EXPECT_TRUE(channel.Preexisting());
  CloseHandle(squatter);
}

// The token's user and integrity level, as the test reads them itself.
std::vector<std::uint8_t> TokenRecord(TOKEN_INFORMATION_CLASS kind) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<std::uint8_t> record(size);
  if (size == 0 || !GetTokenInformation(token, kind, record.data(), size, &size)) record.clear();
  CloseHandle(token);
  return record;
}

TEST(SharedChannel, OnlyTheUserOfTheProcessAtItsIntegrityLevelOrAboveMayOpenIt) {
  SharedChannel channel = SharedChannel::Create("T_SECURITY", kProgram, 4);
  ASSERT_TRUE(channel);
  const std::string name = SharedChannelName(GetCurrentProcessId(),
                                             reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)),
                                             "T_SECURITY");
  HANDLE raw = OpenFileMappingA(READ_CONTROL, FALSE, name.c_str());
  ASSERT_NE(raw, nullptr);
  PSID owner = nullptr;
  PACL dacl = nullptr, sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(raw, SE_KERNEL_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, &sacl, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(raw);

  const auto user = TokenRecord(TokenUser);
  ASSERT_FALSE(user.empty());
  PSID userSid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
  ASSERT_NE(owner, nullptr);
  EXPECT_TRUE(EqualSid(owner, userSid));

  // One entry, for the user: nobody else is let in.
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 1);
  void* entry = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &entry));
  const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&allowed->SidStart), userSid));
  EXPECT_EQ(allowed->Mask & FILE_MAP_ALL_ACCESS, static_cast<DWORD>(FILE_MAP_ALL_ACCESS));

  // The label: the process's own level, neither read nor written from below it.
  const auto level = TokenRecord(TokenIntegrityLevel);
  ASSERT_FALSE(level.empty());
  PSID levelSid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(level.data())->Label.Sid;
  ASSERT_NE(sacl, nullptr);
  ASSERT_EQ(sacl->AceCount, 1);
  ASSERT_TRUE(GetAce(sacl, 0, &entry));
  const auto* label = static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(entry);
  EXPECT_EQ(label->Header.AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
  EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&label->SidStart), levelSid));
  EXPECT_EQ(label->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP));
  LocalFree(descriptor);
}

}  // namespace
}  // namespace pelloran::crashlog
