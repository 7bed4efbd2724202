#pragma once
// Whether memory of this process may be read: the address lies in a committed region of an
// allocation (a non-zero allocation base) that the system reports readable (no guard page, no
// access-denied page), for the whole range. Every read of memory that the crash reporter does not
// own (stacks, code of other modules, import slots, the bytes at a faulting address) is checked
// with these first, so that a scan over damaged or hostile memory never faults.

#include <cstddef>
#include <cstdint>

namespace pelloran::crashlog {

// One region of the memory map, as the system reports it.
struct TMemoryRegion {
  std::uintptr_t Begin = 0;
  std::uintptr_t End = 0;  // Begin + size; 0 when the region reaches the top of the address space
  bool Readable = false;
};
// The region that holds `address`; false when the system knows none.
bool QueryMemoryRegion(std::uintptr_t address, TMemoryRegion& region) noexcept;

// The end of the range a readability question asks about (a size of 0 asks about the byte at
// `address`); false when the range wraps past the top of the address space.
inline bool ReadableRangeEnd(std::uintptr_t address, std::size_t size, std::uintptr_t& end) noexcept {
  end = address + (size == 0 ? 1 : size);
  return end > address;
}

// A size of 0 asks about the byte at `address`.
bool IsReadable(std::uintptr_t address, std::size_t size) noexcept;
inline bool IsReadable(const void* address, std::size_t size) noexcept {
  return IsReadable(reinterpret_cast<std::uintptr_t>(address), size);
}

// How many bytes from `address` on, up to `limit`, are readable without a gap.
std::size_t ReadableExtent(std::uintptr_t address, std::size_t limit) noexcept;

}  // namespace pelloran::crashlog
