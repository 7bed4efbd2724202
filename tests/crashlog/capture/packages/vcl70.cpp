// A stand-in of the framework's run-time package: it exports the top-level handler under the
// package's mangled name (see vcl70.def).
#include <cstdio>

extern "C" __attribute__((thiscall)) void StandInHandleException(void* /*self*/, void* /*sender*/) {
  std::printf("package handler ran\n");
  std::fflush(stdout);
}
