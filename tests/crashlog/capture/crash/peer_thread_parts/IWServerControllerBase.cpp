// A stand-in of the web framework's server controller: the reporter finds its exception handler
// by name and hooks it, which makes the program a web-framework application.
#include <cstdio>

#include "tests/crashlog/capture/crash/framework_standins_parts/standins.h"

__attribute__((noinline)) bool TIWServerControllerBase::DoException(void* /*application*/, void* /*error*/) {
  std::printf("TIWServerControllerBase.DoException ran\n");
  std::fflush(stdout);
  return false;
}
