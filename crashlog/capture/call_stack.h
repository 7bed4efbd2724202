#pragma once
// The call stack of one exception: the stack scan of the faulting thread, followed by the stack
// of the code that created that thread when the thread registry knows it.

#include <cstdint>

#include "crashlog/infra/debuginfo/stack.h"

namespace pelloran::crashlog {

// The location of `address` (the exception address), then the return addresses found from
// `stackStart` up to `stackEnd` (the address of the last slot), innermost first; then, for a
// thread created through the thread hooks that is not one of the reporter's own, the return
// addresses of its creator's stack, innermost first; then RemoveTopDuplicate. The list belongs to
// the caller.
TCrashStackList BuildCallStack(TCrashModulesList& modules, std::uintptr_t address, bool isLanguageRaise,
                               std::uintptr_t stackStart, std::uintptr_t stackEnd, std::uint32_t threadID);

// The exception address found again by the scan appears once: when entries 0 and 1 have the same
// address, entry 0 goes; otherwise, for a language raise, entry 0 goes when any later entry has
// its address (the scan found the raising call again, after the procedure it called).
void RemoveTopDuplicate(TCrashStackList& list, bool isLanguageRaise);

}  // namespace pelloran::crashlog
