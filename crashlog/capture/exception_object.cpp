#include "crashlog/capture/exception_object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>

namespace pelloran::crashlog {

namespace {

// Adjusts `object` the way the C++ runtime does before it hands it to a handler of `catchType`:
// a thrown pointer is looked at through its slot, a base class may sit at an offset.
bool AdjustedFor(const std::type_info& catchType, const std::type_info& thrownType, void*& object) noexcept {
  void* adjusted = object;
  if (thrownType.__is_pointer_p()) adjusted = *static_cast<void**>(adjusted);
  if (!catchType.__do_catch(&thrownType, &adjusted, 1)) return false;
  object = adjusted;
  return true;
}

bool BaseNamed(const abi::__class_type_info* type, std::string_view name, int depth) {
  if (type == nullptr || depth > 64) return false;
  if (DemangledTypeName(*type) == name) return true;
  if (auto* single = dynamic_cast<const abi::__si_class_type_info*>(type))
    return BaseNamed(single->__base_type, name, depth + 1);
  if (auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(type)) {
    for (unsigned i = 0; i < multiple->__base_count; ++i)
      if (BaseNamed(multiple->__base_info[i].__base_type, name, depth + 1)) return true;
  }
  return false;
}

}  // namespace

TExceptionObject TExceptionObject::Current() noexcept {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return {};
  // libstdc++'s exception_ptr holds nothing but the address of the thrown object.
  static_assert(sizeof(std::exception_ptr) == sizeof(void*));
  std::exception_ptr current = std::current_exception();
  void* object = nullptr;
  __builtin_memcpy(&object, &current, sizeof object);
  return TExceptionObject(object, type);
}

const Exception* TExceptionObject::AsException() const noexcept {
  void* object = object_;
  if (Empty() || !AdjustedFor(typeid(Exception), *type_, object)) return nullptr;
  return static_cast<const Exception*>(object);
}

const std::exception* TExceptionObject::AsStdException() const noexcept {
  void* object = object_;
  if (Empty() || !AdjustedFor(typeid(std::exception), *type_, object)) return nullptr;
  return static_cast<const std::exception*>(object);
}

std::string TExceptionObject::ClassName() const {
  if (Empty()) return {};
  if (const Exception* e = AsException()) return std::string(e->ClassName());
  return DemangledTypeName(*type_);
}

std::string TExceptionObject::Message() const {
  if (const Exception* e = AsException()) return e->Message();
  if (const std::exception* e = AsStdException()) return WhatInAnsi(e->what());
  return {};
}

bool TExceptionObject::InheritsFrom(std::string_view name) const {
  if (Empty()) return false;
  if (const Exception* e = AsException()) return e->InheritsFrom(name);
  if (DemangledTypeName(*type_) == name) return true;
  return BaseNamed(dynamic_cast<const abi::__class_type_info*>(type_), name, 0);
}

bool TExceptionObject::IsAbort() const noexcept {
  void* object = object_;
  return !Empty() && AdjustedFor(typeid(EAbort), *type_, object);
}

bool TExceptionObject::IsExternal() const noexcept {
  void* object = object_;
  return !Empty() && AdjustedFor(typeid(EExternal), *type_, object);
}

bool TExceptionObject::CaughtBy(const std::type_info* catchType) const noexcept {
  if (Empty()) return false;
  if (catchType == nullptr) return true;
  void* object = object_;
  return AdjustedFor(*catchType, *type_, object);
}

void TExceptionObject::RaiseTexts(std::string_view& className, std::string_view& message,
                                  std::string& storage) const {
  className = kUnknownExceptionType;
  message = kUnknownErrorMessage;
  if (Empty()) return;
  if (const Exception* e = AsException()) {
    className = e->ClassName();
    message = e->Message();
    return;
  }
  className = CachedTypeName(*type_);
  if (const std::exception* e = AsStdException()) {
    const char* what = e->what();
    message = what != nullptr ? what : "";
    if (IsUtf8BeyondAscii(message)) {
      storage = WhatInAnsi(what);
      message = storage;
    }
  }
}

TExceptionObjectInfo TExceptionObject::Describe() const {
  if (Empty()) return {};
  if (const Exception* e = AsException()) return DescribeException(e);
  if (const std::exception* e = AsStdException()) return DescribeException(*e, *type_);
  return DescribeThrownValue(*type_);
}

}  // namespace pelloran::crashlog
