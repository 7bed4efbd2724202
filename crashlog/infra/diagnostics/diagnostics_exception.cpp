#include "crashlog/infra/diagnostics/diagnostics_exception.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

namespace pelloran::crashlog {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool ClassChainHolds(const TClassInfo* info, std::string_view name) noexcept {
  for (; info != nullptr; info = info->Parent)
    if (info->Name != nullptr && EqualNoCase(info->Name, name)) return true;
  return false;
}

std::string DemangledName(const std::type_info* type) {
  if (type == nullptr) return {};
  int status = 0;
  char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  std::string name = status == 0 && readable != nullptr ? readable : type->name();
  std::free(readable);
  return name;
}

}  // namespace

bool TExceptionObjectInfo::ClassChainHolds(std::string_view name) const noexcept {
  for (const std::string& c : ClassChain)
    if (c == name) return true;
  return false;
}

bool ClassChainIsException(const TClassInfo* info) noexcept { return ClassChainHolds(info, "Exception"); }

TExceptionObjectInfo DescribeException(const Exception* object) {
  TExceptionObjectInfo info;
  if (object == nullptr) return info;
  info.HasObject = true;
  info.ClassName = std::string(object->ClassName());
  info.IsException = ClassChainIsException(&object->ClassInfo());
  info.IsAbort = ClassChainHolds(&object->ClassInfo(), "EAbort");
  if (info.IsException) info.Message = object->Message();
  for (const TClassInfo* c = &object->ClassInfo(); c != nullptr; c = c->Parent)
    if (c->Name != nullptr) info.ClassChain.emplace_back(c->Name);
  return info;
}

TExceptionObjectInfo DescribeException(const std::exception_ptr& object) {
  if (!object) return {};
  try {
    std::rethrow_exception(object);
  } catch (const Exception& e) {
    return DescribeException(&e);
  } catch (...) {
    TExceptionObjectInfo info;
    info.HasObject = true;
    info.ClassName = DemangledName(abi::__cxa_current_exception_type());
    info.ClassChain.push_back(info.ClassName);
    return info;
  }
}

TExceptionObjectInfo DescribeCurrentException() { return DescribeException(std::current_exception()); }

std::string ExceptionClassText(const TExceptionObjectInfo& info) {
  return info.HasObject ? info.ClassName : std::string(kUnknownExceptionType);
}

std::string ExceptionMessageText(const TExceptionObjectInfo& info) {
  return info.IsException ? info.Message : std::string(kUnknownErrorMessage);
}

}  // namespace pelloran::crashlog
