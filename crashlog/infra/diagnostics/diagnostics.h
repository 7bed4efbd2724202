#pragma once
// Faults of the reporter itself, the EXCEPT channel that tells the other modules of the process
// which exception was raised last, and the safecall flag shared with the exception hooks.

#include "crashlog/infra/diagnostics/diagnostics_exception.h"
#include "crashlog/infra/diagnostics/diagnostics_text.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

// Handles a failure inside the reporter, called from the catch block that caught it: traces it
// with a dump of the 32 bytes at `exceptionAddress` (when readable), saves the trace and, while
// the trace is on, offers to mail the trace to the reporter's maker. Silent exceptions (EAbort)
// are ignored. Never raises.
void HandleInternalError(std::string_view section, const void* exceptionAddress = nullptr) noexcept;

// Sends a mail with one attachment through the user's mail client; true when it was handed over.
// Installed by the delivery part of the reporter; without one, the user is told to send the trace
// by hand.
using TBugMailSender = bool (*)(const std::string& recipient, const std::string& subject, const std::string& body,
                                const std::string& attachment);
TBugMailSender SetBugMailSender(TBugMailSender sender) noexcept;

// The exception raised last on the calling thread, as PublishException recorded it.
struct TLastRaise {
  const void* Address = nullptr;  // the instruction the report names; null when none was recorded
  bool Flag = false;              // raised by the language (not an operating-system exception)
};

// This module's EXCEPT channel: made once, at reporter start-up, with room for kExceptChannelSize
// bytes, and written in place at every raise; closed at shutdown. A block of that name that exists
// already at start-up was made by somebody else: it is traced, and nothing is written to it or
// read from it. False when the channel could not be made or is not trusted.
inline constexpr std::uint32_t kExceptChannelSize = 64 * 1024;
bool CreateExceptChannel() noexcept;
void CloseExceptChannel() noexcept;

// Records the raise as the calling thread's last and writes it on this module's EXCEPT channel:
// class name, message, the raising thread and the address the report names (the raising call or
// the faulting instruction). Texts the block cannot hold are cut (see WriteExceptPayload). A
// reader never sees a payload half written. Never raises, never allocates for ASCII texts.
void PublishException(std::string_view className, std::string_view message, const void* address, bool flag,
                      std::uint32_t threadId) noexcept;
// The same for a described object ("Unknown exception type." / "Unknown error message." for what
// it lacks).
void PublishException(const TExceptionObjectInfo& object, const void* address, bool flag,
                      std::uint32_t threadId) noexcept;
TLastRaise LastRaisedException() noexcept;
void ClearLastRaisedException() noexcept;

// The exception published on `module`'s EXCEPT channel when it describes the raise of `threadId`
// at `address`, which is then marked as taken (first byte 0), so that it is used once. Nothing
// when the channel is absent, holds nothing or another raise, or is this module's own channel and
// not trusted.
std::optional<TPublishedException> TakePublishedException(HMODULE module, std::uint32_t threadId,
                                                          std::uintptr_t address) noexcept;

// The 4-byte block "CRASHLOG_SAFECALLS_LIST" shared by all processes; its first byte says that
// an exception is to end a safecall method silently.
inline constexpr std::string_view kSafecallFlagName = "CRASHLOG_SAFECALLS_LIST";
bool OpenSafecallFlag() noexcept;
void CloseSafecallFlag() noexcept;
void SetSafecallFlag() noexcept;
// Reads the flag and clears it.
bool TakeSafecallFlag() noexcept;

}  // namespace pelloran::crashlog
