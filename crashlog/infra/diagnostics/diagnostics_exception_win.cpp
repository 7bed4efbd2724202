// Describing C++ exceptions of any type: the demangled type names of the C++ runtime, and the
// conversion of a UTF-8 what() to the ANSI code page the report is written in.

#include "crashlog/infra/diagnostics/diagnostics_exception.h"

#include <windows.h>

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>

namespace pelloran::crashlog {

namespace {

// What the system cannot convert stays as it was: a report in the wrong code page says more than
// an empty one.
std::string Utf8ToAnsi(std::string_view text) {
  if (GetACP() == CP_UTF8) return std::string(text);
  const int size = static_cast<int>(text.size());
  const int wideLength = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (wideLength <= 0) return std::string(text);
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), wideLength);
  const int ansiLength = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (ansiLength <= 0) return std::string(text);
  std::string ansi(static_cast<std::size_t>(ansiLength), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, ansi.data(), ansiLength, nullptr, nullptr);
  return ansi;
}

void AddBases(const abi::__class_type_info* type, std::vector<std::string>& chain, int depth) {
  if (type == nullptr || depth > 64) return;
  if (auto* single = dynamic_cast<const abi::__si_class_type_info*>(type)) {
    chain.push_back(DemangledTypeName(*single->__base_type));
    AddBases(single->__base_type, chain, depth + 1);
  } else if (auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(type)) {
    for (unsigned i = 0; i < multiple->__base_count; ++i) {
      chain.push_back(DemangledTypeName(*multiple->__base_info[i].__base_type));
      AddBases(multiple->__base_info[i].__base_type, chain, depth + 1);
    }
  }
}

struct TNamedType {
  const std::type_info* Type;
  std::string Name;
  TNamedType* Next;
};
// Never freed: the names are handed out as views. A program throws few distinct types.
std::atomic<TNamedType*> namedTypes{nullptr};

}  // namespace

std::string_view CachedTypeName(const std::type_info& type) {
  for (TNamedType* known = namedTypes.load(std::memory_order_acquire); known != nullptr; known = known->Next)
    if (known->Type == &type) return known->Name;
  auto* added = new TNamedType{&type, DemangledTypeName(type), namedTypes.load(std::memory_order_relaxed)};
  while (!namedTypes.compare_exchange_weak(added->Next, added, std::memory_order_release, std::memory_order_relaxed)) {
  }
  return added->Name;
}

std::string DemangledTypeName(const std::type_info& type) {
  int status = 0;
  char* readable = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && readable != nullptr ? readable : type.name();
  std::free(readable);
  return name;
}

std::vector<std::string> TypeClassChain(const std::type_info& type) {
  std::vector<std::string> chain{DemangledTypeName(type)};
  AddBases(dynamic_cast<const abi::__class_type_info*>(&type), chain, 0);
  return chain;
}

std::string WhatInAnsi(const char* what) {
  if (what == nullptr) return {};
  const std::string_view text(what);
  return IsUtf8BeyondAscii(text) ? Utf8ToAnsi(text) : std::string(text);
}

TExceptionObjectInfo DescribeException(const std::exception& object, const std::type_info& type) {
  TExceptionObjectInfo info = DescribeThrownValue(type);
  info.HasMessage = true;
  info.Message = WhatInAnsi(object.what());
  return info;
}

TExceptionObjectInfo DescribeThrownValue(const std::type_info& type) {
  TExceptionObjectInfo info;
  info.HasObject = true;
  info.ClassChain = TypeClassChain(type);
  info.ClassName = info.ClassChain.front();
  return info;
}

TExceptionObjectInfo DescribeException(const std::exception_ptr& object) {
  if (!object) return {};
  try {
    std::rethrow_exception(object);
  } catch (const Exception& e) {
    return DescribeException(&e);
  } catch (const std::exception& e) {
    return DescribeException(e, *abi::__cxa_current_exception_type());
  } catch (...) {
    return DescribeThrownValue(*abi::__cxa_current_exception_type());
  }
}

TExceptionObjectInfo DescribeCurrentException() { return DescribeException(std::current_exception()); }

}  // namespace pelloran::crashlog
