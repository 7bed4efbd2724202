// Two processes report into one log at once, twenty distinct errors each (the program starts a
// second copy of itself, and both fail in timer ticks): every report is in the log once, because
// each save holds the log's lock from its read to its replace. Duplicates are not skipped.
// EXIT: 0
// ENTRIES: 40
// LOG: ^  2\.5 Message *: (first|second) writer, error \d+\.\r$
// STDOUT: ^second writer ended with 0$
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

namespace {

constexpr int kErrors = 20;

std::vector<std::function<void()>> FailingSteps(const std::string& writer) {
  std::vector<std::function<void()>> steps;
  for (int i = 0; i < kErrors; ++i)
    steps.push_back([writer, i] { throw EInOutError(writer + " writer, error " + std::to_string(i + 1), 5); });
  return steps;
}

}  // namespace

int main(int argc, char** argv) {
  const bool second = argc > 1 && std::string(argv[1]) == "second";
  PROCESS_INFORMATION child{};
  if (!second) {
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = "\"" + std::string(self) + "\" second";
    STARTUPINFOA startup{sizeof startup};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
      return 3;
  }
  crashlog::InstallReporter();
  crashtest::RunStepsInTimerTicks(FailingSteps(second ? "second" : "first"));
  crashlog::UninstallReporter();
  if (!second) {
    ::WaitForSingleObject(child.hProcess, 120000);
    DWORD code = 1;
    ::GetExitCodeProcess(child.hProcess, &code);
    std::printf("second writer ended with %lu\n", code);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(child.hThread);
  }
  return 0;
}
