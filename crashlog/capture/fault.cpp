#include "crashlog/capture/fault.h"

#include "base/hex_text.h"

#include <cstdio>

namespace pelloran::crashlog {

namespace {

// The system's exception codes (ntstatus.h), spelled out so that this stays free of its headers.
enum : std::uint32_t {
  kGuardPageViolation = 0x80000001,
  kDatatypeMisalignment = 0x80000002,
  kBreakpoint = 0x80000003,
  kSingleStep = 0x80000004,
  kAccessViolation = 0xC0000005,
  kInPageError = 0xC0000006,
  kIllegalInstruction = 0xC000001D,
  kArrayBoundsExceeded = 0xC000008C,
  kFloatDenormalOperand = 0xC000008D,
  kFloatDivideByZero = 0xC000008E,
  kFloatInexactResult = 0xC000008F,
  kFloatInvalidOperation = 0xC0000090,
  kFloatOverflow = 0xC0000091,
  kFloatStackCheck = 0xC0000092,
  kFloatUnderflow = 0xC0000093,
  kIntegerDivideByZero = 0xC0000094,
  kIntegerOverflow = 0xC0000095,
  kPrivilegedInstruction = 0xC0000096,
  kStackOverflow = 0xC00000FD,
  kControlCExit = 0xC000013A,
  kFloatMultipleFaults = 0xC00002B4,
  kFloatMultipleTraps = 0xC00002B5,
};

}  // namespace

TSystemExceptionKind ClassifyExceptionCode(std::uint32_t code) noexcept {
  switch (code) {
    case kGuardPageViolation:
    case kDatatypeMisalignment:
    case kBreakpoint:
    case kSingleStep:
    case kAccessViolation:
    case kInPageError:
    case kIllegalInstruction:
    case kArrayBoundsExceeded:
    case kFloatDenormalOperand:
    case kFloatDivideByZero:
    case kFloatInexactResult:
    case kFloatInvalidOperation:
    case kFloatOverflow:
    case kFloatStackCheck:
    case kFloatUnderflow:
    case kIntegerDivideByZero:
    case kIntegerOverflow:
    case kPrivilegedInstruction:
    case kStackOverflow:
    case kFloatMultipleFaults:
    case kFloatMultipleTraps:
      return TSystemExceptionKind::ProcessorFault;
    default:
      break;
  }
  // Severity "error" (the top two bits): everything else is a note or a warning for a debugger,
  // such as a thread's name (0x406D1388) or debug output (0x40010006).
  return (code >> 30) == 3 ? TSystemExceptionKind::Software : TSystemExceptionKind::Notification;
}

TExternalClass ExternalClassOf(std::uint32_t code) noexcept {
  switch (code) {
    case kAccessViolation: return TExternalClass::AccessViolation;
    case kIntegerDivideByZero: return TExternalClass::DivByZero;
    case kArrayBoundsExceeded: return TExternalClass::RangeError;
    case kIntegerOverflow: return TExternalClass::IntOverflow;
    case kFloatInexactResult:
    case kFloatInvalidOperation:
    case kFloatStackCheck:
    case kFloatMultipleFaults:
    case kFloatMultipleTraps: return TExternalClass::InvalidOp;
    case kFloatDivideByZero: return TExternalClass::ZeroDivide;
    case kFloatOverflow: return TExternalClass::Overflow;
    case kFloatUnderflow:
    case kFloatDenormalOperand: return TExternalClass::Underflow;
    case kPrivilegedInstruction: return TExternalClass::Privilege;
    case kStackOverflow: return TExternalClass::StackOverflow;
    case kControlCExit: return TExternalClass::ControlC;
    default: return TExternalClass::ExternalException;
  }
}

std::string ExternalMessage(const TFaultDescription& fault) {
  switch (ExternalClassOf(fault.Code)) {
    case TExternalClass::AccessViolation: {
      std::string text = "Access violation at address " + Hex8(fault.Address);
      if (!fault.ModuleName.empty()) text += " in module '" + std::string(fault.ModuleName) + "'";
      text += ".";
      if (fault.HasAccessDetails) {
        const char* access = fault.AccessKind == 1 ? "Write" : fault.AccessKind == 8 ? "Execution" : "Read";
        text += std::string(" ") + access + " of address " + Hex8(fault.AccessAddress) + ".";
      }
      return text;
    }
    case TExternalClass::DivByZero: return "Division by zero";
    case TExternalClass::RangeError: return "Range check error";
    case TExternalClass::IntOverflow: return "Integer overflow";
    case TExternalClass::InvalidOp: return "Invalid floating point operation";
    case TExternalClass::ZeroDivide: return "Floating point division by zero";
    case TExternalClass::Overflow: return "Floating point overflow";
    case TExternalClass::Underflow: return "Floating point underflow";
    case TExternalClass::Privilege: return "Privileged instruction";
    case TExternalClass::StackOverflow: return "Stack overflow";
    case TExternalClass::ControlC: return "Control-C hit";
    case TExternalClass::ExternalException: {
      char text[40];
      std::snprintf(text, sizeof text, "External exception %X", static_cast<unsigned>(fault.Code));
      return text;
    }
  }
  return {};
}

}  // namespace pelloran::crashlog
