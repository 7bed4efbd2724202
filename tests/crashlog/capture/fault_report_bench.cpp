// Benchmark program (bench/crashlog/run.sh): the time from a fault to its report written in the
// log, for a fault 64 frames deep in an event handler, dialog off. Prints one line per round and
// the median.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "crashlog/flow/pipeline.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

namespace {

LARGE_INTEGER faultAt;
std::vector<double> milliseconds;

double Elapsed(LARGE_INTEGER from) {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

__attribute__((noinline)) int Descend(int depth) {
  if (depth == 0) {
    ::QueryPerformanceCounter(&faultAt);
    return *crashtest::Opaque<volatile int>(nullptr);
  }
  return Descend(depth - 1) + 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
  crashlog::InstallReporter();
  crashlog::CrashLogHandlers().Action = [](const crashlog::TCrashExceptionRecord&, crashlog::TCrashAction action,
                                           bool&) {
    if (action == crashlog::TCrashAction::AfterLog) milliseconds.push_back(Elapsed(faultAt));
  };
  std::vector<std::function<void()>> steps(static_cast<std::size_t>(rounds), [] { Descend(63); });
  crashtest::RunStepsInTimerTicks(steps);
  crashlog::UninstallReporter();
  for (std::size_t i = 0; i < milliseconds.size(); ++i) std::printf("round %zu: %.2f ms\n", i + 1, milliseconds[i]);
  if (milliseconds.empty()) return 1;
  std::vector<double> sorted = milliseconds;
  std::sort(sorted.begin(), sorted.end());
  std::printf("fault_to_log_ms median %.2f min %.2f max %.2f (%zu reports)\n", sorted[sorted.size() / 2], sorted.front(),
              sorted.back(), sorted.size());
  return 0;
}
