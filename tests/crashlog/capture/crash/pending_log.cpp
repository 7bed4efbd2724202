// A report made while another process holds the log open without sharing is not lost: the
// warning comes and the failure handler hears of it, the report waits beside the log, and the
// next save that succeeds moves it into the log, in its order; one that still waits when the
// program ends is moved by the next start. Every report is logged exactly once.
// EXIT: 0
// ENTRIES: 3
// LOG: ^  2\.4 Type *: EInOutError\r$
// STDOUT: ^log failed: \[Log\] Cannot open the error log
// STDOUT: ^after held 1: log \(empty\); beside: held 1; temp: none\nafter free 2: log: held 1, free 2; beside: none; temp: none\n
// STDOUT: ^after held 3: log: held 1, free 2; beside: held 3; temp: none\nafter a new start: log: held 1, free 2, held 3; beside: none; temp: none$
// WINDOWS: its timer ticks run in a window of its own (the test holds the display lock)
//
// Other modes, for pending_log_test.py: "fail N TAG" reports N errors "TAG 1" ... "TAG N", and
// "start" only installs the reporter (which moves what waits into the log); "hold LOG" is the
// other process.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "crashlog/flow/pipeline.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

namespace {

std::string ReadFileBytes(const std::string& path, bool& exists) {
  exists = false;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  exists = true;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  ::CloseHandle(file);
  return bytes;
}

// The messages of the reports in a log-format file, in order: "none" when it does not exist,
// "(empty)" when it holds none.
std::string Messages(const std::string& path) {
  bool exists = false;
  const std::string bytes = ReadFileBytes(path, exists);
  if (!exists) return "none";
  std::string list;
  const std::string key = "\r\n  2.5 Message";
  for (std::size_t at = bytes.find(key); at != std::string::npos; at = bytes.find(key, at + 1)) {
    const std::size_t begin = bytes.find(": ", at + key.size()) + 2;
    std::string message = bytes.substr(begin, bytes.find("\r\n", begin) - begin);
    if (!message.empty() && message.back() == '.') message.pop_back();
    list += (list.empty() ? "" : ", ") + message;
  }
  return list.empty() ? "(empty)" : list;
}

// The log beside this program (its options name no other place).
std::string LogFile() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string exe = path;
  return exe.substr(0, exe.find_last_of('.')) + ".elf";
}

std::string TempPending() {
  char folder[MAX_PATH + 1] = {};
  ::GetTempPathA(sizeof folder, folder);
  const std::string log = LogFile();
  return std::string(folder) + log.substr(log.find_last_of('\\') + 1) + ".pending";
}

void PrintState(const char* when) {
  const std::string log = Messages(LogFile());
  std::printf("%s: log%s%s; beside: %s; temp: %s\n", when, log == "(empty)" ? " " : ": ", log.c_str(),
              Messages(LogFile() + ".pending").c_str(), Messages(TempPending()).c_str());
  std::fflush(stdout);
}

std::string OwnPath() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

// Runs this program with `arguments`; returns its process handle (null on failure).
HANDLE StartSelf(const std::string& arguments) {
  std::string line = "\"" + OwnPath() + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return nullptr;
  ::CloseHandle(info.hThread);
  return info.hProcess;
}

// The other process: holds the log open without sharing until told to let go.
class THolder {
 public:
  void Start() {
    const std::string tag = std::to_string(::GetCurrentProcessId());
    ready_ = ::CreateEventA(nullptr, TRUE, FALSE, ("pending-log-ready-" + tag).c_str());
    release_ = ::CreateEventA(nullptr, TRUE, FALSE, ("pending-log-release-" + tag).c_str());
    process_ = StartSelf("hold \"" + LogFile() + "\" " + tag);
    if (process_ == nullptr || ::WaitForSingleObject(ready_, 30000) != WAIT_OBJECT_0)
      std::printf("the holder did not start\n");
  }
  void Stop() {
    ::SetEvent(release_);
    ::WaitForSingleObject(process_, 30000);
    for (HANDLE h : {process_, ready_, release_}) ::CloseHandle(h);
  }

 private:
  HANDLE ready_ = nullptr, release_ = nullptr, process_ = nullptr;
};

int Hold(const char* log, const std::string& tag) {
  HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, ("pending-log-ready-" + tag).c_str());
  HANDLE release = ::OpenEventA(SYNCHRONIZE, FALSE, ("pending-log-release-" + tag).c_str());
  HANDLE file = ::CreateFileA(log, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || ready == nullptr || release == nullptr) return 2;
  ::SetEvent(ready);
  ::WaitForSingleObject(release, 60000);
  ::CloseHandle(file);
  return 0;
}

[[noreturn]] void Fail(const std::string& message) { throw EInOutError(message, 5); }

int FailTimes(int count, const std::string& tag) {
  crashlog::InstallReporter();
  std::vector<std::function<void()>> steps;
  for (int i = 1; i <= count; ++i) steps.push_back([=] { Fail(tag + " " + std::to_string(i)); });
  crashtest::RunStepsInTimerTicks(steps);
  crashlog::UninstallReporter();
  return 0;
}

int HeldByAnotherProcess() {
  // Nothing left over from an earlier run waits.
  ::DeleteFileA((LogFile() + ".pending").c_str());
  ::DeleteFileA(TempPending().c_str());
  crashlog::InstallReporter();
  crashlog::CrashLogHandlers().ActionFailed = [](const crashlog::TCrashExceptionRecord&, crashlog::TCrashAction,
                                                 bool& retry) {
    std::printf("log failed: %s\n", crashlog::LastErrorMessage().c_str());
    std::fflush(stdout);
    retry = false;
  };
  THolder holder;
  crashtest::RunStepsInTimerTicks({
      [&] { holder.Start(); },
      [] { Fail("held 1"); },
      [&] {
        holder.Stop();
        PrintState("after held 1");
      },
      [] { Fail("free 2"); },
      [] { PrintState("after free 2"); },
      [&] { holder.Start(); },
      [] { Fail("held 3"); },
      [&] {
        holder.Stop();
        PrintState("after held 3");
      },
  });
  crashlog::UninstallReporter();
  // The next start of the program logs what still waits.
  HANDLE next = StartSelf("start");
  ::WaitForSingleObject(next, 60000);
  ::CloseHandle(next);
  PrintState("after a new start");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0) return Hold(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "fail") == 0) return FailTimes(std::atoi(argv[2]), argv[3]);
  if (argc == 2 && std::strcmp(argv[1], "start") == 0) {
    crashlog::InstallReporter();
    crashlog::UninstallReporter();
    return 0;
  }
  return HeldByAnotherProcess();
}
