// The batch in the real window when the events tool misbehaves (the stand-in's failure modes),
// when the output is the input, when the window closes mid-job and when two windows share the
// program folder. After each: every input is byte for byte as it was, no output or partial file
// of a failed job is left, the batch ended and the start button is enabled.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "batch/job_messages.h"
#include "batch/tool_process.h"
#include "runtime/wide_text.h"
#include "tests/batch/batch_window_fixture.h"

namespace pelloran {
namespace {

using namespace std::chrono_literals;
using testing::BatchWindow;
using testing::BoxWatcher;
using testing::PumpUntil;
using testing::ReadBytes;

const std::string kDone = kStatusDonePrefix;

// Running processes of the stand-in (it runs as rmevents.exe) that this program started: other
// tests may run the real tool in the same Wine session meanwhile.
int ToolProcesses() {
  ScopedKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more; more = ::Process32Next(snapshot.get(), &entry))
    count += _stricmp(entry.szExeFile, kEventsToolName) == 0 &&
             entry.th32ParentProcessID == ::GetCurrentProcessId();
  return count;
}

std::string Gbk(const char* gbkTemplate, std::initializer_list<std::wstring> arguments) {
  std::wstring line = LogLine(gbkTemplate, arguments);
  return WideToAnsi(line.substr(0, line.size() - 2));
}

class BatchFailures : public BatchWindow {
 protected:
  // The inputs as they were before the batch.
  void Keep(const std::string& path) { kept_[path] = ReadBytes(path); }

  // Inputs unchanged; no partial file anywhere in the folder; the batch over.
  void ExpectNothingHarmed() {
    for (const auto& [path, bytes] : kept_) EXPECT_EQ(ReadBytes(path), bytes) << path;
    for (const std::wstring& name : testing::FileNamesIn(Root()))
      EXPECT_EQ(name.find(L".part"), std::wstring::npos) << WideToAnsi(name);
    EXPECT_FALSE(form->Runner->Running());
    EXPECT_TRUE(form->btnStart->Enabled());
    EXPECT_EQ(ToolProcesses(), 0) << "a tool outlived its job";
  }

  std::map<std::string, std::string> kept_;
};

TEST_F(BatchFailures, EachWayAToolFailsEndsItsJobWithItsReasonAndTheBatchGoesOn) {
  BoxWatcher boxes;
  form->Runner->SetNoProgressLimit(2000);
  const char* modes[] = {"nolog", "badexit", "die", "hang", "fail"};
  for (const char* mode : modes) Keep(AddJob(std::string(mode) + ".rm", mode));
  Keep(AddJob("good.rm", "shrink=7"));
  // An older output of a job that fails stays as it was.
  testing::WriteBytes(dir / "Fix_badexit.rm", "an earlier output");
  Trail trail = RunBatch();

  for (int row = 0; row < 5; ++row) EXPECT_EQ(Status(row), kStatusFailed) << modes[row];
  EXPECT_EQ(Status(5), kDone + "7");
  EXPECT_EQ(ReadBytes(dir / "Fix_good.rm").size(), 4000u - 7);
  EXPECT_EQ(ReadBytes(dir / "Fix_badexit.rm"), "an earlier output");
  for (const char* mode : {"nolog", "die", "hang", "fail"})
    EXPECT_FALSE(testing::Exists(dir / ("Fix_" + std::string(mode) + ".rm"))) << mode;

  const std::string memo = MemoText();
  EXPECT_NE(memo.find(Gbk(kMsgToolNoLog, {L"1"})), std::string::npos) << memo;
  EXPECT_NE(memo.find(Gbk(kMsgToolExitStatus, {L"3"})), std::string::npos) << memo;
  EXPECT_NE(memo.find(Gbk(kMsgToolNoLog, {L"9"})), std::string::npos) << "killed half way\n" << memo;
  EXPECT_NE(memo.find(Gbk(kMsgToolNoResponse, {L"2"})), std::string::npos) << memo;
  EXPECT_NE(memo.find(Gbk(kMsgToolExitStatus, {L"1"})), std::string::npos) << memo;
  EXPECT_NE(memo.find("Error: no output written"), std::string::npos);
  EXPECT_EQ(boxes.CountText(kMsgAllDone), 1u);
  ExpectNothingHarmed();
}

TEST_F(BatchFailures, AToolThatCannotStartFailsEachJobWithTheSystemsReason) {
  testing::WriteBytes(ExeDir() + kEventsToolName, "not a program at all");
  BoxWatcher boxes;
  Keep(AddJob("a.rm", "shrink=1"));
  Keep(AddJob("b.rm", "shrink=2"));
  RunBatch();
  EXPECT_EQ(Status(0), kStatusFailed);
  EXPECT_EQ(Status(1), kStatusFailed);
  const std::string memo = MemoText();
  const std::string lead = Gbk(kMsgToolNotStarted, {L""});
  const size_t first = memo.find(lead.substr(0, lead.size() - 2));  // up to the reason
  ASSERT_NE(first, std::string::npos) << memo;
  EXPECT_NE(memo.find(lead.substr(0, lead.size() - 2), first + 1), std::string::npos) << "one line per job";
  EXPECT_NE(memo.find(Gbk(kMsgSystemError, {L""}).substr(0, 8)), std::string::npos) << "the system's reason\n" << memo;
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Seen()[0].Text, kMsgAllDone);
  EXPECT_FALSE(testing::Exists(dir / "Fix_a.rm"));
  ExpectNothingHarmed();
}

TEST_F(BatchFailures, AnOutputThatIsItsInputIsRefusedHoweverSpelt) {
  BoxWatcher boxes;
  const std::string input = AddJob("same movie name.rm", "shrink=1");
  Keep(input);
  ASSERT_TRUE(::CreateHardLinkA((dir / "linked.rm").c_str(), input.c_str(), nullptr));
  char shortName[MAX_PATH] = {};
  ASSERT_GT(::GetShortPathNameA(input.c_str(), shortName, MAX_PATH), 0u);
  ASSERT_NE(std::string(shortName), input);
  const std::vector<std::string> outputs = {input, dir / "SAME MOVIE NAME.RM", dir / ".\\same movie name.rm",
                                            shortName, dir / "linked.rm"};
  const int count = static_cast<int>(outputs.size());
  form->Jobs->SetPaths(0, input, outputs[0]);
  for (int i = 1; i < count; ++i) {
    AddJob("x.rm", "");  // a row to edit
    form->Jobs->SetPaths(i, input, outputs[i]);
  }
  Keep(AddJob("other.rm", "shrink=3"));
  RunBatch();
  for (int row = 0; row < count; ++row) EXPECT_EQ(Status(row), kStatusFailed) << outputs[row];
  EXPECT_EQ(Status(count), kDone + "3");
  const std::string memo = MemoText();
  EXPECT_NE(memo.find(Gbk(kMsgOutputIsInput, {AnsiToWide(dir / "linked.rm")})), std::string::npos) << memo;
  EXPECT_EQ(memo.find("input: " + input), std::string::npos) << "no tool ran for them";
  EXPECT_EQ(ReadBytes(dir / "linked.rm"), kept_[input]);
  ExpectNothingHarmed();
}

TEST_F(BatchFailures, ClosingTheWindowMidJobEndsTheToolAndLeavesNoPartialOutput) {
  BoxWatcher boxes;
  Keep(AddJob("long.rm", "hang"));
  ::SendMessageA(form->btnStart->Handle(), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return testing::Exists(dir / "~Fix_long.rm.part") && Status(0) == kStatusWorking; }, 10s));
  ASSERT_EQ(ToolProcesses(), 1);
  ::SendMessageA(form->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(ToolProcesses(), 0);
  EXPECT_FALSE(testing::Exists(dir / "~Fix_long.rm.part"));
  EXPECT_FALSE(testing::Exists(dir / "Fix_long.rm"));
  EXPECT_FALSE(testing::Exists(ExeDir() + kBatchLockFileName)) << "the folder is free again";
  for (const auto& [path, bytes] : kept_) EXPECT_EQ(ReadBytes(path), bytes);
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(BatchFailures, TwoWindowsOfOneFolderTakeTurns) {
  BoxWatcher boxes;
  auto second = std::make_unique<TMainForm>();
  second->Create();
  second->Show();
  AddJob("first.rm", "late=1200 shrink=1");
  testing::MakeFile(dir / "second.rm", "#fake shrink=2\n", 4000);
  ASSERT_TRUE(second->AddFile(dir / "second.rm"));

  ::SendMessageA(form->btnStart->Handle(), BM_CLICK, 0, 0);
  ::SendMessageA(second->btnStart->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(second->Jobs->Row(0).Status, kStatusWaitingForFolder);
  std::vector<std::string> secondTrail;
  ASSERT_TRUE(PumpUntil([&] {
    const std::string status = second->Jobs->Row(0).Status;
    if (secondTrail.empty() || secondTrail.back() != status) secondTrail.push_back(status);
    // The second waits while the first runs.
    if (form->Runner->Running()) EXPECT_NE(status.rfind(kDone, 0), 0u);
    return !form->Runner->Running() && !second->Runner->Running() && second->btnStart->Enabled();
  }, 30s));
  EXPECT_EQ(Status(0), kDone + "1");
  EXPECT_EQ(second->Jobs->Row(0).Status, kDone + "2");
  EXPECT_EQ(secondTrail.front(), kStatusWaitingForFolder);
  // Each pane holds its own job's log only.
  EXPECT_EQ(MemoText().find("second.rm"), std::string::npos);
  EXPECT_NE(MemoText().find("input: " + dir / "first.rm"), std::string::npos);
  EXPECT_EQ(second->logMemo->Text().find("first.rm"), std::string::npos);
  EXPECT_NE(second->logMemo->Text().find("input: " + dir / "second.rm"), std::string::npos);
  EXPECT_EQ(boxes.CountText(kMsgAllDone), 2u);
  second.reset();
}

}  // namespace
}  // namespace pelloran
