#pragma once
// The exception as the flow carries it, from the raise point to the finished report.
//
// The other shapes of "the exception" live at the edges, each for a reason of its own:
// - TExceptionObject (capture/exception_object.h): the thrown object and its type exactly as
//   __cxa_throw or a fault handler saw them. The interception layer keys its kept stacks and its
//   handled checks on it; nothing above it reads the object.
// - TRaiseRecord (capture/intercept.h): the interception layer's per-thread memory of the last
//   raise, which the framework's handler asks for when it did not see the raise itself.
// - TExceptionObjectInfo (infra/diagnostics): what can be said of the object without knowing its
//   type (class chain, message). The layers below capture need it, so it lives below them.
// - TPublishedException (infra/diagnostics): the class name and message as a module wrote them on
//   its EXCEPT channel, with the thread and address of the raise they describe: bytes from outside.
// - TCrashExceptionRecord (flow/handlers.h): what the application's event handlers are shown.

#include <cstdint>
#include <exception>

#include "crashlog/capture/exception_object.h"
#include "crashlog/infra/diagnostics/diagnostics_exception.h"

namespace pelloran::crashlog {

// A language raise is notified with the return address of its call to the throw; the report
// names the call instruction itself, a near call (E8 rel32) of 5 bytes.
inline constexpr std::uintptr_t kRaiseCallSize = 5;

// The instruction a report names: the raising call, or the faulting instruction.
inline std::uintptr_t RaiseInstructionOf(const void* address, bool isLanguageRaise) noexcept {
  const auto value = reinterpret_cast<std::uintptr_t>(address);
  return isLanguageRaise && value != 0 ? value - kRaiseCallSize : value;
}

struct TRaisedException {
  std::exception_ptr Object;  // the object, when the framework's handler holds one
  TExceptionObjectInfo Info;
  TExceptionObject Raw;
  // A language raise: the return address of the raising call. A processor fault: the faulting
  // instruction.
  const void* Address = nullptr;
  bool IsLanguageRaise = false;

  static TRaisedException Of(const TExceptionObject& raw, const void* address, bool isLanguageRaise) {
    TRaisedException raised;
    raised.Info = raw.Describe();
    raised.Raw = raw;
    raised.Address = address;
    raised.IsLanguageRaise = isLanguageRaise;
    return raised;
  }

  // The instruction the report names: the raising call, or the faulting instruction.
  std::uintptr_t RaiseInstruction() const noexcept { return RaiseInstructionOf(Address, IsLanguageRaise); }
};

}  // namespace pelloran::crashlog
