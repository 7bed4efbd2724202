#pragma once
// Turning raw stack memory into a call stack: every stack slot whose value points just behind a
// call instruction is taken as a return address, and the location of that call (and, for direct
// calls, of the procedure called) is appended.

#include <cstdint>
#include <vector>

#include "crashlog/infra/debuginfo/modules.h"

namespace pelloran::crashlog {

using TCrashStackList = std::vector<TCrashDebugInfo>;

// Scans the 4-byte slots from `low` to `high` (both inclusive, `high` being the address of the
// last slot). `firstAddress`, when not 0, is located first (the faulting instruction). Memory is
// tested for readability before it is read, so any range may be given. The stack is read in runs
// of whole pages and every other page at most once per scan: register the modules beforehand
// (TCrashModulesList::RegisterModulesNow) so that locating does not map module files mid-scan.
TCrashStackList StackScan(TCrashModulesList& modules, std::uintptr_t firstAddress, std::uintptr_t low,
                          std::uintptr_t high);

// The call instruction that a return address `v` follows, judged from the 7 code bytes before it
// (b[0] = byte at v - 7). Pure: the rules of the scan, without memory access.
struct TCallSite {
  std::uint32_t Size = 0;         // 0: no call ends at v
  bool Relative = false;          // E8 rel32: the target is v + rel32
  bool ThroughPointer = false;    // FF 15 [pointer]: the pointer must be readable too
};
TCallSite RecogniseCall(const std::uint8_t (&b)[7]);

}  // namespace pelloran::crashlog
