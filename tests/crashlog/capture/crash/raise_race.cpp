// A report holds the type and message of its own exception, while another thread throws and
// catches as fast as it can: each of twenty errors of the main thread's timer ticks is reported
// with its own, never with the other thread's last raise.
// EXIT: 0
// ENTRIES: 20
// LOG: ^  2\.4 Type *: std::runtime_error\r$
// LOG: ^  2\.5 Message *: tick \d+ could not read the job list\.\r$
// LOG_NONE: logic_error|the worker's own
// STDOUT: ^the worker caught \d+$
#include <atomic>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/crashlog/capture/crash/crash_support.h"

namespace {

std::atomic<bool> stop{false};

__attribute__((noinline)) void ThrowAndCatch(long& caught) {
  try {
    throw std::logic_error("the worker's own");
  } catch (const std::logic_error&) {
    ++caught;
  }
}

__attribute__((noinline)) void ReadJobList(int tick) {
  throw std::runtime_error("tick " + std::to_string(tick) + " could not read the job list");
}

}  // namespace

int main() {
  pelloran::crashlog::InstallReporter();
  long caught = 0;
  std::thread worker([&caught] {
    while (!stop) ThrowAndCatch(caught);
  });
  std::vector<std::function<void()>> steps;
  for (int tick = 1; tick <= 20; ++tick) steps.push_back([tick] { ReadJobList(tick); });
  pelloran::crashtest::RunStepsInTimerTicks(steps);
  stop = true;
  worker.join();
  std::printf("the worker caught %ld\n", caught);
  pelloran::crashlog::UninstallReporter();
  return 0;
}
