// A stand-in of the service framework's event-log writer, which the reporter hooks by this name.
#include <cstdio>

#include "tests/crashlog/capture/crash/framework_standins_parts/standins.h"

__attribute__((noinline)) void TService::LogMessage(const char* message, int, int, int) {
  std::printf("TService.LogMessage ran: %s\n", message);
  std::fflush(stdout);
}
