#include "batch/rmevents/command_line.h"

#include <optional>

namespace pelloran::rmevents {

const char* Usage(LogLanguage language) {
  return Say(language,
             "usage: rmevents -i input.rm -o output.rm [-e events.txt] [-m imagemap.txt] "
             "[-l log.txt] [--lang en|zh]",
             "用法：rmevents -i 输入.rm -o 输出.rm [-e 事件.txt] [-m 图像映射.txt] "
             "[-l 日志.txt] [--lang en|zh]");
}

namespace {

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  return out;
}

bool IsLanguageOption(const std::wstring& a) {
  if (a.size() != 6 || a.compare(0, 2, L"--") != 0) return false;
  for (size_t i = 2; i < 6; ++i)
    if ((a[i] | 0x20) != L"lang"[i - 2]) return false;
  return true;
}

std::optional<LogLanguage> LanguageNamed(const std::wstring& name) {
  if (name == L"en" || name == L"EN") return LogLanguage::English;
  if (name == L"zh" || name == L"ZH") return LogLanguage::Chinese;
  return std::nullopt;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& args,
                                   LogLanguage userLanguage) {
  ParsedCommandLine result;
  ToolOptions& o = result.options;
  // The language first: every message about the rest is already in it.
  o.language = userLanguage;
  bool badLanguage = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!IsLanguageOption(args[i])) continue;
    if (i + 1 >= args.size())
      badLanguage = true;
    else if (std::optional<LogLanguage> named = LanguageNamed(args[++i]))
      o.language = *named;
    else
      badLanguage = true;
  }
  const LogLanguage lang = o.language;
  if (badLanguage) result.error = Say(lang, "option --lang takes en or zh", "选项 --lang 只能是 en 或 zh");
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (IsLanguageOption(a)) {
      ++i;
      continue;
    }
    std::wstring* slot = nullptr;
    if (a.size() == 2 && (a[0] == L'-' || a[0] == L'/')) {
      switch (a[1]) {
        case L'i': case L'I': slot = &o.input; break;
        case L'o': case L'O': slot = &o.output; break;
        case L'e': case L'E': slot = &o.events; break;
        case L'm': case L'M': slot = &o.imageMap; break;
        case L'l': case L'L': slot = &o.log; break;
        default: break;
      }
    }
    // Keep reading after a fault: the log file named later still gets the message.
    if (!slot) {
      if (result.error.empty())
        result.error = Say(lang, "unknown argument \"", "未知参数 \"") + Narrow(a) + "\"";
      continue;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      if (result.error.empty())
        result.error = Say(lang, "option ", "选项 ") + Narrow(a) +
                       Say(lang, " needs a file name", " 缺少文件名");
      ++i;
      continue;
    }
    *slot = args[++i];
  }
  if (result.error.empty() && o.input.empty())
    result.error = Say(lang, "no input file (-i)", "没有输入文件 (-i)");
  if (result.error.empty() && o.output.empty())
    result.error = Say(lang, "no output file (-o)", "没有输出文件 (-o)");
  return result;
}

}  // namespace pelloran::rmevents
