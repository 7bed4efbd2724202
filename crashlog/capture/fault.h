#pragma once
// The system exceptions the layer sees (processor faults, exceptions raised by foreign code,
// notifications) and the exception objects they become: class and message as the program shows
// them. Pure logic on the exception code and its parameters.

#include <cstdint>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

enum class TSystemExceptionKind {
  ProcessorFault,  // the processor stopped an instruction (access violation, division...)
  Software,        // an error raised with RaiseException by code outside the program
  Notification,    // a note to a debugger (thread name, debug output): never an error
};
TSystemExceptionKind ClassifyExceptionCode(std::uint32_t code) noexcept;

// The class of the object a code becomes (the names of the EExternal family).
enum class TExternalClass {
  AccessViolation,
  DivByZero,
  RangeError,
  IntOverflow,
  InvalidOp,
  ZeroDivide,
  Overflow,
  Underflow,
  Privilege,
  StackOverflow,
  ControlC,
  ExternalException,
};
TExternalClass ExternalClassOf(std::uint32_t code) noexcept;

// What happened at the fault, as the system reports it.
struct TFaultDescription {
  std::uint32_t Code = 0;
  std::uintptr_t Address = 0;       // the faulting instruction
  std::string_view ModuleName;      // file name of the module holding it, empty when none does
  std::uintptr_t AccessKind = 0;    // access violation: 0 read, 1 write, 8 execution
  std::uintptr_t AccessAddress = 0; // access violation: the address accessed
  bool HasAccessDetails = false;
};

// "Access violation at address 0040123A in module 'Pelloran.exe'. Read of address 00000000.",
// "Division by zero", "External exception C000001D"...
std::string ExternalMessage(const TFaultDescription& fault);

}  // namespace pelloran::crashlog
