#pragma once
// The program's own exception classes. Every class knows its name and its parent, so that code
// which only has an exception object (the application's handler, the crash reporter) can print
// the class name and walk the ancestor chain by name, as a report needs.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace pelloran {

// Name and parent of one exception class; the chain ends at Exception, whose parent is null.
struct TClassInfo {
  const char* Name;
  const TClassInfo* Parent;
};

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

  static const TClassInfo& StaticClassInfo() noexcept;
  virtual const TClassInfo& ClassInfo() const noexcept { return StaticClassInfo(); }
  std::string_view ClassName() const noexcept { return ClassInfo().Name; }
  // True when this class or one of its ancestors is called `name` (exact, case-sensitive).
  bool InheritsFrom(std::string_view name) const noexcept;

 private:
  std::string message_;
};

// Declares an exception class `Name` derived from `Parent` that keeps the parent's constructors.
#define PELLORAN_EXCEPTION_CLASS(Name, Parent)                                              \
  class Name : public Parent {                                                              \
   public:                                                                                  \
    using Parent::Parent;                                                                   \
    static const ::pelloran::TClassInfo& StaticClassInfo() noexcept {                       \
      static const ::pelloran::TClassInfo info{#Name, &Parent::StaticClassInfo()};          \
      return info;                                                                          \
    }                                                                                       \
    const ::pelloran::TClassInfo& ClassInfo() const noexcept override {                     \
      return StaticClassInfo();                                                             \
    }                                                                                       \
  }

// A silent exception: it ends an operation without any message to the user.
PELLORAN_EXCEPTION_CLASS(EAbort, Exception);
// A value could not be converted (text to number and the like).
PELLORAN_EXCEPTION_CLASS(EConvertError, Exception);
// An assertion in the program's own code failed.
PELLORAN_EXCEPTION_CLASS(EAssertionFailed, Exception);

// A file operation failed. ErrorCode is the operating system's error code.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, unsigned long errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  static const TClassInfo& StaticClassInfo() noexcept;
  const TClassInfo& ClassInfo() const noexcept override { return StaticClassInfo(); }
  unsigned long ErrorCode;
};

// An exception the processor or the operating system raised (an access violation, a division by
// zero, a stack overflow...), turned into an object so that the program's catch blocks and the
// application's handler receive it like any other error. ExceptionCode is the system's exception
// code (0xC0000005 for an access violation), ExceptionAddress the faulting instruction.
class EExternal : public Exception {
 public:
  EExternal(std::string message, std::uint32_t exceptionCode, const void* exceptionAddress)
      : Exception(std::move(message)), ExceptionCode(exceptionCode), ExceptionAddress(exceptionAddress) {}
  static const TClassInfo& StaticClassInfo() noexcept;
  const TClassInfo& ClassInfo() const noexcept override { return StaticClassInfo(); }
  std::uint32_t ExceptionCode;
  const void* ExceptionAddress;
};

// Integer faults.
PELLORAN_EXCEPTION_CLASS(EIntError, EExternal);
PELLORAN_EXCEPTION_CLASS(EDivByZero, EIntError);
PELLORAN_EXCEPTION_CLASS(ERangeError, EIntError);
PELLORAN_EXCEPTION_CLASS(EIntOverflow, EIntError);
// Floating-point faults.
PELLORAN_EXCEPTION_CLASS(EMathError, EExternal);
PELLORAN_EXCEPTION_CLASS(EInvalidOp, EMathError);
PELLORAN_EXCEPTION_CLASS(EZeroDivide, EMathError);
PELLORAN_EXCEPTION_CLASS(EOverflow, EMathError);
PELLORAN_EXCEPTION_CLASS(EUnderflow, EMathError);
// Memory and processor faults.
PELLORAN_EXCEPTION_CLASS(EAccessViolation, EExternal);
PELLORAN_EXCEPTION_CLASS(EPrivilege, EExternal);
PELLORAN_EXCEPTION_CLASS(EStackOverflow, EExternal);
PELLORAN_EXCEPTION_CLASS(EControlC, EExternal);
// Any other code, including exceptions raised by foreign code with RaiseException.
PELLORAN_EXCEPTION_CLASS(EExternalException, EExternal);

// A method run through the safecall wrapper failed; raised by the caller that checks its result.
class ESafecallException : public Exception {
 public:
  ESafecallException(std::string message, long errorCode) : Exception(std::move(message)), ErrorCode(errorCode) {}
  static const TClassInfo& StaticClassInfo() noexcept;
  const TClassInfo& ClassInfo() const noexcept override { return StaticClassInfo(); }
  long ErrorCode;  // the method's HRESULT
};

// Raises EAssertionFailed with "message (file, line N)" when `condition` is false.
void Assert(bool condition, std::string_view message, const char* file, int line);

}  // namespace pelloran

#define PELLORAN_ASSERT(condition, message) \
  ::pelloran::Assert(static_cast<bool>(condition), (message), __FILE__, __LINE__)
