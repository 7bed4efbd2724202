#pragma once
// Whether memory of this process may be read: the address lies in a committed region that the
// system reports readable (no guard page, no access-denied page), for the whole range. Every read
// of memory that the crash reporter does not own (stacks, code of other modules, import slots)
// is checked with these first, so that a scan over damaged or hostile memory never faults.

#include <cstddef>
#include <cstdint>

namespace pelloran::crashlog {

bool IsReadable(std::uintptr_t address, std::size_t size) noexcept;
inline bool IsReadable(const void* address, std::size_t size) noexcept {
  return IsReadable(reinterpret_cast<std::uintptr_t>(address), size);
}

// Copies `size` bytes at `address` when they are readable; false (and `out` untouched) otherwise.
bool ReadMemory(std::uintptr_t address, void* out, std::size_t size) noexcept;

// Copies `size` bytes at `address` through the system, which fails instead of faulting when the
// memory went away since it was checked. False (and `out` undefined) when not all could be read.
bool ReadOwnMemory(std::uintptr_t address, void* out, std::size_t size) noexcept;

// How many bytes from `address` on, up to `limit`, are readable without a gap.
std::size_t ReadableExtent(std::uintptr_t address, std::size_t limit) noexcept;

// The allocation base of the region holding `address` (a module's handle for its image), or 0.
std::uintptr_t AllocationBaseOf(std::uintptr_t address) noexcept;

// The same readability answers, remembered for a few regions: a stack scan asks about the same
// handful of regions (the stack, a few module images) thousands of times. Valid while the memory
// map does not change, so keep one only for the length of one scan.
class TReadableCache {
 public:
  bool IsReadable(std::uintptr_t address, std::size_t size) noexcept;
  bool Read(std::uintptr_t address, void* out, std::size_t size) noexcept;
  // Forgets every answer: after the memory map may have changed (a module was loaded or mapped).
  void Clear() noexcept;

 private:
  struct TRegion {
    std::uintptr_t Begin = 0;
    std::uintptr_t End = 0;  // exclusive; Begin == End: an empty slot
    bool Readable = false;
  };
  const TRegion* RegionOf(std::uintptr_t address) noexcept;

  static constexpr int kSlots = 16;
  TRegion regions_[kSlots];
  int next_ = 0;
};

}  // namespace pelloran::crashlog
