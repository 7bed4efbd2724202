// A stand-in of the framework class whose top-level handler the reporter hooks by this name.
#include <cstdio>

#include "tests/crashlog/capture/crash/framework_standins_parts/standins.h"

__attribute__((noinline)) void TISAPIApplication::ISAPIHandleException(void* /*sender*/) {
  std::printf("TISAPIApplication.ISAPIHandleException ran\n");
  std::fflush(stdout);
}
