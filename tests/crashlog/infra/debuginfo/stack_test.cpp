// StackScan against the same rules applied slot by slot, with a fresh readability check before
// every read, over memory that does not change during the scans: a copy of this thread's stack,
// and a stack with holes, guard and no-access pages, slots across page boundaries and return
// addresses into more code pages than the scan keeps copies of. And how often the scan goes to
// the system for memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/debuginfo/stack.h"

namespace pelloran::crashlog {
namespace {

std::uint32_t U32(const std::uint8_t* p) {
  std::uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

// The scan's rules, one slot at a time, each read checked on its own.
TCrashStackList ScanSlotBySlot(TCrashModulesList& modules, std::uintptr_t low, std::uintptr_t high) {
  TCrashStackList list;
  for (std::uint64_t p = low; p <= high; p += 4) {
    std::uint32_t v = 0;
    if (!ReadMemory(static_cast<std::uintptr_t>(p), &v, 4) || v < 7) continue;
    std::uint8_t b[7];
    if (!ReadMemory(v - 7, b, sizeof b)) continue;
    const TCallSite call = RecogniseCall(b);
    if (call.Size == 0) continue;
    std::uint32_t pointed = 0;
    if (call.ThroughPointer && !ReadMemory(U32(b + 3), &pointed, 4)) continue;
    if (call.Relative) {
      std::uintptr_t target = v + U32(b + 3);
      std::uint8_t code[8];
      if (IsReadable(target, 1)) {
        if (ReadMemory(target, code, 8) && code[0] == 0xFF && code[1] == 0x25 &&
            ((code[6] == 0x8B && code[7] == 0xC0) || (code[6] == 0x90 && code[7] == 0x90)) &&
            ReadMemory(U32(code + 2), &pointed, 4))
          target = pointed;
        if (ReadMemory(target, code, 5) && code[0] != 0xE8) list.push_back(modules.GetLocation(target));
      }
    }
    list.push_back(modules.GetLocation(v - call.Size));
  }
  return list;
}

std::string Describe(const TCrashStackList& list) {
  std::string text;
  char line[64];
  for (const TCrashDebugInfo& e : list) {
    std::snprintf(line, sizeof line, "%08x kind %d ", static_cast<unsigned>(e.Address), e.LocationKind);
    text += line + e.UnitName + ":" + std::to_string(e.Line) + " " + e.ClassName + "." + e.ProcedureName + "\n";
  }
  return text;
}

void ExpectSameList(const TCrashStackList& scanned, const TCrashStackList& expected) {
  bool same = scanned.size() == expected.size();
  for (std::size_t i = 0; same && i < scanned.size(); ++i) {
    const TCrashDebugInfo &a = scanned[i], &b = expected[i];
    same = a.Address == b.Address && a.LocationKind == b.LocationKind && a.Module == b.Module &&
           a.UnitName == b.UnitName && a.ClassName == b.ClassName && a.ProcedureName == b.ProcedureName &&
           a.Line == b.Line;
  }
  EXPECT_TRUE(same) << "StackScan:\n" << Describe(scanned) << "slot by slot:\n" << Describe(expected);
}

// Reserved address space whose pages are committed one by one.
class TPages {
 public:
  explicit TPages(int count) : count_(count) {
    base_ = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, Size(), MEM_RESERVE, PAGE_NOACCESS));
  }
  ~TPages() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  TPages(const TPages&) = delete;
  TPages& operator=(const TPages&) = delete;

  bool Commit(int page, DWORD protection) {
    return VirtualAlloc(base_ + page * kPageSize, kPageSize, MEM_COMMIT, protection) != nullptr;
  }
  bool Protect(int page, DWORD protection) {
    DWORD previous;
    return VirtualProtect(base_ + page * kPageSize, kPageSize, protection, &previous) != 0;
  }
  std::uint8_t* At(int page, std::size_t offset = 0) const { return base_ + page * kPageSize + offset; }
  std::uintptr_t Address(int page, std::size_t offset = 0) const { return reinterpret_cast<std::uintptr_t>(At(page, offset)); }
  std::size_t Size() const { return count_ * kPageSize; }
  bool Ok() const { return base_ != nullptr; }

 private:
  int count_;
  std::uint8_t* base_ = nullptr;
};

void Put(std::uint8_t* at, std::initializer_list<std::uint8_t> bytes) { std::memcpy(at, bytes.begin(), bytes.size()); }
void PutU32(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, 4); }
std::uint32_t Rel32(std::uintptr_t callEnd, std::uintptr_t target) { return static_cast<std::uint32_t>(target - callEnd); }

class Scan : public ::testing::Test {
 protected:
  void SetUp() override {
    modules_ = &CreateCrashModules();
    modules_->FindModule(reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
  }
  void TearDown() override { DestroyCrashModules(); }
  TCrashModulesList* modules_ = nullptr;
};

TEST_F(Scan, ACopyOfThisThreadsStackGivesTheSameListAsSlotBySlot) {
  std::uintptr_t sp, stackBase;
  asm volatile("movl %%esp, %0" : "=r"(sp));
  asm volatile("movl %%fs:4, %0" : "=r"(stackBase));  // NT_TIB.StackBase
  std::vector<std::uint32_t> copy((stackBase - sp) / 4);
  std::memcpy(copy.data(), reinterpret_cast<const void*>(sp), copy.size() * 4);
  // Only values that point behind read-only code or data of a module stay: the bytes behind the
  // others (this stack, the heap, writable data) may change between the two scans.
  for (std::uint32_t& value : copy) {
    MEMORY_BASIC_INFORMATION info;
    const bool fixed = value >= 7 && VirtualQuery(reinterpret_cast<const void*>(value - 1), &info, sizeof info) &&
                       info.State == MEM_COMMIT && info.Type == MEM_IMAGE &&
                       (info.Protect == PAGE_EXECUTE_READ || info.Protect == PAGE_READONLY);
    if (!fixed) value = 0;
  }
  const auto low = reinterpret_cast<std::uintptr_t>(copy.data());
  const auto high = low + 4 * (copy.size() - 1);
  // The first scan registers the modules it meets (forgetting its copies each time), the
  // slot-by-slot one finds them registered.
  const TCrashStackList scanned = StackScan(*modules_, 0, low, high);
  const TCrashStackList expected = ScanSlotBySlot(*modules_, low, high);
  EXPECT_GE(expected.size(), 3u);
  ExpectSameList(scanned, expected);
  ExpectSameList(StackScan(*modules_, 0, low, high), expected);
}

TEST_F(Scan, HolesPageEdgesAndManyCodePagesGiveTheSameListAsSlotBySlot) {
  // Code: 48 pages (more than the scan keeps copies of), page 20 reserved only. Each page holds
  // a direct call to the next page, a call through a pointer, and a direct call whose bytes
  // start on the page before.
  constexpr int kCodePages = 48, kHole = 20;
  TPages code(kCodePages);
  ASSERT_TRUE(code.Ok());
  std::vector<std::uint32_t> values;
  for (int page = 0; page < kCodePages; ++page) {
    if (page == kHole) continue;
    ASSERT_TRUE(code.Commit(page, PAGE_EXECUTE_READWRITE));
  }
  for (int page = 0; page < kCodePages; ++page) {
    if (page == kHole) continue;
    std::memset(code.At(page), 0x90, kPageSize);
    Put(code.At(page, 0x100), {0x55, 0x89, 0xE5, 0x5D, 0xC3});  // a procedure the calls lead to
    const int next = (page + 1) % kCodePages;
    Put(code.At(page, 0x800), {0xE8});
    PutU32(code.At(page, 0x801), Rel32(code.Address(page, 0x805), code.Address(next, 0x100)));
    values.push_back(static_cast<std::uint32_t>(code.Address(page, 0x805)));
    Put(code.At(page, 0x900), {0xFF, 0x15});  // call [pointer at 0x910], into this page or the hole
    PutU32(code.At(page, 0x902), static_cast<std::uint32_t>(page % 3 ? code.Address(page, 0x910) : code.Address(kHole, 0x10)));
    values.push_back(static_cast<std::uint32_t>(code.Address(page, 0x906)));
    if (page > 0) {  // E8 two bytes before this page starts: its bytes cross from the page before
      if (page - 1 != kHole) {
        Put(code.At(page - 1, kPageSize - 2), {0xE8, 0});
        Put(code.At(page), {0, 0, 0});
      }
      values.push_back(static_cast<std::uint32_t>(code.Address(page, 3)));
    }
  }
  values.push_back(0);
  values.push_back(6);
  values.push_back(0xFFFFFFFF);
  values.push_back(static_cast<std::uint32_t>(code.Address(kHole, 0x40)));  // into the code's hole

  // Stack: 40 pages, with more readable pages in a row than one run holds; page 22 reserved
  // only, 23 a guard page, 34 no access. Two slots of three hold a value, the third 0.
  constexpr int kStackPages = 40, kStackHole = 22, kGuard = 23, kNoAccess = 34;
  static_assert(kStackHole > TScanMemory::kRunPages);
  TPages stack(kStackPages);
  ASSERT_TRUE(stack.Ok());
  for (int page = 0; page < kStackPages; ++page) {
    if (page == kStackHole) continue;
    ASSERT_TRUE(stack.Commit(page, PAGE_READWRITE));
  }
  values.push_back(static_cast<std::uint32_t>(stack.Address(3, 0x40)));           // into the stack itself
  values.push_back(static_cast<std::uint32_t>(stack.Address(kStackHole, 0x40)));  // into its hole

  for (std::size_t offset : {0u, 2u}) {  // at 2, slots cross the page edges
    ASSERT_TRUE(stack.Protect(kGuard, PAGE_READWRITE));
    ASSERT_TRUE(stack.Protect(kNoAccess, PAGE_READWRITE));
    std::size_t next = 0;
    for (std::size_t at = offset; at + 4 <= stack.Size(); at += 4) {
      if (at / kPageSize == kStackHole || (at + 3) / kPageSize == kStackHole) continue;
      PutU32(stack.At(0, at), (at / 4) % 3 == 2 ? 0 : values[next++ % values.size()]);
    }
    ASSERT_TRUE(stack.Protect(kGuard, PAGE_READWRITE | PAGE_GUARD));
    ASSERT_TRUE(stack.Protect(kNoAccess, PAGE_NOACCESS));

    const std::uintptr_t low = stack.Address(0, offset), high = stack.Address(kStackPages - 1, kPageSize - 4 - offset);
    const TCrashStackList scanned = StackScan(*modules_, 0, low, high);
    const TCrashStackList expected = ScanSlotBySlot(*modules_, low, high);
    EXPECT_GT(expected.size(), 1000u);
    ExpectSameList(scanned, expected);
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(stack.At(kGuard), &info, sizeof info);
    EXPECT_TRUE(info.Protect & PAGE_GUARD) << "the scan touched the guard page";
  }
}

TEST_F(Scan, EachStackRunAndEachCodePageIsReadOnce) {
  // Three stack pages full of one return address, behind a direct call to a procedure on the
  // same code page.
  TPages code(1), stack(3);
  ASSERT_TRUE(code.Ok() && stack.Ok());
  ASSERT_TRUE(code.Commit(0, PAGE_EXECUTE_READWRITE));
  std::memset(code.At(0), 0x90, kPageSize);
  Put(code.At(0, 0x100), {0x55, 0x89, 0xE5, 0x5D, 0xC3});
  Put(code.At(0, 0x800), {0xE8});
  PutU32(code.At(0, 0x801), Rel32(code.Address(0, 0x805), code.Address(0, 0x100)));
  for (int page = 0; page < 3; ++page) ASSERT_TRUE(stack.Commit(page, PAGE_READWRITE));
  for (std::size_t at = 0; at < stack.Size(); at += 4) PutU32(stack.At(0, at), static_cast<std::uint32_t>(code.Address(0, 0x805)));

  const std::uint32_t before = OwnMemoryReads();
  const TCrashStackList list = StackScan(*modules_, 0, stack.Address(0), stack.Address(2, kPageSize - 4));
  const std::uint32_t reads = OwnMemoryReads() - before;
  ASSERT_EQ(list.size(), 2 * stack.Size() / 4);  // per slot: the procedure called, then the call
  EXPECT_EQ(list[0].Address, code.Address(0, 0x100));
  EXPECT_EQ(list[1].Address, code.Address(0, 0x800));
  EXPECT_EQ(reads, 2u) << "one read for the three stack pages, one for the code page";
}

}  // namespace
}  // namespace pelloran::crashlog
