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
  if (setup_.Switches.Save && setup_.Switches.Debug) SaveLastLineLocked();
}

bool TTraceLog::SaveLastLineLocked() {
  // The file holds every line but the last as this trace wrote it: adding the last line gives the
  // same file as writing all of them, without rewriting megabytes per line of a long report.
  if (savedLines_ + 1 != lines_.size() || setup_.LogPath.empty()) return SaveLocked();
  std::FILE* file = std::fopen(setup_.LogPath.c_str(), "ab");
  if (file == nullptr) return SaveLocked();
  const std::string& line = lines_.back();
  const bool same = std::ftell(file) == savedBytes_;  // nobody changed the file meanwhile
  bool ok = same && std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
            std::fwrite("\r\n", 1, 2, file) == 2;
  ok = std::fclose(file) == 0 && ok;
  if (!ok) return SaveLocked();
  ++savedLines_;
  savedBytes_ += static_cast<long>(line.size() + 2);
  return true;
}

bool TTraceLog::Save() {
  if (!Enabled()) return false;
  std::lock_guard guard(lock_);
  return SaveLocked();
}

bool TTraceLog::SaveLocked() {
  if (setup_.LogPath.empty()) return false;
  std::FILE* file = std::fopen(setup_.LogPath.c_str(), "wb");
  savedLines_ = 0;
  savedBytes_ = 0;
  if (file == nullptr) return false;
  bool ok = true;
  long bytes = 0;
  for (const std::string& line : lines_) {
    ok = ok && std::fwrite(line.data(), 1, line.size(), file) == line.size();
    ok = ok && std::fwrite("\r\n", 1, 2, file) == 2;
    bytes += static_cast<long>(line.size() + 2);
  }
  ok = std::fclose(file) == 0 && ok;
  if (ok) {
    savedLines_ = lines_.size();
    savedBytes_ = bytes;
  }
  return ok;
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
