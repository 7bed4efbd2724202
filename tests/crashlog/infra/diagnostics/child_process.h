#pragma once
// Helpers for tests that watch another program: a private scratch folder, and starting a program
// with a given command line and folder.

#include "runtime/scoped_handle.h"

#include <windows.h>

#include <string>

namespace pelloran::testing {

// A fresh folder under the temporary folder, removed (with its files) at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// The folder of the running test program, without a final separator.
std::string TestProgramFolder();

// A program built beside the test program.
std::string SiblingProgram(const std::string& fileName);

// Starts `commandLine` in `directory` (empty: the current one), waits for it and returns its exit
// code; ~0u when it could not be started or did not end within two minutes.
DWORD RunProgram(const std::string& commandLine, const std::string& directory = {}, DWORD creationFlags = 0);

// Same, capturing what the program writes to its standard output.
DWORD RunProgramCapturing(const std::string& commandLine, std::string& output, const std::string& directory = {});

std::string ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace pelloran::testing
