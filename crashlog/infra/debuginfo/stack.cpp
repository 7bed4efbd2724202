#include "crashlog/infra/debuginfo/stack.h"

#include <cstring>

#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/diagnostics/trace.h"

namespace pelloran::crashlog {

namespace {

bool InRange(std::uint8_t value, std::uint8_t low, std::uint8_t high) { return value >= low && value <= high; }

std::uint32_t U32(const std::uint8_t* p) {
  std::uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

// Locating may register a module, which maps its file: the remembered readability answers and
// copies are then stale.
TCrashDebugInfo Locate(TCrashModulesList& modules, TScanMemory& memory, std::uintptr_t address) {
  const int before = modules.Count();
  TCrashDebugInfo info = modules.GetLocation(address);
  if (modules.Count() != before) memory.Clear();
  return info;
}

}  // namespace

TCallSite RecogniseCall(const std::uint8_t (&b)[7]) {
  if (b[2] == 0xE8) return {5, true, false};                                                     // call rel32
  if (b[5] == 0xFF && InRange(b[6], 0xD0, 0xD7)) return {2, false, false};                         // call reg
  if (b[5] == 0xFF && (InRange(b[6], 0x10, 0x13) || InRange(b[6], 0x16, 0x17))) return {2, false, false};  // call [reg]
  if (b[4] == 0xFF && (InRange(b[5], 0x50, 0x53) || InRange(b[5], 0x55, 0x57))) return {3, false, false};  // call [reg+d8]
  if (b[1] == 0xFF && (InRange(b[2], 0x90, 0x93) || InRange(b[2], 0x95, 0x97))) return {6, false, false};  // call [reg+d32]
  if (b[4] == 0xFF && b[5] == 0x14 && b[6] == 0x24) return {3, false, false};                      // call [esp]
  if (b[3] == 0xFF && b[4] == 0x54 && b[5] == 0x24) return {4, false, false};                      // call [esp+d8]
  if (b[0] == 0xFF && b[1] == 0x94 && b[2] == 0x24) return {7, false, false};                      // call [esp+d32]
  if (b[1] == 0xFF && b[2] == 0x15) return {6, false, true};                                       // call [abs32]
  return {};
}

TCrashStackList StackScan(TCrashModulesList& modules, std::uintptr_t firstAddress, std::uintptr_t low,
                          std::uintptr_t high) {
  TraceEnter("StackScan", {reinterpret_cast<const void*>(firstAddress), reinterpret_cast<const void*>(low),
                           reinterpret_cast<const void*>(high)});
  TCrashStackList list;
  if (firstAddress != 0) list.push_back(modules.GetLocation(firstAddress));
  // Each stack page and each page looked into is copied once; slot values and code bytes are
  // taken from the copies.
  TScanMemory memory;
  std::uint32_t v = 0;
  for (std::uint64_t p = memory.NextSlot(low, high, v); p <= high; p = memory.NextSlot(p + 4, high, v)) {
    if (v < 7) continue;
    std::uint8_t b[7];
    if (!memory.Read(v - 7, b, sizeof b)) continue;
    const TCallSite call = RecogniseCall(b);
    if (call.Size == 0) continue;
    if (call.ThroughPointer) {
      std::uint32_t target;
      if (!memory.Read(U32(b + 3), &target, 4)) continue;
    }
    if (call.Relative) {
      std::uintptr_t target = v + U32(b + 3);
      std::uint8_t code[8];
      if (memory.IsReadable(target, 1)) {
        // An import thunk (FF 25 [slot] and two filler bytes) stands for the imported procedure.
        if (memory.Read(target, code, 8) && code[0] == 0xFF && code[1] == 0x25 &&
            ((code[6] == 0x8B && code[7] == 0xC0) || (code[6] == 0x90 && code[7] == 0x90))) {
          std::uint32_t destination;
          if (memory.Read(U32(code + 2), &destination, 4)) target = destination;
        }
        if (memory.Read(target, code, 5) && code[0] != 0xE8) list.push_back(Locate(modules, memory, target));
      }
    }
    list.push_back(Locate(modules, memory, v - call.Size));
  }
  TraceLeave("StackScan", {static_cast<int>(list.size())});
  return list;
}

}  // namespace pelloran::crashlog
