// Runs crashlog_crash_probe once per way of failing and checks what the interception layer
// notified, what the program saw and how it ended.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/scoped_handle.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"

namespace pelloran::testing {
namespace {

struct TProbeRun {
  DWORD ExitCode = ~0u;
  std::vector<std::string> Lines;
  std::string Output;
  std::uintptr_t WriteTo = 0;  // where the probe's faulting function starts
};

// The probe's output goes to a file rather than a pipe: a program that hung in a crash dialog
// cannot hold the test up beyond the wait.
TProbeRun RunProbe(const std::string& scenario) {
  TProbeRun run;
  ScratchFolder folder;
  std::string outputPath = folder.File("output.txt");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  ScopedFileHandle output(CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      CREATE_ALWAYS, 0, nullptr));
  if (!output) return run;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::string line = "\"" + SiblingProgram("crashlog_crash_probe.exe") + "\" " + scenario;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) return run;
  ScopedKernelHandle process(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  output.reset();
  if (WaitForSingleObject(process.get(), 90000) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 99);
    WaitForSingleObject(process.get(), 10000);
  } else {
    GetExitCodeProcess(process.get(), &run.ExitCode);
  }
  run.Output = ReadWholeFile(outputPath);
  std::size_t start = 0;
  while (start < run.Output.size()) {
    std::size_t end = run.Output.find('\n', start);
    if (end == std::string::npos) end = run.Output.size();
    std::string text = run.Output.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.rfind("probe WriteTo=", 0) == 0)
      run.WriteTo = std::strtoul(text.c_str() + 14, nullptr, 16);
    else
      run.Lines.push_back(text);
    start = end + 1;
  }
  return run;
}

using Lines = std::vector<std::string>;

// The access violation of the probe's WriteTo(0x10), with the faulting address taken from the text
// and checked to lie at the start of WriteTo.
std::string WriteFaultMessage(const TProbeRun& run, const std::string& line) {
  const std::string prefix = "Access violation at address ";
  std::size_t at = line.find(prefix);
  if (at == std::string::npos || line.size() < at + prefix.size() + 8) return "<no access violation in: " + line + ">";
  std::string address = line.substr(at + prefix.size(), 8);
  std::uintptr_t value = std::strtoul(address.c_str(), nullptr, 16);
  if (run.WriteTo == 0 || value < run.WriteTo || value >= run.WriteTo + 64)
    return "<fault at " + address + " is not in WriteTo>";
  return prefix + address + " in module 'crashlog_crash_probe.exe'. Write of address 00000010.";
}

std::string MessageOf(const std::string& line) {
  std::size_t bar = line.find(" | ");
  return bar == std::string::npos ? std::string() : line.substr(bar + 3);
}

void ExpectNoCrashDialog(const TProbeRun& run) {
  EXPECT_EQ(run.Output.find("Unhandled exception"), std::string::npos) << run.Output;
  EXPECT_EQ(run.Output.find("terminate called"), std::string::npos) << run.Output;
}

TEST(Intercept, ExceptionCaughtByATypedCatchOfItsBaseClass) {
  TProbeRun run = RunProbe("caught-typed-base");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Lines, (Lines{
                           "notify class=EInOutError language=1 handled=1 thread=main capture=main at=throw-call | Disk full",
                           "destroyed thrower",
                           "destroyed thrower",
                           "destroyed thrower",
                           "destroyed thrower",
                           "caught EInOutError | Disk full",
                       }));
}

TEST(Intercept, ExceptionCaughtByCatchAll) {
  TProbeRun run = RunProbe("caught-all");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Lines, (Lines{
                           "notify class=std::runtime_error language=1 handled=1 thread=main capture=main at=throw-call | "
                           "plain standard error",
                           "caught by catch-all",
                       }));
}

TEST(Intercept, EventHandlerErrorsGoToTheFrameworkHandlerAndTheLoopGoesOn) {
  TProbeRun run = RunProbe("event-handlers");
  EXPECT_EQ(run.ExitCode, 0u);
  ASSERT_EQ(run.Lines.size(), 7u) << run.Output;
  EXPECT_EQ(run.Lines[0], "notify class=EConvertError language=1 handled=1 thread=main capture=main at=throw-call | "
                          "'abc' is not a valid integer value");
  EXPECT_EQ(run.Lines[1], "framework-handler class=EConvertError raise-known=1 language=1 | "
                          "'abc' is not a valid integer value");
  // A fault in an event handler travels the same way, as an EAccessViolation.
  std::string fault = WriteFaultMessage(run, run.Lines[2]);
  EXPECT_EQ(run.Lines[2], "notify class=EAccessViolation language=0 handled=1 thread=main capture=main "
                          "at=fault-instruction | " + fault);
  EXPECT_EQ(run.Lines[3], "destroyed writer");
  EXPECT_EQ(run.Lines[4], "framework-handler class=EAccessViolation raise-known=1 language=0 | " + fault);
  // The probe that the system handles itself inside the event handler's frame: nothing notified.
  EXPECT_EQ(run.Lines[5], "IsBadReadPtr=1");
  EXPECT_EQ(run.Lines[6], "message loop goes on");
}

TEST(Intercept, AccessViolationCaughtByTheProgramRunsDestructorsAndGoesOn) {
  TProbeRun run = RunProbe("access-violation");
  EXPECT_EQ(run.ExitCode, 0u);
  ASSERT_EQ(run.Lines.size(), 8u) << run.Output;
  std::string fault = WriteFaultMessage(run, run.Lines[0]);
  EXPECT_EQ(run.Lines, (Lines{
                           "notify class=EAccessViolation language=0 handled=1 thread=main capture=main "
                           "at=fault-instruction | " + fault,
                           "destroyed writer",
                           "destroyed outer",
                           "caught EAccessViolation | " + fault,
                           "notify class=EAccessViolation language=0 handled=1 thread=main capture=main "
                           "at=fault-instruction | " + fault,
                           "destroyed writer",
                           "caught again code=C0000005",
                           "program goes on",
                       }));
  ExpectNoCrashDialog(run);
}

TEST(Intercept, AccessViolationInsideALibraryIsReportedAtOnceAndEndsTheProgram) {
  TProbeRun run = RunProbe("access-violation-in-library");
  // strlen's frame has no unwind information: the fault cannot become a throw, whatever the
  // program's catch blocks would have done; it is reported with the stack as it is.
  EXPECT_EQ(run.ExitCode, 1u);
  ASSERT_EQ(run.Lines.size(), 2u) << run.Output;
  std::string notify = "notify class=EAccessViolation language=0 handled=0 thread=main capture=main "
                       "at=fault-instruction | Access violation at address ";
  EXPECT_EQ(run.Lines[0].substr(0, notify.size()), notify);
  std::string message = MessageOf(run.Lines[0]);
  EXPECT_NE(message.find(" in module 'msvcrt.dll'. Read of address 00000000."), std::string::npos) << message;
  EXPECT_EQ(run.Lines[1], "last-chance class=EAccessViolation reported-at-raise=1 thread=main | " + message);
  ExpectNoCrashDialog(run);
}

TEST(Intercept, FaultsTheSystemHandlesItselfAreNeverNotified) {
  TProbeRun run = RunProbe("library-handles-itself");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Lines, (Lines{"IsBadReadPtr=1", "IsBadReadPtr=1", "done"})) << run.Output;
}

TEST(Intercept, DivisionByZero) {
  TProbeRun run = RunProbe("division-by-zero");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Lines, (Lines{
                           "notify class=EDivByZero language=0 handled=1 thread=main capture=main at=fault-instruction | "
                           "Division by zero",
                           "caught EDivByZero | Division by zero",
                       }));
}

TEST(Intercept, StackOverflowInTheMainThreadTwiceInARow) {
  TProbeRun run = RunProbe("stack-overflow-main");
  EXPECT_EQ(run.ExitCode, 0u);
  // Reported from a helper thread with a stack of its own, for the main thread; the second
  // overflow is caught as well, so the guard page came back.
  const std::string notify = "notify class=EStackOverflow language=0 handled=1 thread=helper capture=main "
                             "at=fault-instruction | Stack overflow";
  EXPECT_EQ(run.Lines, (Lines{
                           notify,
                           "caught EStackOverflow round 1 in main | Stack overflow",
                           notify,
                           "caught EStackOverflow round 2 in main | Stack overflow",
                       }));
  ExpectNoCrashDialog(run);
}

TEST(Intercept, StackOverflowInAWorkerTwiceInARow) {
  TProbeRun run = RunProbe("stack-overflow-worker");
  EXPECT_EQ(run.ExitCode, 0u);
  const std::string notify = "notify class=EStackOverflow language=0 handled=1 thread=helper capture=worker "
                             "at=fault-instruction | Stack overflow";
  EXPECT_EQ(run.Lines, (Lines{
                           notify,
                           "caught EStackOverflow round 1 in worker | Stack overflow",
                           notify,
                           "caught EStackOverflow round 2 in worker | Stack overflow",
                           "worker ended with 7",
                       }));
}

TEST(Intercept, UncaughtInTheMainThreadEndsTheProcessWithExitCode1) {
  TProbeRun run = RunProbe("uncaught-main");
  EXPECT_EQ(run.ExitCode, 1u);
  // Reported at its raise, with the stack intact; the last chance knows it and ends the process
  // without unwinding anything.
  EXPECT_EQ(run.Lines, (Lines{
                           "notify class=EInOutError language=1 handled=0 thread=main capture=main at=throw-call | Disk full",
                           "last-chance class=EInOutError reported-at-raise=1 thread=main | Disk full",
                       }));
  ExpectNoCrashDialog(run);
}

TEST(Intercept, UncaughtInAWorkerEndsThatThreadWithExitCode1) {
  TProbeRun run = RunProbe("uncaught-worker");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Lines, (Lines{
                           "notify class=std::logic_error language=1 handled=0 thread=worker capture=worker "
                           "at=throw-call | worker gave up",
                           "last-chance class=std::logic_error reported-at-raise=1 thread=worker | worker gave up",
                           "worker ended with 1",
                       }));
  ExpectNoCrashDialog(run);
}

TEST(Intercept, ExceptionEscapingAStdThread) {
  TProbeRun run = RunProbe("uncaught-std-thread");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Lines, (Lines{
                           "notify class=std::out_of_range language=1 handled=0 thread=worker capture=worker "
                           "at=throw-call | index 9 out of range",
                           "last-chance class=std::out_of_range reported-at-raise=1 thread=worker | index 9 out of range",
                           "joined",
                       }));
  ExpectNoCrashDialog(run);
}

TEST(Intercept, TheThreadWrapperAloneDoesNotHandleAWorkersException) {
  TProbeRun run = RunProbe("thread-wrapper");
  EXPECT_EQ(run.ExitCode, 0u);
  ASSERT_EQ(run.Lines.size(), 12u) << run.Output;
  std::string fault = WriteFaultMessage(run, run.Lines[0]);
  EXPECT_EQ(run.Lines, (Lines{
                           // Reported at once, on the worker, with the registers of the fault.
                           "notify class=EAccessViolation language=0 handled=0 thread=worker capture=worker "
                           "at=fault-instruction | " + fault,
                           "destroyed writer",
                           "thread wrapper swallowed EAccessViolation",
                           "worker ended with 3",
                           // The program's catch takes it first; its `throw;` is notified again, with
                           // the registers and the address of the original raise.
                           "notify class=EConvertError language=1 handled=1 thread=worker capture=worker "
                           "at=throw-call | 'x' is not a valid integer value",
                           "cleaning up, passing it on",
                           "notify class=EConvertError language=1 handled=0 thread=worker capture=worker "
                           "at=throw-call | 'x' is not a valid integer value",
                           "thread wrapper swallowed EConvertError",
                           "worker ended with 3",
                           // In the main thread the same frame counts.
                           "notify class=EConvertError language=1 handled=1 thread=main capture=main at=throw-call | main",
                           "thread wrapper swallowed EConvertError",
                           "main wrapper returned 3",
                       }));
}

TEST(Intercept, InitializationAndFinalizationFlags) {
  TProbeRun run = RunProbe("units");
  EXPECT_EQ(run.ExitCode, 0u);
  EXPECT_EQ(run.Lines, (Lines{
                           "static initialization initializing=1",
                           "main initializing=0 finalizing=0",
                           "static destruction finalizing=1",
                       }));
}

}  // namespace
}  // namespace pelloran::testing
