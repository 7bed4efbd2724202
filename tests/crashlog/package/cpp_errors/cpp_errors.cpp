// Fails in the way its command line names, in its main thread:
//   throw <runtime_error|quota|bad_alloc|int|text|utf8>   an exception that nothing catches
//   abort | sigabrt | assert | pure_virtual | noexcept | terminate
// The statements that fail carry a "// fails: <name>" comment, which the test finds.
#undef NDEBUG
#include <windows.h>

#include <cassert>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "crashlog/crashlog.h"

namespace app {
struct QuotaError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
}  // namespace app

namespace {

__attribute__((noinline)) void ThrowRuntimeError() { throw std::runtime_error("disk full"); }  // fails: runtime_error
__attribute__((noinline)) void ThrowQuotaError() { throw app::QuotaError("quota of 5 GB used up"); }  // fails: quota
__attribute__((noinline)) void ThrowBadAlloc() { throw std::bad_alloc(); }  // fails: bad_alloc
__attribute__((noinline)) void ThrowInt() { throw 42; }  // fails: int
__attribute__((noinline)) void ThrowText() { throw "a bare text"; }  // fails: text
// "磁盘已满 (D:)" in UTF-8.
__attribute__((noinline)) void ThrowUtf8() {
  throw std::runtime_error("\xE7\xA3\x81\xE7\x9B\x98\xE5\xB7\xB2\xE6\xBB\xA1 (D:)");  // fails: utf8
}

__attribute__((noinline)) void CallAbort() { std::abort(); }  // fails: abort
__attribute__((noinline)) void RaiseAbortSignal() { std::raise(SIGABRT); }  // fails: sigabrt

volatile int loadedCount = 3;
__attribute__((noinline)) void CheckCount() { assert(loadedCount == 2); }  // fails: assert

}  // namespace

// A base class that calls a function of its own class while it is being constructed, through a
// pointer the compiler cannot follow (outside the anonymous namespace: a compiler that knew every
// class deriving from it would call the only override instead).
struct Plugin;
void StartPlugin(Plugin* plugin);
struct Plugin {
  Plugin() { StartPlugin(this); }
  virtual ~Plugin() = default;
  virtual void Attach() = 0;
};
struct PrintPlugin : Plugin {
  void Attach() override;
};
void PrintPlugin::Attach() {}
__attribute__((noinline)) void StartPlugin(Plugin* plugin) {
  asm volatile("" : "+r"(plugin));
  plugin->Attach();  // fails: pure_virtual
  asm volatile("");  // a frame of its own: no tail call
}

namespace {

__attribute__((noinline)) void WriteSettings() { throw std::runtime_error("settings are read-only"); }  // fails: noexcept
__attribute__((noinline)) void SaveSettings() noexcept { WriteSettings(); }

__attribute__((noinline)) void GiveUp() { std::terminate(); }  // fails: terminate

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  crashlog::InstallReporter();
  const std::string command = commandLine;
  if (command == "throw runtime_error") ThrowRuntimeError();
  if (command == "throw quota") ThrowQuotaError();
  if (command == "throw bad_alloc") ThrowBadAlloc();
  if (command == "throw int") ThrowInt();
  if (command == "throw text") ThrowText();
  if (command == "throw utf8") ThrowUtf8();
  if (command == "abort") CallAbort();
  if (command == "sigabrt") RaiseAbortSignal();
  if (command == "assert") CheckCount();
  if (command == "pure_virtual") {
    PrintPlugin plugin;
  }
  if (command == "noexcept") SaveSettings();
  if (command == "terminate") GiveUp();
  crashlog::UninstallReporter();
  return 0;
}
