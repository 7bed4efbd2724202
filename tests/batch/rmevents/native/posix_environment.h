#pragma once
// The tool's files on Linux, for native builds of the cleaner (sanitizers, fuzzing, quick runs).
// Paths travel as wide strings holding one byte per character.

#include <string>

#include "batch/rmevents/tool.h"

namespace pelloran::rmevents {

std::wstring WidenBytes(const std::string& bytes);
std::string NarrowBytes(const std::wstring& wide);

class PosixEnvironment : public ToolEnvironment {
 public:
  std::unique_ptr<InputFile> OpenInput(const std::wstring& path) override;
  std::unique_ptr<WritableFile> CreateOutput(const std::wstring& path) override;
  std::optional<std::string> ReadSmallFile(const std::wstring& path, size_t maxBytes) override;
  bool SameFile(const std::wstring& a, const std::wstring& b) override;
  uint64_t Milliseconds() override;
  std::string DisplayPath(const std::wstring& path) override { return NarrowBytes(path); }
};

}  // namespace pelloran::rmevents
