// Whatever a C++ program throws, the report names its type and gives its message: an exception
// escaping a std::thread's function is reported at once, on that thread (which ends, while the
// program goes on), and one escaping the main thread ends the program. Standard exceptions give
// their what() (UTF-8 in the ANSI code page), other values their type and no message.
// EXIT: 1
// ENTRIES: 7
// LOG_ANY: ^  2\.4 Type *: std::runtime_error\r\n  2\.5 Message *: disk full\.\r$
// LOG_ANY: ^  2\.4 Type *: app::QuotaError\r\n  2\.5 Message *: quota of 5 GB used up\.\r$
// LOG_ANY: ^  2\.4 Type *: std::bad_alloc\r\n  2\.5 Message *: std::bad_alloc\.\r$
// LOG_ANY: ^  2\.4 Type *: int\r\n  2\.5 Message *: Unknown error message\.\r$
// LOG_ANY: ^  2\.4 Type *: char const\*\r\n  2\.5 Message *: Unknown error message\.\r$
// LOG_ANY: ^  2\.4 Type *: std::runtime_error\r\n  2\.5 Message *: 磁盘已满 \(D:\)\.\r$
// LOG_ANY: ^  2\.4 Type *: std::runtime_error\r\n  2\.5 Message *: the main thread's own error\.\r$
// LOG_FIRST_STACK_ROW: \|crash_cpp_worker_errors\.exe *\|cpp_worker_errors\.cpp *\| *\|Throw\w+ *\|
// STDOUT: ^six workers ended$
#include <cstdio>
#include <new>
#include <stdexcept>
#include <thread>

#include "crashlog/flow/install.h"

namespace app {
struct QuotaError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
}  // namespace app

__attribute__((noinline)) void ThrowRuntimeError() { throw std::runtime_error("disk full"); }
__attribute__((noinline)) void ThrowQuotaError() { throw app::QuotaError("quota of 5 GB used up"); }
__attribute__((noinline)) void ThrowBadAlloc() {
  const std::bad_alloc error;
  throw error;
}
__attribute__((noinline)) void ThrowInt() { throw 42; }
__attribute__((noinline)) void ThrowText() { throw "a bare text"; }
// "磁盘已满 (D:)" in UTF-8.
__attribute__((noinline)) void ThrowUtf8() { throw std::runtime_error("\xE7\xA3\x81\xE7\x9B\x98\xE5\xB7\xB2\xE6\xBB\xA1 (D:)"); }
__attribute__((noinline)) void ThrowInMain() { throw std::runtime_error("the main thread's own error"); }

int main() {
  pelloran::crashlog::InstallReporter();
  for (void (*work)() : {ThrowRuntimeError, ThrowQuotaError, ThrowBadAlloc, ThrowInt, ThrowText, ThrowUtf8}) {
    std::thread worker(work);
    worker.join();
  }
  std::printf("six workers ended\n");
  std::fflush(stdout);
  ThrowInMain();
  return 0;
}
