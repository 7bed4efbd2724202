// An exception that nothing catches in the main thread is reported at once, while its stack is
// intact, and the process ends with exit code 1; the system's crash box never appears.
// EXIT: 1
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EConvertError\r$
// LOG: ^  2\.5 Message *: '12x' is not a valid number\.\r$
// LOG_FIRST_STACK_ROW: \|main_uncaught\.cpp *\| *\|ParseCount *\| *{@throw} *\|
// LOG: \|main_uncaught\.cpp *\| *\|main *\|
#include <cstdio>

#include "base/exceptions.h"
#include "tests/crashlog/capture/crash/crash_support.h"

using namespace pelloran;

__attribute__((noinline)) int ParseCount(const char* text) {
  throw EConvertError(std::string("'") + text + "' is not a valid number");  // @throw
}

int main() {
  crashlog::InstallReporter();
  std::printf("%d\n", ParseCount("12x"));
  return 0;
}
