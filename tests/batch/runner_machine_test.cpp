// The runner's decisions without a window or a process: rows removed mid-batch, the first tick,
// every way a tool can end, the silent tool, closing; and the quoting of the tool's arguments,
// checked against an independent reading of the C runtime's rules.
#include "batch/runner_machine.h"

#include <gtest/gtest.h>

#include "batch/control_files.h"

namespace pelloran {
namespace {

ToolFacts At(uint64_t ms, int64_t output, int64_t log = 0, bool exited = false) {
  return ToolFacts{ms, output, log, exited};
}

// A machine whose current job's tool was started at time 0.
RunnerMachine Started(int rows, int jobs = 1) {
  RunnerMachine m;
  m.StartBatch();
  for (int i = 0; i < jobs; ++i) EXPECT_TRUE(m.NextRow(rows));
  m.ToolStarted(0);
  return m;
}

TEST(RunnerMachine, RowsAreTakenInOrderAndRowsAddedMeanwhileCount) {
  RunnerMachine m;
  m.StartBatch();
  EXPECT_EQ(m.CurrentIndex(), -1);
  EXPECT_TRUE(m.NextRow(2));
  EXPECT_TRUE(m.NextRow(2));
  EXPECT_TRUE(m.NextRow(3));  // a row appended during the batch
  EXPECT_EQ(m.CurrentIndex(), 2);
  EXPECT_FALSE(m.NextRow(3));
  EXPECT_FALSE(m.Running());
}

TEST(RunnerMachine, RemovedRowsKeepTheJobOnItsRowOrDropIt) {
  RunnerMachine before = Started(4, 3);  // job on row 2
  before.RowsRemoving(0);
  EXPECT_EQ(before.CurrentIndex(), 1);
  EXPECT_FALSE(before.RowGone());
  before.RowsRemoving(3);  // after it: nothing changes
  EXPECT_EQ(before.CurrentIndex(), 1);

  RunnerMachine own = Started(4, 2);  // job on row 1
  own.RowsRemoving(1);
  EXPECT_TRUE(own.RowGone());
  EXPECT_EQ(own.CurrentIndex(), 0);
  // Its tool is awaited (no status for a row that is gone), then the row that moved up is next.
  EXPECT_EQ(own.Tick(At(500, 10)).kind, TickDecision::Wait);
  EXPECT_EQ(own.Tick(At(1000, 10, 5, true)).kind, TickDecision::DropJob);
  own.ToolEnded();
  EXPECT_TRUE(own.NextRow(3));
  EXPECT_EQ(own.CurrentIndex(), 1);

  RunnerMachine all = Started(3, 2);
  all.RowsRemoving(-1);
  EXPECT_EQ(all.Tick(At(500, 0, 0, true)).kind, TickDecision::DropJob);
  EXPECT_FALSE(all.NextRow(0));

  RunnerMachine idle;
  idle.RowsRemoving(0);
  EXPECT_EQ(idle.CurrentIndex(), -1);
}

TEST(RunnerMachine, TheFirstTickMarksTheJobWorkingEvenIfTheToolHasEnded) {
  RunnerMachine m = Started(1);
  TickDecision first = m.Tick(At(500, 0, 0, true));
  EXPECT_EQ(first.kind, TickDecision::Working);
  EXPECT_EQ(first.progress, 0);
  EXPECT_EQ(m.Tick(At(1000, 0, 0, true)).kind, TickDecision::ToolEnded);
}

TEST(RunnerMachine, GrowingOutputIsWorkAndASilentToolIsEndedAfterTheLimit) {
  RunnerMachine m = Started(1);
  EXPECT_EQ(m.Tick(At(500, 100)).kind, TickDecision::Working);
  TickDecision grew = m.Tick(At(1000, 300));
  EXPECT_EQ(grew.kind, TickDecision::Working);
  EXPECT_EQ(grew.progress, 300);
  // Only the log changes: still alive, nothing to show.
  EXPECT_EQ(m.Tick(At(50000, 300, 80)).kind, TickDecision::Wait);
  EXPECT_EQ(m.Tick(At(50000 + 59999, 300, 80)).kind, TickDecision::Wait);
  EXPECT_EQ(m.Tick(At(50000 + 60000, 300, 80)).kind, TickDecision::EndTool);

  RunnerMachine quick = Started(1);
  quick.SetNoProgressLimit(2000);
  quick.Tick(At(500, 0));
  EXPECT_EQ(quick.Tick(At(2499, 0)).kind, TickDecision::Wait);
  EXPECT_EQ(quick.Tick(At(2500, 0)).kind, TickDecision::EndTool);
}

TEST(RunnerMachine, AJobThatFailedToStartEndsAtTheNextTickAndClosingEndsOnlyARunningTool) {
  RunnerMachine m;
  m.StartBatch();
  ASSERT_TRUE(m.NextRow(2));
  m.StartFailed();
  EXPECT_EQ(m.Tick(At(500, 0)).kind, TickDecision::FailJob);
  EXPECT_FALSE(m.WindowClosing());
  EXPECT_FALSE(m.Running());

  RunnerMachine running = Started(2);
  EXPECT_TRUE(running.WindowClosing());
  EXPECT_FALSE(running.Running());
}

TEST(JudgeEndedTool, OnlyStatusZeroStarsNoErrorAndAnOutputMakeASuccess) {
  const std::string good = "Read: a.rm\r\nWrote: b.rm\r\n***\r\n";
  EXPECT_EQ(JudgeEndedTool(0, good, true), JobEnd::Succeeded);
  EXPECT_EQ(JudgeEndedTool(0, good, false), JobEnd::NoOutput);
  EXPECT_EQ(JudgeEndedTool(1, good, true), JobEnd::ExitStatus);
  EXPECT_EQ(JudgeEndedTool(0, "Read: a.rm\r\n", true), JobEnd::NoLog);
  EXPECT_EQ(JudgeEndedTool(0, "", true), JobEnd::NoLog);
  EXPECT_EQ(JudgeEndedTool(0xC0000005u, good, true), JobEnd::Crashed);
  EXPECT_EQ(JudgeEndedTool(0, "Read: a.rm\r\nError: the unfinished output could not be removed\r\n***\r\n", true),
            JobEnd::ErrorLine);
  // "Error:" only counts at the start of a line.
  EXPECT_EQ(JudgeEndedTool(0, "Note: no Error: here\r\n***\r\n", true), JobEnd::Succeeded);
}

// The C runtime's reading of a command line (msvcrt's rules), written independently of the
// quoting: 2n backslashes before a quote give n and the quote toggles; 2n+1 give n and a quote.
std::vector<std::wstring> CrtArguments(std::wstring_view line) {
  std::vector<std::wstring> args;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == L' ') ++i;
    if (i == line.size()) break;
    std::wstring arg;
    bool quoted = false;
    while (i < line.size() && (quoted || line[i] != L' ')) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == L'\\') ++slashes, ++i;
      if (i < line.size() && line[i] == L'"') {
        arg.append(slashes / 2, L'\\');
        if (slashes % 2) {
          arg += L'"';
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(slashes, L'\\');
        if (i < line.size() && (quoted || line[i] != L' ')) arg += line[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

TEST(ToolCommandLine, EveryPathSurvivesTheRuntimesParsing) {
  // A plain pair reads exactly as the tool's documented command line.
  EXPECT_EQ(EventsToolParameters(L"C:\\in.rm", L"C:\\Fix_in.rm"),
            L"-i \"C:\\in.rm\" -o \"C:\\Fix_in.rm\" -e \"blank.txt\" -m \"blank2.txt\" -l \"result.txt\"");
  for (std::wstring path : {L"C:\\out dir\\", L"C:\\a\\\\", L"\\\\server\\share\\", L"C:\\x\\\"y\"\\",
                            L"C:\\影片\\a b.rm", L"", L"\\"}) {
    const std::vector<std::wstring> args = CrtArguments(EventsToolParameters(L"C:\\in.rm", path));
    ASSERT_EQ(args.size(), 10u);
    EXPECT_EQ(args[3], path);
    EXPECT_EQ(args[4], L"-e");
    EXPECT_EQ(args[9], L"result.txt");
  }
}

}  // namespace
}  // namespace pelloran
