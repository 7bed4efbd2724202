#include "tests/crashlog/infra/diagnostics/child_process.h"

#include <cstdio>
#include <vector>

namespace pelloran::testing {

namespace {

constexpr DWORD kPatience = 120000;

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA data{};
  ScopedFindHandle search(FindFirstFileA((path + "\\*").c_str(), &data));
  if (search) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string full = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(full.c_str());
      }
    } while (FindNextFileA(search.get(), &data));
  }
  search.reset();
  RemoveDirectoryA(path.c_str());
}

}  // namespace

ScratchFolder::ScratchFolder() {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  static int counter = 0;
  for (;;) {
    char name[64];
    std::snprintf(name, sizeof name, "pelloran-%lu-%lu-%d", GetCurrentProcessId(), GetTickCount(), ++counter);
    path_ = std::string(temp) + name;
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

std::string TestProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\'));
}

std::string SiblingProgram(const std::string& fileName) { return TestProgramFolder() + "\\" + fileName; }

DWORD RunProgram(const std::string& commandLine, const std::string& directory, DWORD creationFlags) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &info))
    return ~0u;
  ScopedKernelHandle process(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  if (WaitForSingleObject(process.get(), kPatience) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 99);
    return ~0u;
  }
  DWORD code = ~0u;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

DWORD RunProgramCapturing(const std::string& commandLine, std::string& output, const std::string& directory) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readRaw = nullptr;
  HANDLE writeRaw = nullptr;
  if (!CreatePipe(&readRaw, &writeRaw, &inherit, 0)) return ~0u;
  ScopedKernelHandle readEnd(readRaw);
  ScopedKernelHandle writeEnd(writeRaw);
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &info))
    return ~0u;
  ScopedKernelHandle process(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  writeEnd.reset();  // so that the read ends when the program does

  output.clear();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
  if (WaitForSingleObject(process.get(), kPatience) != WAIT_OBJECT_0) return ~0u;
  DWORD code = ~0u;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
  }
  return text;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace pelloran::testing
