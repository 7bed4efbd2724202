// A web-framework application (its server controller's handler is hooked): the first thread of
// the socket server's peer-thread class is the framework's worker. An exception that only its
// thread wrapper catches counts as handled there (the framework deals with its worker's errors),
// so it is not reported; the same exception in an ordinary worker thread is reported at once,
// on that thread.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG: ^  2\.5 Message *: The plain worker failed\.\r$
// LOG_FIRST_STACK_ROW: \|crash_peer_thread\.exe *\|peer_thread\.cpp *\| *\|FailRequest *\| *{@raise} *\|
// STDOUT: ^peer thread ended with: The peer thread failed$
// STDOUT: ^plain worker ended with: The plain worker failed$
#include <cstdio>
#include <string>

#include "base/exceptions.h"
#include "crashlog/flow/install.h"
#include "runtime/application.h"
#include "runtime/thread.h"
#include "tests/crashlog/capture/crash/framework_standins_parts/standins.h"

using namespace pelloran;

__attribute__((noinline)) void FailRequest(const std::string& message) {
  throw EInOutError(message, 5);  // @raise
}

// Named as the socket server's peer-thread class.
class TIdPeerThread : public TThread {
 protected:
  void Execute() override { FailRequest("The peer thread failed"); }
};

class TPlainWorker : public TThread {
 protected:
  void Execute() override { FailRequest("The plain worker failed"); }
};

void Run(TThread& thread, const char* name) {
  thread.Resume();
  thread.WaitFor();
  std::printf("%s ended with: %s\n", name, ExceptionMessage(thread.FatalException()).c_str());
  std::fflush(stdout);
}

int main() {
  crashlog::InstallReporter();
  TIWServerControllerBase controller;  // present, so its handler is hooked
  (void)controller;
  {
    TIdPeerThread peer;
    Run(peer, "peer thread");
  }
  {
    TPlainWorker plain;
    Run(plain, "plain worker");
  }
  crashlog::UninstallReporter();
  return 0;
}
