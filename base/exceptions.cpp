#include "base/exceptions.h"

namespace pelloran {

const TClassInfo& Exception::StaticClassInfo() noexcept {
  static const TClassInfo info{"Exception", nullptr};
  return info;
}

bool Exception::InheritsFrom(std::string_view name) const noexcept {
  for (const TClassInfo* c = &ClassInfo(); c != nullptr; c = c->Parent)
    if (name == c->Name) return true;
  return false;
}

const TClassInfo& EInOutError::StaticClassInfo() noexcept {
  static const TClassInfo info{"EInOutError", &Exception::StaticClassInfo()};
  return info;
}

const TClassInfo& EExternal::StaticClassInfo() noexcept {
  static const TClassInfo info{"EExternal", &Exception::StaticClassInfo()};
  return info;
}

const TClassInfo& ESafecallException::StaticClassInfo() noexcept {
  static const TClassInfo info{"ESafecallException", &Exception::StaticClassInfo()};
  return info;
}

void Assert(bool condition, std::string_view message, const char* file, int line) {
  if (condition) return;
  std::string text(message.empty() ? std::string_view("Assertion failure") : message);
  text += " (";
  text += file;
  text += ", line ";
  text += std::to_string(line);
  text += ")";
  throw EAssertionFailed(std::move(text));
}

}  // namespace pelloran
