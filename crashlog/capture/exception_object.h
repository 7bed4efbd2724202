#pragma once
// The exception object as the interception layer sees it: the thrown object's address and its C++
// type. Anything can be thrown in C++; the program's own Exception family knows its class chain
// by name, other classes are named by their type information.

#include "crashlog/infra/diagnostics/diagnostics_exception.h"

#include <string>
#include <string_view>
#include <typeinfo>

namespace pelloran::crashlog {

class TExceptionObject {
 public:
  TExceptionObject() = default;
  // `object` is the thrown object itself (for a thrown pointer: the slot that holds the pointer),
  // as __cxa_throw receives it.
  TExceptionObject(void* object, const std::type_info* type) noexcept : object_(object), type_(type) {}

  template <typename T>
  static TExceptionObject Of(T& object) noexcept {
    return TExceptionObject(const_cast<void*>(static_cast<const void*>(&object)), &typeid(object));
  }
  // The exception being handled by the calling thread (inside a catch block); empty outside.
  static TExceptionObject Current() noexcept;

  bool Empty() const noexcept { return object_ == nullptr || type_ == nullptr; }
  void* Object() const noexcept { return object_; }
  const std::type_info* Type() const noexcept { return type_; }

  // The program's Exception class chain, when the object is one.
  const Exception* AsException() const noexcept;
  const std::exception* AsStdException() const noexcept;

  // The class name: the Exception family's own name, else the demangled type name.
  std::string ClassName() const;
  // Exception::Message() for the program's exceptions, what() (in the ANSI code page) for other
  // standard exceptions, empty for anything else.
  std::string Message() const;
  // True when the class or an ancestor is called `name`: the Exception family's chain, or for
  // other classes the base classes recorded in their type information (demangled names).
  bool InheritsFrom(std::string_view name) const;
  // The silent exception class EAbort (or a class derived from it).
  bool IsAbort() const noexcept;
  // A processor or system exception turned into EExternal (or a class derived from it).
  bool IsExternal() const noexcept;

  // Whether a handler `catch (const C&)` with typeid(C) == catchType would take this object; a
  // null catchType is catch (...).
  bool CaughtBy(const std::type_info* catchType) const noexcept;

  // The description the reporter's diagnostics publish (class name, message, abort flag).
  TExceptionObjectInfo Describe() const;
  // The class name and message Describe() would give ("Unknown error message." for an object
  // without one), made cheaply enough for every raise: `className` stays valid for the life of
  // the program, `message` views the object's own text, or `storage` when it had to be converted.
  void RaiseTexts(std::string_view& className, std::string_view& message, std::string& storage) const;

  bool operator==(const TExceptionObject& other) const noexcept {
    return object_ == other.object_ && type_ == other.type_;
  }

 private:
  void* object_ = nullptr;
  const std::type_info* type_ = nullptr;
};

}  // namespace pelloran::crashlog
