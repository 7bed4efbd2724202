#pragma once
// One run of the tool: read the control files, clean the input into the output, and log what
// was read, removed and written. What the batch runner relies on:
//  - nothing is read or written when the output names the input (by any spelling);
//  - the output is written under its partial name (partial_output.h) and, once complete,
//    flushed and moved over the output path: a file there stays untouched until then;
//  - while it works, a log line at least every few seconds;
//  - the log ends with a line "***" whether the run succeeded or not, written only after the
//    output is in place (or the partial file removed);
//  - after a failure the only file removed is the partial one this run created.
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

// The output while it is written, under its partial name.
class WritableFile : public OutputFile {
 public:
  // Flushes the file to the disk, closes it and moves it over the output path (replacing a file
  // there). Raises EInOutError; the file is then still the partial one.
  virtual void Commit() = 0;
  // Removes the partial file through the handle that created it, unless committed. False when
  // it could not be removed.
  virtual bool Discard() = 0;
};

class ToolEnvironment {
 public:
  virtual ~ToolEnvironment() = default;
  // These raise EInOutError with a message fit for the log.
  virtual std::unique_ptr<InputFile> OpenInput(const std::wstring& path) = 0;
  // Creates the output's partial file; fails if a file of that name exists.
  virtual std::unique_ptr<WritableFile> CreateOutput(const std::wstring& path) = 0;
  // The whole file, or nothing when it cannot be read or exceeds maxBytes.
  virtual std::optional<std::string> ReadSmallFile(const std::wstring& path, size_t maxBytes) = 0;
  // True when the two paths name one file: the same file of the same volume when both exist,
  // else the same full path (case ignored).
  virtual bool SameFile(const std::wstring& a, const std::wstring& b) = 0;
  // A steady clock, for the progress lines.
  virtual uint64_t Milliseconds() = 0;
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
