// What the interception layer adds to a C++ throw: a throw caught one frame up and twenty frames
// up, timed in the plain program (built without the layer) and with the layer linked in: not
// installed, installed without a notification, and installed with a notification that asks
// IsExceptionHandled, as the reporter does at every raise (the layer then also keeps the stack
// between the raise and the catching frame). A third build installs the whole reporter. Every throw is timed on its own with
// the processor's time-stamp counter and the median is printed: on a machine shared with other
// work a preempted throw only moves the slow end of the distribution.

#include <windows.h>

#include <x86intrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#ifdef PELLORAN_BENCH_WITH_LAYER
#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/intercept.h"
#endif
#ifdef PELLORAN_BENCH_WITH_REPORTER
#include "crashlog/flow/install.h"
#include "crashlog/flow/pipeline.h"
#endif

namespace {

__attribute__((noinline)) void Thrower(int depth) {
  if (depth <= 1) throw std::runtime_error("bench");
  Thrower(depth - 1);
  asm volatile("");  // a real frame per level, no tail call
}

__attribute__((noinline)) int CatchAt(int depth) {
  try {
    Thrower(depth);
  } catch (const std::exception&) {
    return 1;
  }
  return 0;
}

// Time-stamp counter ticks per microsecond, against the performance counter over 200 ms.
double TicksPerMicrosecond() {
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  unsigned long long ticks = __rdtsc();
  do {
    QueryPerformanceCounter(&now);
  } while ((now.QuadPart - start.QuadPart) * 5 < frequency.QuadPart);
  double us = (now.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart;
  return (__rdtsc() - ticks) / us;
}

// One configuration of the program: set up before each batch of throws.
struct TConfiguration {
  const char* Name;
  void (*Enter)();
  std::vector<unsigned long long> Ticks[2];  // depth 1, depth 20
};

// The configurations take turns in batches of 100 throws, so that whatever else the machine does
// slows all of them alike; each throw is timed on its own and the medians are compared.
void Measure(TConfiguration* configurations, int count, int batches = 200) {
  double ticksPerUs = TicksPerMicrosecond();
  CatchAt(20);  // the unwinder sorts its tables on the first throw
  const int kBatches = batches;
  constexpr int kBatch = 100;
  const int depths[2] = {1, 20};
  for (int batch = 0; batch < kBatches; ++batch) {
    for (int c = 0; c < count; ++c) {
      configurations[c].Enter();
      for (int d = 0; d < 2; ++d) {
        for (int i = 0; i < kBatch; ++i) {
          unsigned long long start = __rdtsc();
          int caught = CatchAt(depths[d]);
          configurations[c].Ticks[d].push_back(__rdtsc() - start);
          if (caught != 1) std::printf("lost a throw\n");
        }
      }
    }
  }
  for (int c = 0; c < count; ++c) {
    for (int d = 0; d < 2; ++d) {
      auto& ticks = configurations[c].Ticks[d];
      std::nth_element(ticks.begin(), ticks.begin() + ticks.size() / 2, ticks.end());
      std::printf("%s depth=%d us_per_throw=%.2f\n", configurations[c].Name, depths[d],
                  ticks[ticks.size() / 2] / ticksPerUs);
    }
  }
}

#if defined(PELLORAN_BENCH_WITH_LAYER) && !defined(PELLORAN_BENCH_WITH_REPORTER)
volatile bool lastAnswer;
void AskLikeTheReporter(const pelloran::crashlog::TExceptionObject& object, const void* address, bool) {
  lastAnswer = pelloran::crashlog::IsExceptionHandled(object, address);
}
#endif

}  // namespace

int main() {
#if defined(PELLORAN_BENCH_WITH_REPORTER)
  // The whole reporter installed (its own debug information, the program's options): every raise
  // goes through GoNotify, which writes the EXCEPT channel in place and asks IsExceptionHandled.
  // Against the layer uninstalled in the same process.
  using namespace pelloran::crashlog;
  if (!InstallReporter()) std::printf("the reporter did not install\n");
  TConfiguration configurations[] = {
      {"not-installed", [] { SetRaiseNotify(nullptr); UninstallInterception(); }, {}},
      {"reporter", [] { InstallInterception(); SetRaiseNotify(&OnRaise); }, {}},
  };
  Measure(configurations, 2);
  UninstallReporter();
#elif defined(PELLORAN_BENCH_WITH_LAYER)
  using namespace pelloran::crashlog;
  TConfiguration configurations[] = {
      {"not-installed", [] { UninstallInterception(); }, {}},
      {"installed", [] { InstallInterception(); SetRaiseNotify(nullptr); }, {}},
      {"notified", [] { InstallInterception(); SetRaiseNotify(&AskLikeTheReporter); }, {}},
  };
  Measure(configurations, 3);
  if (!lastAnswer) std::printf("IsExceptionHandled said false\n");
#else
  TConfiguration plain[] = {{"plain", [] {}, {}}};
  Measure(plain, 1);
#endif
  return 0;
}
