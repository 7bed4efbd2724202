#pragma once
// The calling thread's stack base, read from its thread information block (NT_TIB.StackBase at
// fs:[4]): no system call, usable inside a fault.

#include <cstdint>

namespace pelloran::crashlog {

inline std::uintptr_t CurrentStackBase() noexcept {
  std::uintptr_t base;
  asm volatile("movl %%fs:4, %0" : "=r"(base));
  return base;
}

}  // namespace pelloran::crashlog
