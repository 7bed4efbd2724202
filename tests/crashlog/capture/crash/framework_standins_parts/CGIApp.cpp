// A stand-in of the framework class whose top-level handler the reporter hooks by this name.
#include <cstdio>

#include "tests/crashlog/capture/crash/framework_standins_parts/standins.h"

__attribute__((noinline)) void TCGIApplication::CGIHandleException(void* /*sender*/) {
  std::printf("TCGIApplication.CGIHandleException ran\n");
  std::fflush(stdout);
}
