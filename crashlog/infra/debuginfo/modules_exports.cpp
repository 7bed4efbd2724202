#include "crashlog/infra/debuginfo/modules_exports.h"

#include <algorithm>

#include "crashlog/infra/debuginfo/debug_info_format.h"

namespace pelloran::crashlog {

namespace {

bool Holds(const TCrashFunctionInfo& f, std::uint32_t address) {
  return f.Address <= address && static_cast<std::uint64_t>(address) <= std::uint64_t{f.Address} + f.Size;
}

bool IsReturn(std::uint8_t byte) { return byte == 0xC2 || byte == 0xC3 || byte == 0xCA || byte == 0xCB; }

std::vector<std::string> SplitAtDots(std::string_view text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const auto dot = text.find('.', from);
    parts.emplace_back(text.substr(from, dot == std::string_view::npos ? std::string_view::npos : dot - from));
    if (dot == std::string_view::npos) return parts;
    from = dot + 1;
  }
}

// "@Unit@Class@Proc$qqr..." -> "Unit.Class.Proc".
std::string DecorationToDots(std::string_view name) {
  std::string text(name.substr(0, name.find('$')));
  if (!text.empty() && text.back() == '@') text.pop_back();
  if (!text.empty() && text.front() == '@') text.erase(0, 1);
  if (const auto pair = text.find("@@"); pair != std::string::npos) text[pair + 1] = '_';
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '@') {
      text[i] = '.';
      ++i;  // the character after a separator is never one itself
    }
  }
  return text;
}

}  // namespace

bool ExportsOverlap(const TCrashFunctionsList& functions) {
  std::uint64_t reach = 0;  // one past the furthest end so far
  for (std::size_t i = 0; i < functions.size(); ++i) {
    const auto& f = functions[i];
    if (i > 0 && f.Address < reach) return true;
    reach = std::max(reach, std::uint64_t{f.Address} + f.Size + 1);
  }
  return false;
}

int FindExportIndex(const TCrashFunctionsList& functions, std::uint32_t address, bool mayOverlap) {
  if (functions.empty()) return -1;
  int lo = 0, hi = static_cast<int>(functions.size()) - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const auto& f = functions[mid];
    const std::int64_t d = Holds(f, address) ? 0 : std::int64_t{f.Address} - address;
    if (d == 0) found = true;
    if (d < 0) lo = mid + 1; else hi = mid - 1;
  }
  if (found && lo < static_cast<int>(functions.size()) && Holds(functions[lo], address)) return lo;
  if (!mayOverlap) return -1;
  // Size estimates can make entries overlap; the halving above then misses or lands beside the
  // holder. Take the first entry that really holds the address, or none.
  const auto it = std::find_if(functions.begin(), functions.end(),
                               [&](const TCrashFunctionInfo& f) { return Holds(f, address); });
  return it == functions.end() ? -1 : static_cast<int>(it - functions.begin());
}

std::uint32_t EstimateCodeSize(std::span<const std::uint8_t> code) {
  if (code.empty()) return 1;
  if (code[0] == 0x55) {
    for (std::size_t i = 0; i + 1 < code.size(); ++i)
      if ((code[i] == 0x5D || code[i] == 0xC9) && IsReturn(code[i + 1])) return static_cast<std::uint32_t>(i + 1);
    return 1;
  }
  for (std::size_t i = 0; i < code.size(); ++i)
    if (IsReturn(code[i])) return static_cast<std::uint32_t>(i);
  return 1;
}

TExportNameParts ParseExportName(std::string_view name) {
  TExportNameParts result;
  std::vector<std::string> parts;
  if (name.empty() || name.front() != '@') {
    if (name.find('.') != std::string_view::npos) {
      parts = SplitAtDots(name.substr(0, name.find('@')));
    } else if (name.empty() || name.front() != '?') {
      result.LocationKind = 2;
      result.ProcedureName = std::string(name);
    }
  } else if (name.size() < 2 || name[1] != '$') {
    parts = SplitAtDots(DecorationToDots(name));
  }
  if (parts.size() == 2 || parts.size() == 3) {
    result.LocationKind = 3;
    result.UnitName = parts.front() + std::string(kSourceFileExtension);
    if (parts.size() == 3) result.ClassName = parts[1];
    result.ProcedureName = parts.back();
  }
  if (!result.ProcedureName.empty() && result.ProcedureName.front() == '@') result.ProcedureName.front() = '_';
  return result;
}

}  // namespace pelloran::crashlog
