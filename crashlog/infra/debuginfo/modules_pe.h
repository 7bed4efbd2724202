#pragma once
// Facts read from a loaded module's image and file: kind, exports, version resource.

#include <cstdint>
#include <string>

#include "crashlog/infra/debuginfo/modules_exports.h"

namespace pelloran::crashlog {

// 0 not a PE image, 1 program, 2 package (a library with the RCDATA resources "PACKAGEINFO" and
// "PACKAGEOPTIONS"), 3 library.
std::uint8_t ReadModuleKind(std::uintptr_t handle, const std::string& fileName);

// The module's named exports with their addresses and estimated code sizes, sorted by address;
// empty when the headers, the code range or the export directory cannot be read.
TCrashFunctionsList ReadModuleExports(std::uintptr_t handle);

// True on the NT family (every system this program meets today).
bool IsNtFamily() noexcept;

}  // namespace pelloran::crashlog
