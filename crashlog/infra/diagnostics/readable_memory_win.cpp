#include "crashlog/infra/diagnostics/readable_memory.h"

#include <windows.h>

namespace pelloran::crashlog {

namespace {

constexpr DWORD kReadableProtection = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                      PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Memory outside any allocation is never readable, whatever protection the system reports for it.
bool RegionReadable(const MEMORY_BASIC_INFORMATION& info) noexcept {
  return info.AllocationBase != nullptr && info.State == MEM_COMMIT && (info.Protect & kReadableProtection) != 0 &&
         (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0;
}

}  // namespace

bool QueryMemoryRegion(std::uintptr_t address, TMemoryRegion& region) noexcept {
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) != sizeof info) return false;
  region.Begin = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
  region.End = region.Begin + info.RegionSize;
  region.Readable = RegionReadable(info);
  return true;
}

bool IsReadable(std::uintptr_t address, std::size_t size) noexcept {
  std::uintptr_t end;
  if (!ReadableRangeEnd(address, size, end)) return false;
  for (std::uintptr_t at = address; at < end;) {
    TMemoryRegion region;
    if (!QueryMemoryRegion(at, region) || !region.Readable) return false;
    if (region.End <= at) return false;
    at = region.End;
  }
  return true;
}

std::size_t ReadableExtent(std::uintptr_t address, std::size_t limit) noexcept {
  std::uintptr_t at = address;
  while (at - address < limit) {
    TMemoryRegion region;
    if (!QueryMemoryRegion(at, region) || !region.Readable) break;
    if (region.End <= at) break;
    at = region.End;
  }
  return at - address < limit ? at - address : limit;
}

}  // namespace pelloran::crashlog
