#pragma once
// One run of the tool: read the control files, clean the input into the output, and log what
// was read, removed and written. What the batch runner relies on:
//  - the output grows while it is written and is complete when it stops growing;
//  - the log ends with a line "***" whether the run succeeded or not, written only after the
//    output is closed (or removed);
//  - after a failure no file is left at the output path.
// Files are reached through ToolEnvironment, so the whole run also works on memory buffers.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/rmevents/byte_stream.h"
#include "batch/rmevents/command_line.h"
#include "batch/rmevents/rm_scan.h"

namespace pelloran::rmevents {

class RunLog {
 public:
  virtual ~RunLog() = default;
  // One line, without its line end.
  virtual void Line(const std::string& text) = 0;
};

class WritableFile : public OutputFile {
 public:
  // Raises EInOutError when the system reports a failure while closing.
  virtual void Close() = 0;
};

class ToolEnvironment {
 public:
  virtual ~ToolEnvironment() = default;
  // These raise EInOutError with a message fit for the log.
  virtual std::unique_ptr<InputFile> OpenInput(const std::wstring& path) = 0;
  virtual std::unique_ptr<WritableFile> CreateOutput(const std::wstring& path) = 0;
  // The whole file, or nothing when it cannot be read or exceeds maxBytes.
  virtual std::optional<std::string> ReadSmallFile(const std::wstring& path, size_t maxBytes) = 0;
  // True when the two paths name one existing file.
  virtual bool SameFile(const std::wstring& a, const std::wstring& b) = 0;
  // Removes the file if there is one; false when one is still there afterwards.
  virtual bool RemoveFile(const std::wstring& path) = 0;
  // The path as the log shows it (the ANSI code page on Windows).
  virtual std::string DisplayPath(const std::wstring& path) = 0;
};

struct RunOutcome {
  bool succeeded = false;
  uint64_t inputSize = 0;
  uint64_t outputSize = 0;
};

// Runs one job and writes its whole log, the final "***" included.
RunOutcome RunTool(const ParsedCommandLine& commandLine, ToolEnvironment& env, RunLog& log,
                   const ScanLimits& limits = {});

// Exit status for a run: 0 success, 1 failure, 2 unusable command line.
int ExitStatus(const ParsedCommandLine& commandLine, const RunOutcome& outcome);

}  // namespace pelloran::rmevents
