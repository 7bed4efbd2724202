#pragma once
// Faults of the reporter itself, the EXCEPT channel that tells the other modules of the process
// which exception was raised last, and the safecall flag shared with the exception hooks.

#include "crashlog/infra/diagnostics/diagnostics_exception.h"
#include "crashlog/infra/diagnostics/diagnostics_text.h"

#include <windows.h>

#include <exception>
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

// The exception raised last in this module, as PublishException recorded it.
struct TLastRaise {
  std::exception_ptr Object;  // empty when only a description was published
  TExceptionObjectInfo Info;
  const void* Address = nullptr;
  bool Flag = false;  // raised by the language (not an operating-system exception)
};

// Created at reporter start-up with a single byte 0 ("nothing published"); closed at shutdown.
void CreateExceptChannel() noexcept;
void CloseExceptChannel() noexcept;

// Records the exception as the last raised one and rewrites this module's EXCEPT channel with its
// class name and message. Never raises.
void PublishException(const std::exception_ptr& object, const void* address, bool flag) noexcept;
void PublishException(const TExceptionObjectInfo& object, const void* address, bool flag) noexcept;
TLastRaise LastRaisedException();
void ClearLastRaisedException() noexcept;

// Reads the exception published on `module`'s EXCEPT channel and marks it as taken (first byte
// 0), so that it is used once. Nothing when the channel is absent or holds nothing.
std::optional<TPublishedException> TakePublishedException(HMODULE module) noexcept;

// The 4-byte block "CRASHLOG_SAFECALLS_LIST" shared by all processes; its first byte says that
// an exception is to end a safecall method silently.
inline constexpr std::string_view kSafecallFlagName = "CRASHLOG_SAFECALLS_LIST";
bool OpenSafecallFlag() noexcept;
void CloseSafecallFlag() noexcept;
void SetSafecallFlag() noexcept;
// Reads the flag and clears it.
bool TakeSafecallFlag() noexcept;

}  // namespace pelloran::crashlog
