#pragma once
// What the reporter may say about an exception object: whether there is one, its class name,
// and its message when it is one of the program's own exceptions. Anything can be thrown in C++;
// only classes whose ancestor chain holds "Exception" carry a message the reporter trusts.

#include "base/exceptions.h"

#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

inline constexpr std::string_view kUnknownExceptionType = "Unknown exception type.";
inline constexpr std::string_view kUnknownErrorMessage = "Unknown error message.";

struct TExceptionObjectInfo {
  bool HasObject = false;
  std::string ClassName;     // empty without an object
  bool IsException = false;  // the class chain holds "Exception" (compared without case)
  bool IsAbort = false;      // the class chain holds "EAbort": a silent exception
  std::string Message;       // only when IsException
  std::vector<std::string> ClassChain;  // the class and its ancestors, nearest first

  // True when the class or an ancestor is called `name` (exact, case-sensitive).
  bool ClassChainHolds(std::string_view name) const noexcept;
};

// True when a class of the chain starting at `info` is called "Exception", in any case.
bool ClassChainIsException(const TClassInfo* info) noexcept;

TExceptionObjectInfo DescribeException(const Exception* object);
// Works on any thrown value; a null pointer gives an info without object.
TExceptionObjectInfo DescribeException(const std::exception_ptr& object);
// The exception being handled by the calling thread (none outside a catch block).
TExceptionObjectInfo DescribeCurrentException();

// The class name to publish or report: the object's, or "Unknown exception type." without one.
std::string ExceptionClassText(const TExceptionObjectInfo& info);
// The message to publish or report: the message of one of the program's exceptions, or
// "Unknown error message." for anything else.
std::string ExceptionMessageText(const TExceptionObjectInfo& info);

}  // namespace pelloran::crashlog
