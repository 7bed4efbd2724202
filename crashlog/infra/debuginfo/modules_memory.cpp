#include "crashlog/infra/debuginfo/modules_memory.h"

#include <windows.h>

#include <cstring>

namespace pelloran::crashlog {

namespace {

constexpr DWORD kReadableProtection = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                      PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

bool QueryRegion(std::uintptr_t address, MEMORY_BASIC_INFORMATION& info) noexcept {
  return VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == sizeof info;
}

bool RegionReadable(const MEMORY_BASIC_INFORMATION& info) noexcept {
  return info.AllocationBase != nullptr && info.State == MEM_COMMIT && (info.Protect & kReadableProtection) != 0 &&
         (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0;
}

bool RangeEnd(std::uintptr_t address, std::size_t size, std::uintptr_t& end) noexcept {
  if (size == 0) size = 1;
  end = address + size;
  return end > address;  // no wrap past the top of the address space
}

}  // namespace

bool IsReadable(std::uintptr_t address, std::size_t size) noexcept {
  std::uintptr_t end;
  if (!RangeEnd(address, size, end)) return false;
  for (std::uintptr_t at = address; at < end;) {
    MEMORY_BASIC_INFORMATION info;
    if (!QueryRegion(at, info) || !RegionReadable(info)) return false;
    const std::uintptr_t regionEnd = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (regionEnd <= at) return false;
    at = regionEnd;
  }
  return true;
}

bool ReadMemory(std::uintptr_t address, void* out, std::size_t size) noexcept {
  if (!IsReadable(address, size)) return false;
  std::memcpy(out, reinterpret_cast<const void*>(address), size);
  return true;
}

bool ReadOwnMemory(std::uintptr_t address, void* out, std::size_t size) noexcept {
  SIZE_T copied = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), out, size, &copied) &&
         copied == size;
}

std::size_t ReadableExtent(std::uintptr_t address, std::size_t limit) noexcept {
  std::uintptr_t at = address;
  while (at - address < limit) {
    MEMORY_BASIC_INFORMATION info;
    if (!QueryRegion(at, info) || !RegionReadable(info)) break;
    const std::uintptr_t regionEnd = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (regionEnd <= at) break;
    at = regionEnd;
  }
  return at - address < limit ? at - address : limit;
}

std::uintptr_t AllocationBaseOf(std::uintptr_t address) noexcept {
  MEMORY_BASIC_INFORMATION info;
  if (!QueryRegion(address, info)) return 0;
  return reinterpret_cast<std::uintptr_t>(info.AllocationBase);
}

const TReadableCache::TRegion* TReadableCache::RegionOf(std::uintptr_t address) noexcept {
  for (const auto& r : regions_)
    if (address >= r.Begin && address < r.End) return &r;
  MEMORY_BASIC_INFORMATION info;
  if (!QueryRegion(address, info)) return nullptr;
  TRegion& slot = regions_[next_];
  next_ = (next_ + 1) % kSlots;
  slot.Begin = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
  slot.End = slot.Begin + info.RegionSize;
  slot.Readable = RegionReadable(info);
  if (slot.End <= address) {  // a region that does not hold the address: answer, keep nothing
    slot.End = slot.Begin;
    return nullptr;
  }
  return &slot;
}

bool TReadableCache::IsReadable(std::uintptr_t address, std::size_t size) noexcept {
  std::uintptr_t end;
  if (!RangeEnd(address, size, end)) return false;
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

void TReadableCache::Clear() noexcept {
  for (auto& r : regions_) r = TRegion{};
  next_ = 0;
}

}  // namespace pelloran::crashlog
