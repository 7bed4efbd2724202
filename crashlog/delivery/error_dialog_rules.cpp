#include "crashlog/delivery/error_dialog_rules.h"

#include "base/hex_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace pelloran::crashlog {

int CheckBoxBand(bool sendVisible, bool screenshotAllowed) { return sendVisible && screenshotAllowed ? 34 : 20; }

int ProfileInt(std::string_view text, int fallback) {
  if (text.empty()) return fallback;
  std::string_view digits = text;
  if (digits.front() == '-' || digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return fallback;
  int value = 0;
  const char* first = text.data() + (text.front() == '+' ? 1 : 0);
  const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return fallback;
  return value;
}

TDialogPlacement LoadPlacement(const TProfileReader& read, TScreenSize screen, int band) {
  auto readInt = [&](const char* key, int fallback) {
    return ProfileInt(read(key, std::to_string(fallback)), fallback);
  };
  TDialogPlacement p;
  p.Width = readInt("Width", TDialogPlacement{}.Width);
  p.Height = readInt("Height", TDialogPlacement{}.Height);
  // A size of nothing cannot be shown; a window larger than the screen could never be seen whole.
  if (p.Width < 1) p.Width = TDialogPlacement{}.Width;
  if (p.Height < 1) p.Height = TDialogPlacement{}.Height;
  p.Width = std::min(p.Width, std::max(screen.Width, 1));
  p.Height = std::min(p.Height, std::max(screen.Height - band, 1));
  p.Left = readInt("Left", (screen.Width - p.Width) / 2);
  p.Top = readInt("Top", (screen.Height - p.Height - band) / 2);
  p.WindowsState = readInt("WindowsState", kShowNormal);
  // Only the three states the dialog writes; anything else (0 would hide it) opens it normally.
  if (p.WindowsState != kShowMaximized && p.WindowsState != kShowMinimized) p.WindowsState = kShowNormal;
  if (screen.Height < p.Top + p.Height) p.Top = screen.Height - p.Height - band;
  if (screen.Width < p.Left + p.Width) p.Left = screen.Width - p.Width;
  if (p.Top < 0) p.Top = 0;
  if (p.Left < 0) p.Left = 0;
  return p;
}

TCollapsedSize CollapsedSize(const std::vector<TTextLineSize>& lines, TSystemFrame frame) {
  const int margin = 2 * frame.FrameWidth + 58;
  const int limit = kCollapsedMaxWidth - margin;
  int width = 0, height = 0;
  for (const TTextLineSize& line : lines) {
    if (line.Width > width) {
      width = line.Width + 16;
      // A line wider than the window can be wraps: one more line height per limit it exceeds.
      if (limit < width) {
        height += ((width - limit) / limit + 1) * line.Height;
        width = limit;
      }
    }
    height += line.Height;
  }
  TCollapsedSize size;
  size.WindowWidth = std::max(width + margin, kCollapsedMinWidth);
  size.TextWidth = size.WindowWidth - margin;
  size.TextHeight = height;
  size.WindowHeight = std::max(height - 39, 0) + 2 * (frame.FrameHeight - 1) + 88 + frame.SmallCaptionHeight;
  return size;
}

std::vector<std::string> CollapsedMeasureLines(std::string_view shortMessage, std::string_view sendText,
                                               std::string_view copyText) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= shortMessage.size(); ++i) {
    if (i == shortMessage.size()) {
      if (i > start) lines.emplace_back(shortMessage.substr(start, i - start));
      break;
    }
    const char c = shortMessage[i];
    if (c != '\r' && c != '\n') continue;
    lines.emplace_back(shortMessage.substr(start, i - start));
    if (c == '\r' && i + 1 < shortMessage.size() && shortMessage[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.push_back(std::string(sendText) + "    " + std::string(copyText));
  return lines;
}

int ButtonWidthFor(int textWidth) { return std::max(75, textWidth + 16); }

TDialogLayout LayoutFor(int cw, int ch, int band, const TButtonWidths& buttons) {
  const int y = ch - band - 32;
  const int half = (cw - 8) / 2;
  TDialogLayout l;
  l.Tabs = {4, 52, cw - 8, ch - 90 - band};
  l.Message = {48, 8, cw - 56, 42};
  l.Ok = {(cw - buttons.Ok) / 2, y, buttons.Ok, 25};
  l.Terminate = {5, y, buttons.Terminate, 25};
  l.Details = {cw - 5 - buttons.Details, y, buttons.Details, 25};
  l.Send = {4, y + 34, half, 13};
  l.Copy = {cw - half - 4, y + 34, half, 13};
  l.Screenshot = {23, y + 50, cw - 23, 13};
  return l;
}

bool TerminateButtonShown(bool showTerminateButton, int errorCount, int terminateAfterErrors) {
  return showTerminateButton && errorCount > terminateAfterErrors;
}

bool ShowsInCallStackList(const TCrashDebugInfo& entry) {
  switch (entry.LocationKind) {
    case kLocationExport:
    case kLocationDebugInfo:
      return true;
    case kLocationExportUnit:
      return entry.Module == nullptr || entry.Module->ModuleKind != kModuleProgram;
    default:
      return false;
  }
}

int CallStackIcon(const TCrashDebugInfo& entry) {
  if (entry.LocationKind == kLocationDebugInfo) return kIconPas;
  const std::uint8_t moduleKind = entry.Module != nullptr ? entry.Module->ModuleKind : std::uint8_t{kModuleNotExamined};
  switch (moduleKind) {
    case kModuleProgram:
      return kIconVcl;
    case kModulePackage:
      return kIconBpl;
    case kModuleNotExamined:
    case kModuleLibrary:
      return kIconDll;
    default:
      return kIconPas;
  }
}

std::string FileNameWithoutFolder(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

int ModuleIcon(std::string_view fileName) {
  const std::string name = FileNameWithoutFolder(fileName);
  const std::size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  for (char& c : extension) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (extension == ".BPL" || extension == ".DPL") return kIconBpl;
  if (extension == ".EXE") return kIconVcl;
  return kIconDll;
}

std::string ShortVersion(std::string_view version) {
  const std::size_t first = version.find('.');
  const std::size_t second = first == std::string_view::npos ? first : version.find('.', first + 1);
  if (second == std::string_view::npos) return std::string(version);
  return std::string(version.substr(0, second + 1)) + "x";
}

std::string SizeInKb(std::uint32_t bytes) {
  std::uint32_t kb = bytes / 1024;
  const std::uint32_t rest = bytes % 1024;
  if (rest > 512 || (rest == 512 && kb % 2 == 1)) ++kb;
  return std::to_string(kb) + " Kb";
}

std::array<std::string, 6> CallStackCells(const TCrashDebugInfo& entry) {
  return {Hex8(entry.Address),
          entry.Module != nullptr ? FileNameWithoutFolder(entry.Module->FileName) : std::string(),
          entry.UnitName,
          entry.ClassName,
          entry.ProcedureName,
          entry.Line != 0 ? std::to_string(entry.Line) : std::string()};
}

std::string CallStackColumnKey(int column) { return "Col" + std::to_string(column); }
std::string ModuleColumnKey(int column) { return "ColMod" + std::to_string(column); }

std::string TrimReproduceText(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::array<std::uint8_t, kIdeMessageSize> IdeSourceLocationMessage(std::string_view unit, std::int32_t line) {
  std::array<std::uint8_t, kIdeMessageSize> message{};
  const std::size_t length = std::min<std::size_t>(unit.size(), 2047);  // the last byte stays 0
  std::memcpy(message.data(), unit.data(), length);
  const auto value = static_cast<std::uint32_t>(line);
  for (int i = 0; i < 4; ++i) message[2048 + i] = static_cast<std::uint8_t>(value >> (8 * i));
  return message;
}

namespace {
constexpr std::uint32_t Rgb(int r, int g, int b) {
  return static_cast<std::uint32_t>(r) | static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b) << 16;
}
}  // namespace

TCaptionColors CaptionColors(bool active) {
  if (active) return {Rgb(64, 64, 64), Rgb(128, 128, 128), Rgb(130, 154, 194)};
  return {Rgb(48, 48, 48), Rgb(96, 96, 96), Rgb(151, 151, 151)};
}

std::vector<std::uint32_t> CaptionGradient(std::uint32_t start, int captionHeight) {
  std::vector<std::uint32_t> steps;
  std::uint32_t colour = start;
  for (int i = 0; i < captionHeight / 5; ++i) {
    std::uint32_t next = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const long component = std::lround(static_cast<double>(colour >> shift & 0xFF) * 0.96);
      next |= static_cast<std::uint32_t>(std::min(component, 255L)) << shift;
    }
    colour = next;
    steps.push_back(colour);
  }
  return steps;
}

}  // namespace pelloran::crashlog
