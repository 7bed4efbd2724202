#pragma once
// Reading memory of this process that the crash reporter does not own, after the readability
// check of readable_memory.h: single checked copies, and the caches a stack scan reads through.

#include <cstddef>
#include <cstdint>

#include "crashlog/infra/diagnostics/readable_memory.h"

namespace pelloran::crashlog {

// Copies `size` bytes at `address` when they are readable; false (and `out` untouched) otherwise.
bool ReadMemory(std::uintptr_t address, void* out, std::size_t size) noexcept;

// Copies `size` bytes at `address` under a fault frame of its own, which makes it fail instead of
// fault when the memory went away since it was checked. False (and `out` undefined) when not all
// could be read. Check readability first: a guard page must not be touched.
bool ReadOwnMemory(std::uintptr_t address, void* out, std::size_t size) noexcept;
// How many times ReadOwnMemory was called in this process (a stack scan copies each stack run and
// each page it looks into once).
std::uint32_t OwnMemoryReads() noexcept;
// The copy itself (modules_memory_guarded.cpp).
bool GuardedCopy(std::uintptr_t address, void* out, std::size_t size) noexcept;

// The allocation base of the region holding `address` (a module's handle for its image), or 0.
std::uintptr_t AllocationBaseOf(std::uintptr_t address) noexcept;

// The same readability answers, remembered for a few regions: a stack scan asks about the same
// handful of regions (the stack, a few module images) thousands of times. Valid while the memory
// map does not change, so keep one only for the length of one scan.
class TReadableCache {
 public:
  bool IsReadable(std::uintptr_t address, std::size_t size) noexcept;
  bool Read(std::uintptr_t address, void* out, std::size_t size) noexcept;
  // Where the unreadable memory that holds `address` ends: its region's end, or the next page's
  // start when the system knows no region there. `address` itself when it is readable.
  std::uint64_t UnreadableEnd(std::uintptr_t address) noexcept;
  // Forgets every answer: after the memory map may have changed (a module was loaded or mapped).
  void Clear() noexcept;

 private:
  struct TRegion {
    std::uintptr_t Begin = 0;
    std::uintptr_t End = 0;  // exclusive; Begin == End: an empty slot
    bool Readable = false;
  };
  const TRegion* RegionOf(std::uintptr_t address) noexcept;

  static constexpr int kSlots = 64;
  TRegion regions_[kSlots];
  int next_ = 0;
};

constexpr std::uintptr_t kPageSize = 0x1000;

// The memory one stack scan reads, copied at most once: the stack in runs of
// up to kRunPages whole pages (one read for a run of readable pages), and every other page the
// scan looks into (code before a return address, a call's target, an import slot) whole, on
// first use. Readability is checked before each copy, so guard pages stay untouched; a page that
// went away since its check fails to copy instead of faulting, and counts as unreadable. The
// copies are as old as the scan: keep one only for the length of one scan.
class TScanMemory {
 public:
  TScanMemory();
  ~TScanMemory();
  TScanMemory(const TScanMemory&) = delete;
  TScanMemory& operator=(const TScanMemory&) = delete;

  // The first 4-byte slot at `slot`, `slot` + 4, ... up to `last` whose bytes are readable, with
  // its value; a value above `last` when there is none.
  std::uint64_t NextSlot(std::uint64_t slot, std::uint64_t last, std::uint32_t& value) noexcept;
  bool IsReadable(std::uintptr_t address, std::size_t size) noexcept { return regions_.IsReadable(address, size); }
  // Copies `size` bytes at `address` when every page they touch is readable and copied.
  bool Read(std::uintptr_t address, void* out, std::size_t size) noexcept;
  // Forgets every answer and copy: after the memory map may have changed.
  void Clear() noexcept;

  static constexpr int kRunPages = 16;
  // A scan that looks into more pages than this starts its page copies afresh.
  static constexpr int kPageSlots = 256;

 private:
  struct TPage {
    std::uintptr_t Address = 0;
    bool Copied = false;  // false: the copy failed
  };
  void LoadRun(std::uintptr_t firstPage, std::uint64_t end) noexcept;
  // The copy of [address, address + size) from the stack run, or null when not all of it is there.
  const std::uint8_t* RunBytes(std::uint64_t address, std::size_t size) const noexcept;
  // The copy of the page at `page` (from the run or a page slot), made on first use; null when
  // the page is not readable or its copy failed.
  const std::uint8_t* Page(std::uintptr_t page) noexcept;
  void ForgetPages() noexcept;

  TReadableCache regions_;
  // kRunPages pages for the stack run, then kPageSlots single pages; outside the heap, which
  // may be what the error damaged. Null when it could not be had: every read then goes to the
  // system on its own.
  std::uint8_t* buffer_;
  std::uintptr_t runStart_ = 0;
  int runPages_ = 0;
  bool runCopied_[kRunPages] = {};
  TPage pages_[kPageSlots];
  int usedPages_ = 0;
  // Open addressing by page number, twice as many places as slots: slot + 1, 0 for a free place.
  static constexpr int kIndexSize = 2 * kPageSlots;
  std::uint16_t index_[kIndexSize] = {};
};

}  // namespace pelloran::crashlog
