#pragma once
// The crash reporter's internal trace: one line when an operation starts and one ("name=") when
// it ends, indented by nesting depth. Off unless the program was started with DEBUG in its last
// parameter or under a debugger; with SAVE as well, every line rewrites the ".log" file beside the
// module, so that the trace survives a reporter that dies half-way.

#include "crashlog/infra/diagnostics/trace_format.h"

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

class TTraceLog {
 public:
  struct TSetup {
    TTraceSwitches Switches;
    bool DebuggerAttached = false;  // switches the trace on as DEBUG does, without saving
    std::string LogPath;            // the ".log" file SaveTrace writes
    TTraceFormatSettings Settings;
    TLocalTime (*Clock)() noexcept = nullptr;
  };

  explicit TTraceLog(TSetup setup);
  TTraceLog(const TTraceLog&) = delete;
  TTraceLog& operator=(const TTraceLog&) = delete;

  bool Enabled() const noexcept { return enabled_.load(); }
  void SetEnabled(bool enabled) noexcept { enabled_.store(enabled); }
  const TTraceSwitches& Switches() const noexcept { return setup_.Switches; }
  const std::string& LogPath() const noexcept { return setup_.LogPath; }

  // Appends one line when the trace is on. A negative indent change shortens the indentation
  // before the line (an exit), a positive one lengthens it after the line (an entry).
  void Write(std::string_view name, std::initializer_list<TraceArg> args, int indentChange);
  // Writes all lines to LogPath, CR LF after each, when the trace is on. False when the file
  // could not be written (or the trace is off).
  bool Save();

  std::vector<std::string> Lines() const;
  std::string Indentation() const;

 private:
  bool SaveLocked();
  // With DEBUG and SAVE, after each line: the file again holds every line.
  bool SaveLastLineLocked();

  TSetup setup_;
  std::atomic<bool> enabled_;
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
  std::string indentation_;
  // What the file holds since this trace last wrote it: its first savedLines_ lines, in bytes.
  std::size_t savedLines_ = 0;
  long savedBytes_ = 0;
};

// The trace of this process, made on first use from the command line and the module's file name.
// It is never destroyed, so that finalization code can still trace and save.
TTraceLog& TraceLog();

// The process trace's entry points; none of them raises.
void Trace(std::string_view name, std::initializer_list<TraceArg> args = {}, int indentChange = 0) noexcept;
inline void TraceEnter(std::string_view name, std::initializer_list<TraceArg> args = {}) noexcept {
  Trace(name, args, 2);
}
// Writes "name=" with the result arguments and steps back out.
void TraceLeave(std::string_view name, std::initializer_list<TraceArg> args = {}) noexcept;
bool TraceEnabled() noexcept;
void SetTraceEnabled(bool enabled) noexcept;
void SaveTrace() noexcept;

}  // namespace pelloran::crashlog
