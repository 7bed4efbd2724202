#include "crashlog/infra/diagnostics/trace.h"

#include <cstdio>

namespace pelloran::crashlog {

TTraceLog::TTraceLog(TSetup setup)
    : setup_(std::move(setup)), enabled_(setup_.Switches.Debug || setup_.DebuggerAttached) {}

void TTraceLog::Write(std::string_view name, std::initializer_list<TraceArg> args, int indentChange) {
  if (!Enabled()) return;
  // Formatted before taking the lock: arguments may be slow to write (locale look-ups).
  const std::string arguments = FormatTraceArgs(args, setup_.Settings);
  const TLocalTime now = setup_.Clock != nullptr ? setup_.Clock() : TLocalTime{};

  std::lock_guard guard(lock_);
  if (indentChange < 0) {
    const auto shorten = static_cast<std::size_t>(-static_cast<long long>(indentChange));
    indentation_.resize(shorten >= indentation_.size() ? 0 : indentation_.size() - shorten);
  }
  std::string line = FormatTraceStamp(now);
  line += "  ";
  line += indentation_;
  line += name;
  line += arguments;
  lines_.push_back(std::move(line));
  if (indentChange > 0) indentation_.append(static_cast<std::size_t>(indentChange), ' ');
  if (setup_.Switches.Save && setup_.Switches.Debug) SaveLocked();
}

bool TTraceLog::Save() {
  if (!Enabled()) return false;
  std::lock_guard guard(lock_);
  return SaveLocked();
}

bool TTraceLog::SaveLocked() {
  if (setup_.LogPath.empty()) return false;
  std::FILE* file = std::fopen(setup_.LogPath.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = true;
  for (const std::string& line : lines_) {
    ok = ok && std::fwrite(line.data(), 1, line.size(), file) == line.size();
    ok = ok && std::fwrite("\r\n", 1, 2, file) == 2;
  }
  return std::fclose(file) == 0 && ok;
}

std::vector<std::string> TTraceLog::Lines() const {
  std::lock_guard guard(lock_);
  return lines_;
}

std::string TTraceLog::Indentation() const {
  std::lock_guard guard(lock_);
  return indentation_;
}

void Trace(std::string_view name, std::initializer_list<TraceArg> args, int indentChange) noexcept {
  try {
    TraceLog().Write(name, args, indentChange);
  } catch (...) {
    // Out of memory while tracing: the trace is a help, never a reason to fail.
  }
}

void TraceLeave(std::string_view name, std::initializer_list<TraceArg> args) noexcept {
  try {
    if (!TraceLog().Enabled()) return;
    TraceLog().Write(std::string(name) + "=", args, -2);
  } catch (...) {
  }
}

bool TraceEnabled() noexcept {
  try {
    return TraceLog().Enabled();
  } catch (...) {
    return false;  // the trace could not even be made
  }
}

void SetTraceEnabled(bool enabled) noexcept {
  try {
    TraceLog().SetEnabled(enabled);
  } catch (...) {
  }
}

void SaveTrace() noexcept {
  try {
    TraceLog().Save();
  } catch (...) {
  }
}

}  // namespace pelloran::crashlog
