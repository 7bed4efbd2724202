#include "crashlog/infra/diagnostics/diagnostics_exception.h"

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
  info.HasMessage = info.IsException;
  if (info.IsException) info.Message = object->Message();
  for (const TClassInfo* c = &object->ClassInfo(); c != nullptr; c = c->Parent)
    if (c->Name != nullptr) info.ClassChain.emplace_back(c->Name);
  return info;
}

bool IsUtf8BeyondAscii(std::string_view text) noexcept {
  bool beyondAscii = false;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The shortest form only: C2..DF, E0..EF, F0..F4 leads, no surrogates, nothing past U+10FFFF.
    std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4                                  ? 4
                                                                                         : 0;
    if (length == 0 || i + length > text.size()) return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    unsigned char low = 0x80, high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    beyondAscii = true;
    i += length;
  }
  return beyondAscii;
}

std::string ExceptionClassText(const TExceptionObjectInfo& info) {
  return info.HasObject ? info.ClassName : std::string(kUnknownExceptionType);
}

std::string ExceptionMessageText(const TExceptionObjectInfo& info) {
  return info.HasMessage ? info.Message : std::string(kUnknownErrorMessage);
}

}  // namespace pelloran::crashlog
