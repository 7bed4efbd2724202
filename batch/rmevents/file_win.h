#pragma once
// The tool's files on Windows: wide paths (the command line is read as UTF-16, so any file name
// the shell can pass works), reads and writes at given offsets through handles, and the log.

#include <cstdio>
#include <string>

#include "batch/rmevents/tool.h"
#include "runtime/scoped_handle.h"

namespace pelloran::rmevents {

class WindowsEnvironment : public ToolEnvironment {
 public:
  // Its errors are in `language`.
  explicit WindowsEnvironment(LogLanguage language) : lang_(language) {}
  std::unique_ptr<InputFile> OpenInput(const std::wstring& path) override;
  std::unique_ptr<WritableFile> CreateOutput(const std::wstring& path) override;
  std::optional<std::string> ReadSmallFile(const std::wstring& path, size_t maxBytes) override;
  bool SameFile(const std::wstring& a, const std::wstring& b) override;
  uint64_t Milliseconds() override;
  std::string DisplayPath(const std::wstring& path) override;

 private:
  LogLanguage lang_;
};

// Writes each line to the log file (CR LF ends, flushed line by line) and to standard output.
class FileRunLog : public RunLog {
 public:
  // False when the file cannot be created.
  bool Open(const std::wstring& path);
  void Line(const std::string& text) override;

 private:
  ScopedFileHandle file_;
};

}  // namespace pelloran::rmevents
