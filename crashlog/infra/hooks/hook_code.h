#pragma once
// Internals of the hooking engine shared by its source files.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crashlog/infra/hooks/hook.h"

namespace pelloran::crashlog::hook_detail {

// Writes bytes over code (or import slots): execute-read-write for the write, the old protection
// back, and the instruction cache flushed. False when the system refused.
// Holds every other code write off (recursive: WriteCodeBytes may be called while held).
bool WriteCodeBytes(std::uintptr_t address, const void* bytes, std::size_t size) noexcept;

// The lock WriteCodeBytes takes, for callers that must decide and write in one step.
class TCodeWriteLock {
 public:
  TCodeWriteLock() noexcept;
  ~TCodeWriteLock();
  TCodeWriteLock(const TCodeWriteLock&) = delete;
  TCodeWriteLock& operator=(const TCodeWriteLock&) = delete;
};

// Executable memory for hook blocks.
TCodeHookBlock* AllocateBlock();
void ReleaseBlock(TCodeHookBlock* block) noexcept;

// Fills the trampoline of `block` for its Target.
void FillTrampoline(TCodeHookBlock& block) noexcept;

// Tells the unwinder how to leave a trampoline (the caller's return address is in the block's
// slot) and to write the jump back on the way; returns the registration to undo.
void* RegisterTrampolineUnwind(TCodeHookBlock& block);
void DeregisterTrampolineUnwind(void* registration) noexcept;

// Remembers an import hook, with the slots it wrote, for UnhookAll.
void RecordImportHook(std::uintptr_t module, void* old, void* replacement, std::vector<std::uintptr_t> slots);

// "Cannot hook ..." message texts.
std::string ProcNullMessage(std::string_view name);
std::string HookingErrorMessage(std::string_view name);
std::string SharedAreaMessage(std::string_view moduleFileName);

}  // namespace pelloran::crashlog::hook_detail
