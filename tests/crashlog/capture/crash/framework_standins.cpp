// The handlers of the other frameworks are hooked by their names as well: an exception that
// reaches one of them is reported, and the framework's own handler then does not run. The
// service's log writer still runs for messages that report no exception.
// EXIT: 0
// ENTRIES: 5
// LOG: ^  2\.4 Type *: EInOutError\r$
// STDOUT: ^TService\.LogMessage ran: service started$
// STDOUT: ^done$
#include <cstdio>
#include <functional>

#include "base/exceptions.h"
#include "crashlog/flow/install.h"
#include "tests/crashlog/capture/crash/framework_standins_parts/standins.h"

using namespace pelloran;

// Runs `handler` inside a catch block, as a framework does with an exception in flight.
void WithExceptionInFlight(int n, const std::function<void()>& handler) {
  try {
    throw EInOutError("Request " + std::to_string(n) + " failed", 5);
  } catch (...) {
    handler();
  }
}

int main() {
  crashlog::InstallReporter();
  TCGIApplication cgi;
  TISAPIApplication isapi;
  TIdThread indy;
  TService service;
  TIWServerControllerBase controller;
  service.LogMessage("service started", 0, 0, 0);
  WithExceptionInFlight(1, [&] { cgi.CGIHandleException(nullptr); });
  WithExceptionInFlight(2, [&] { isapi.ISAPIHandleException(nullptr); });
  WithExceptionInFlight(3, [&] { indy.DoException(nullptr); });
  WithExceptionInFlight(4, [&] { service.LogMessage("request failed", 1, 0, 0); });
  WithExceptionInFlight(5, [&] { controller.DoException(nullptr, nullptr); });
  std::printf("done\n");
  crashlog::UninstallReporter();
  return 0;
}
