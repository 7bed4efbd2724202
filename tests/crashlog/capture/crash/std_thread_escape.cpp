// An exception escaping a std::thread's function is reported at once, on that thread, with the
// stack of the code that started the thread; that thread ends and the program goes on.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG_FIRST_STACK_ROW: \|std_thread_escape\.cpp *\| *\|LoadCatalogue *\| *{@throw} *\|
// LOG: \|std_thread_escape\.cpp *\| *\|StartLoader *\|
// STDOUT: ^main goes on$
#include <cstdio>
#include <thread>

#include "base/exceptions.h"
#include "crashlog/flow/install.h"

using namespace pelloran;

__attribute__((noinline)) void LoadCatalogue() { throw EInOutError("Catalogue missing", 2); }  // @throw

__attribute__((noinline)) std::thread StartLoader() { return std::thread(LoadCatalogue); }

int main() {
  crashlog::InstallReporter();
  std::thread loader = StartLoader();
  loader.join();
  std::printf("main goes on\n");
  crashlog::UninstallReporter();
  return 0;
}
