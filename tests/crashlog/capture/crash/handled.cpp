// Exceptions that the program catches itself are never reported: a typed catch of the class, of a
// base class, a catch-all, and a standard exception; also a fault that a system library probes
// and handles itself.
// EXIT: 0
// ENTRIES: 0
// STDOUT: ^caught 4, probed 1$
#include <cstdio>
#include <stdexcept>

#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) void Fail(int kind) {
  if (kind == 0) throw EInOutError("typed", 2);
  if (kind == 1) throw EConvertError("base");
  if (kind == 2) throw 42;
  throw std::runtime_error("standard");
}

int main() {
  crashlog::InstallReporter();
  int caught = 0;
  try { Fail(0); } catch (const EInOutError&) { ++caught; }
  try { Fail(1); } catch (const Exception&) { ++caught; }
  try { Fail(2); } catch (...) { ++caught; }
  try { Fail(3); } catch (const std::exception&) { ++caught; }
  // The system's probe of unreadable memory handles its own fault.
  const int probed = ::IsBadReadPtr(nullptr, 4) ? 1 : 0;
  std::printf("caught %d, probed %d\n", caught, probed);
  crashlog::UninstallReporter();
  return 0;
}
