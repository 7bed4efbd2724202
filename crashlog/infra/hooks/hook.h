#pragma once
// Redirecting procedures of the run-time library, the frameworks and the system.
//
// Code hooks overwrite the first 5 bytes of a procedure with a jump to its replacement. The
// replacement gets a trampoline through which it can still run the original: the trampoline puts
// the saved bytes back, calls the procedure with the caller's arguments and registers, writes the
// jump again and returns. While the original runs, it is unpatched: calls from other threads in
// that moment reach it directly, and a trampoline must not be re-entered (recursion, a second
// thread) before it returns, because each keeps one return-address slot.
//
// C++ exceptions travel through a trampoline: each one is registered with the unwinder, which then
// finds the caller's return address in the slot and, on the way out, writes the jump back.
//
// Import hooks write the replacement into the import slots of one module that hold the old
// address; only that module's calls through those slots are redirected.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"

namespace pelloran::crashlog {

PELLORAN_EXCEPTION_CLASS(EHookError, Exception);
// "Cannot hook a null procedure ("%s")."
PELLORAN_EXCEPTION_CLASS(EProcNull, EHookError);
// "Cannot hook the procedure "%s"."
PELLORAN_EXCEPTION_CLASS(EHookingError, EHookError);
// "Cannot hook the module "%s" located into the shared-area."
PELLORAN_EXCEPTION_CLASS(ESharedArea, EHookError);

#pragma pack(push, 1)
// One code hook, 67 bytes, in executable memory.
struct TCodeHookBlock {
  std::uint32_t Target;       // the patched procedure (after thunk resolution)
  std::uint32_t Replacement;  // where the patch jumps (after thunk resolution)
  std::uint32_t ReturnSlot;   // the trampoline's caller, while the trampoline runs
  std::uint8_t Saved[5];      // the target's own first 5 bytes
  std::uint8_t Patch[5];      // E9 and replacement - target - 5
  std::uint8_t Code[45];      // the trampoline
};
#pragma pack(pop)
static_assert(sizeof(TCodeHookBlock) == 67);
inline constexpr std::size_t kTrampolineOffset = 22;

// Patches `target` to jump to `replacement`; returns the trampoline (block + 22). An import thunk
// as target or replacement stands for the procedure it jumps to. Raises EProcNull for no target,
// ESharedArea for a target in the shared area of a system outside the NT family, EHookingError
// when the patch cannot be written. `name` is only used in messages.
void* HookCode(void* target, void* replacement, std::string_view name);
// The block that owns `trampoline` (what HookCode returned).
TCodeHookBlock* HookBlockOf(void* trampoline) noexcept;
// Puts the saved bytes back, releases the block and forgets it. Nothing happens for nullptr.
void UnhookCode(TCodeHookBlock* block);
// Writes the jump over the target again; replacements call this when they have run the target
// other than through the trampoline's own call.
void RestoreHook(void* trampoline);

// In the code section of `module`, every import slot that holds `old` and is used by a jump or
// call through it gets `replacement`. Returns `old`; when nothing was patched, nullptr with
// `ignoreFailure`, else EHookingError. Unless `noRecord`, UnhookAll undoes it.
void* HookImport(std::uintptr_t module, void* old, void* replacement, bool noRecord, bool ignoreFailure,
                 std::string_view name);
// old := the export `procName` of the loaded library `libraryName`; then HookImport in every
// listed module that is loaded. True when at least one module was patched.
bool HookImportByName(const std::vector<std::string>& moduleFileNames, std::string_view libraryName,
                      bool ignoreFailure, void*& old, void* replacement, std::string_view procName);
// HookCode on the running module's procedure called `fullName` ("unit.Class.Proc"), found in its
// debug information; nullptr when there is no such procedure.
void* HookByName(std::string_view fullName, void* replacement);
// The procedure `fullName`, else the export `exportName` of the loaded `packageFileName`; hooked
// when `replacement` is given (the trampoline is returned), else just the address.
void* HookByNameOrExport(std::string_view fullName, std::string_view packageFileName, std::string_view exportName,
                         void* replacement);

// Undoes every hook, newest first, so that hooks stacked on one procedure come off in order.
void UnhookAll();
// Reference-counted users of the hooking engine; the last HooksEnd runs UnhookAll.
void HooksStart();
void HooksEnd();

// Counts of live hooks (for tests and the trace).
std::size_t CodeHookCount();
std::size_t ImportHookCount();

}  // namespace pelloran::crashlog
