#pragma once
// What the reporter may say about an exception object: whether there is one, its class name,
// and its message. Anything can be thrown in C++: the program's own Exception family and every
// std::exception carry a message (what()); an int or a pointer carries none.

#include "base/exceptions.h"

#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

namespace pelloran::crashlog {

inline constexpr std::string_view kUnknownExceptionType = "Unknown exception type.";
inline constexpr std::string_view kUnknownErrorMessage = "Unknown error message.";

struct TExceptionObjectInfo {
  bool HasObject = false;
  std::string ClassName;     // empty without an object
  bool IsException = false;  // the class chain holds "Exception" (compared without case)
  bool IsAbort = false;      // the class chain holds "EAbort": a silent exception
  bool HasMessage = false;   // one of the program's exceptions, or a std::exception
  std::string Message;       // only when HasMessage; in the ANSI code page
  std::vector<std::string> ClassChain;  // the class and its ancestors, nearest first

  // True when the class or an ancestor is called `name` (exact, case-sensitive).
  bool ClassChainHolds(std::string_view name) const noexcept;
};

// True when a class of the chain starting at `info` is called "Exception", in any case.
bool ClassChainIsException(const TClassInfo* info) noexcept;

TExceptionObjectInfo DescribeException(const Exception* object);
// A standard exception of the dynamic type `type`: its demangled name ("std::runtime_error"), its
// base classes, and its what() in the ANSI code page.
TExceptionObjectInfo DescribeException(const std::exception& object, const std::type_info& type);
// Any other thrown value of type `type` (an int, a pointer): its demangled name, no message.
TExceptionObjectInfo DescribeThrownValue(const std::type_info& type);
// Works on any thrown value; a null pointer gives an info without object.
TExceptionObjectInfo DescribeException(const std::exception_ptr& object);
// The exception being handled by the calling thread (none outside a catch block).
TExceptionObjectInfo DescribeCurrentException();

// The readable form of a type's name ("std::runtime_error", "char const*"), or the raw name when
// it cannot be demangled.
std::string DemangledTypeName(const std::type_info& type);
// DemangledTypeName made once per type and kept for the life of the program: what a raise uses.
std::string_view CachedTypeName(const std::type_info& type);
// The class and its base classes as their type information records them, nearest first.
std::vector<std::string> TypeClassChain(const std::type_info& type);

// A what() text as the report writes it: UTF-8 (valid, with characters beyond ASCII) becomes the
// ANSI code page; anything else is taken as already in it.
std::string WhatInAnsi(const char* what);
// True for valid UTF-8 that holds at least one character beyond ASCII. A GBK text almost never
// passes (its trail bytes leave the continuation range), and a pure ASCII text needs no change.
bool IsUtf8BeyondAscii(std::string_view text) noexcept;

// The class name to publish or report: the object's, or "Unknown exception type." without one.
std::string ExceptionClassText(const TExceptionObjectInfo& info);
// The message to publish or report: the object's message, or "Unknown error message." for an
// object without one.
std::string ExceptionMessageText(const TExceptionObjectInfo& info);

}  // namespace pelloran::crashlog
