#include "crashlog/infra/debuginfo/modules_memory.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

namespace pelloran::crashlog {

namespace {

std::atomic<std::uint32_t> ownMemoryReads{0};

constexpr std::uint64_t kAddressSpaceEnd = std::uint64_t{1} << 32;

std::uint64_t PageOf(std::uint64_t address) noexcept { return address & ~std::uint64_t{kPageSize - 1}; }

// The next stack slot after `slot` (4 bytes on, and on) that does not start before `target`.
std::uint64_t SlotAtOrAfter(std::uint64_t slot, std::uint64_t target) noexcept {
  return target <= slot ? slot + 4 : slot + (target - slot + 3) / 4 * 4;
}

}  // namespace

bool ReadMemory(std::uintptr_t address, void* out, std::size_t size) noexcept {
  if (!IsReadable(address, size)) return false;
  std::memcpy(out, reinterpret_cast<const void*>(address), size);
  return true;
}

bool ReadOwnMemory(std::uintptr_t address, void* out, std::size_t size) noexcept {
  ownMemoryReads.fetch_add(1, std::memory_order_relaxed);
  return GuardedCopy(address, out, size);
}

std::uint32_t OwnMemoryReads() noexcept { return ownMemoryReads.load(std::memory_order_relaxed); }

std::uintptr_t AllocationBaseOf(std::uintptr_t address) noexcept {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) != sizeof info) return 0;
  return reinterpret_cast<std::uintptr_t>(info.AllocationBase);
}

const TReadableCache::TRegion* TReadableCache::RegionOf(std::uintptr_t address) noexcept {
  for (const auto& r : regions_)
    if (address >= r.Begin && address < r.End) return &r;
  TMemoryRegion region;
  if (!QueryMemoryRegion(address, region)) return nullptr;
  TRegion& slot = regions_[next_];
  next_ = (next_ + 1) % kSlots;
  slot.Begin = region.Begin;
  slot.End = region.End;
  slot.Readable = region.Readable;
  if (slot.End <= address) {  // a region that does not hold the address: answer, keep nothing
    slot.End = slot.Begin;
    return nullptr;
  }
  return &slot;
}

bool TReadableCache::IsReadable(std::uintptr_t address, std::size_t size) noexcept {
  std::uintptr_t end;
  if (!ReadableRangeEnd(address, size, end)) return false;
  for (std::uintptr_t at = address; at < end;) {
    const TRegion* region = RegionOf(at);
    if (!region || !region->Readable) return false;
    at = region->End;
  }
  return true;
}

bool TReadableCache::Read(std::uintptr_t address, void* out, std::size_t size) noexcept {
  // The check keeps guard pages untouched; the read itself still fails rather than faults.
  return IsReadable(address, size) && ReadOwnMemory(address, out, size);
}

std::uint64_t TReadableCache::UnreadableEnd(std::uintptr_t address) noexcept {
  const TRegion* region = RegionOf(address);
  if (!region) return PageOf(address) + kPageSize;
  return region->Readable ? address : region->End;
}

void TReadableCache::Clear() noexcept {
  for (auto& r : regions_) r = TRegion{};
  next_ = 0;
}

// ---- TScanMemory ----------------------------------------------------------------------------------

TScanMemory::TScanMemory()
    : buffer_(static_cast<std::uint8_t*>(
          VirtualAlloc(nullptr, (kRunPages + kPageSlots) * kPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))) {}

TScanMemory::~TScanMemory() {
  if (buffer_) VirtualFree(buffer_, 0, MEM_RELEASE);
}

void TScanMemory::Clear() noexcept {
  regions_.Clear();
  runPages_ = 0;
  ForgetPages();
}

void TScanMemory::ForgetPages() noexcept {
  usedPages_ = 0;
  std::fill(std::begin(index_), std::end(index_), std::uint16_t{0});
}

void TScanMemory::LoadRun(std::uintptr_t firstPage, std::uint64_t end) noexcept {
  runStart_ = firstPage;
  runPages_ = 0;
  for (std::uint64_t page = firstPage; runPages_ < kRunPages && page < end && page < kAddressSpaceEnd &&
                                       regions_.IsReadable(static_cast<std::uintptr_t>(page), kPageSize);
       page += kPageSize)
    ++runPages_;
  if (runPages_ == 0) return;
  if (ReadOwnMemory(firstPage, buffer_, runPages_ * kPageSize)) {
    std::fill_n(runCopied_, runPages_, true);
    return;
  }
  // Part of the run went away since it was checked: keep the pages that still copy.
  for (int i = 0; i < runPages_; ++i)
    runCopied_[i] = ReadOwnMemory(firstPage + i * kPageSize, buffer_ + i * kPageSize, kPageSize);
}

const std::uint8_t* TScanMemory::RunBytes(std::uint64_t address, std::size_t size) const noexcept {
  const std::uint64_t runEnd = std::uint64_t{runStart_} + runPages_ * kPageSize;
  if (address < runStart_ || address + size > runEnd) return nullptr;
  const std::uint64_t offset = address - runStart_;
  for (std::uint64_t page = offset / kPageSize; page <= (offset + size - 1) / kPageSize; ++page)
    if (!runCopied_[page]) return nullptr;
  return buffer_ + offset;
}

std::uint64_t TScanMemory::NextSlot(std::uint64_t slot, std::uint64_t last, std::uint32_t& value) noexcept {
  while (slot <= last) {
    if (!buffer_) {
      if (regions_.Read(static_cast<std::uintptr_t>(slot), &value, 4)) return slot;
      slot += 4;
      continue;
    }
    if (const std::uint8_t* bytes = RunBytes(slot, 4)) {
      std::memcpy(&value, bytes, 4);
      return slot;
    }
    const std::uint64_t page = PageOf(slot);
    const std::uint64_t runEnd = std::uint64_t{runStart_} + runPages_ * kPageSize;
    if (page >= runStart_ && page < runEnd) {
      if (!runCopied_[(page - runStart_) / kPageSize]) {
        slot = SlotAtOrAfter(slot, page + kPageSize);
        continue;
      }
      if (page + kPageSize < runEnd) {  // runs into the next page, whose copy failed
        slot += 4;
        continue;
      }
    }
    // Outside the run, or running over its end: a new run from this slot's page.
    LoadRun(static_cast<std::uintptr_t>(page), last + 4);
    if (runPages_ == 0) {
      slot = SlotAtOrAfter(slot, regions_.UnreadableEnd(static_cast<std::uintptr_t>(page)));
      continue;
    }
    if (const std::uint8_t* bytes = RunBytes(slot, 4)) {
      std::memcpy(&value, bytes, 4);
      return slot;
    }
    slot += 4;  // its last bytes lie on a page that cannot be read
  }
  return slot;
}

const std::uint8_t* TScanMemory::Page(std::uintptr_t page) noexcept {
  if (const std::uint8_t* run = RunBytes(page, kPageSize)) return run;
  static_assert(kIndexSize == 512, "the place is the top 9 bits of a multiplicative hash");
  auto place = [](std::uintptr_t at) {
    return static_cast<int>((static_cast<std::uint32_t>(at / kPageSize) * 2654435761u) >> 23);
  };
  auto copyOf = [&](int slot) { return pages_[slot].Copied ? buffer_ + (kRunPages + slot) * kPageSize : nullptr; };
  int at = place(page);
  for (; index_[at] != 0; at = (at + 1) % kIndexSize)
    if (pages_[index_[at] - 1].Address == page) return copyOf(index_[at] - 1);
  if (!regions_.IsReadable(page, kPageSize)) return nullptr;
  if (usedPages_ == kPageSlots) {
    ForgetPages();
    at = place(page);
  }
  const int slot = usedPages_++;
  pages_[slot].Address = page;
  pages_[slot].Copied = ReadOwnMemory(page, buffer_ + (kRunPages + slot) * kPageSize, kPageSize);
  index_[at] = static_cast<std::uint16_t>(slot + 1);
  return copyOf(slot);
}

bool TScanMemory::Read(std::uintptr_t address, void* out, std::size_t size) noexcept {
  if (!buffer_) return regions_.Read(address, out, size);
  if (size == 0) return regions_.IsReadable(address, 1);
  const std::uint64_t end = std::uint64_t{address} + size;
  if (end > kAddressSpaceEnd) return false;
  auto* to = static_cast<std::uint8_t*>(out);
  for (std::uint64_t at = address; at < end;) {
    const std::uint64_t page = PageOf(at);
    const std::uint8_t* copy = Page(static_cast<std::uintptr_t>(page));
    if (!copy) return false;
    const std::uint64_t n = std::min(end, page + kPageSize) - at;
    std::memcpy(to, copy + (at - page), n);
    to += n;
    at += n;
  }
  return true;
}

}  // namespace pelloran::crashlog
