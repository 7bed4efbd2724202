#pragma once
// What the pipeline needs of the pieces around it: the interception layer (the thread's capture,
// IsExceptionHandled), the thread registry (call stacks), the report composer and log, and the
// ways of showing an error.

#include <windows.h>

#include <cstdint>
#include <string>

#include "crashlog/capture/pipeline.h"
#include "crashlog/infra/debuginfo/stack.h"

namespace pelloran::crashlog {

// --- interception layer ----------------------------------------------------------------------
// Where the calling thread's next report starts scanning, and the registers it captured
// (ContextFlags 0: nothing captured).
std::uintptr_t& CapturedStackStart() noexcept;
CONTEXT& CapturedContext() noexcept;
bool IsExceptionHandled(const TRaisedException& object, const void* address) noexcept;


}  // namespace pelloran::crashlog

namespace pelloran::crashlog {
// --- installation of the pieces --------------------------------------------------------------
void InstallInterception();
void UninstallInterception();
}  // namespace pelloran::crashlog
