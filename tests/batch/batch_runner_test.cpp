// The batch runs in the real main window with a stand-in events tool (fake_rmevents.exe, copied
// to rmevents.exe beside this program). Message boxes are answered by a watcher thread.
#include "batch/batch_runner.h"

#include <gtest/gtest.h>

#include <map>

#include "batch/batch_io.h"
#include "batch/control_files.h"
#include "tests/batch/batch_window_fixture.h"

namespace pelloran {
namespace {

using namespace std::chrono_literals;
using testing::BatchWindow;
using testing::BoxWatcher;
using testing::DrainMessages;
using testing::Exists;
using testing::MakeFile;
using testing::PumpUntil;
using testing::ReadBytes;
using testing::TempFolder;

const std::string kDone = kStatusDonePrefix;

TEST_F(BatchWindow, ThreeJobsRunInRowOrderAndEndOnce) {
  BoxWatcher boxes;
  const std::string a = AddJob("a.rm", "shrink=100", 5000);
  const std::string b = AddJob("影片 b.RMVB", "shrink=200", 6000);
  const std::string c = AddJob("c.ra", "shrink=300", 7000);
  Trail trail = RunBatch();

  const std::vector<std::string> expected[] = {
      {kStatusPending, kStatusWorking, kDone + "100"},
      {kStatusPending, kStatusWorking, kDone + "200"},
      {kStatusPending, kStatusWorking, kDone + "300"}};
  for (int row = 0; row < 3; ++row) EXPECT_EQ(trail[row], expected[row]) << "row " << row;
  EXPECT_EQ(testing::ReadBytes(dir / "Fix_影片 b.RMVB").size(), 5800u);

  // The log pane holds the three logs in row order, with CR LF line ends though the tool
  // wrote bare LF.
  const std::string memo = MemoText();
  size_t at = memo.find("input: " + a), bt = memo.find("input: " + b), ct = memo.find("input: " + c);
  ASSERT_NE(at, std::string::npos);
  ASSERT_NE(bt, std::string::npos);
  ASSERT_NE(ct, std::string::npos);
  EXPECT_LT(at, bt);
  EXPECT_LT(bt, ct);
  EXPECT_EQ(memo.find("本程序支持"), std::string::npos) << "the start command clears the pane";
  for (size_t i = 0; i < memo.size(); ++i) {
    if (memo[i] == '\n') {
      ASSERT_TRUE(i > 0 && memo[i - 1] == '\r') << "bare LF at " << i;
    }
  }
  EXPECT_NE(memo.find("***\r\n"), std::string::npos);

  // The tool saw the control files by their bare names in its working folder.
  EXPECT_NE(memo.find("events file: " + std::to_string(EventsFileText().size()) + " bytes"), std::string::npos);
  EXPECT_NE(memo.find("image map file: " + std::to_string(ImageMapFileText().size()) + " bytes"), std::string::npos);
  EXPECT_EQ(ReadBytes(ExeDir() + kEventsFileName), EventsFileText());
  EXPECT_EQ(ReadBytes(ExeDir() + kImageMapFileName), ImageMapFileText());
  EXPECT_FALSE(Exists(ExeDir() + kToolLogFileName)) << "the log is deleted after each job";

  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Seen()[0].Text, kMsgAllDone);
  EXPECT_EQ(boxes.Seen()[0].Caption, "Pelloran");
  EXPECT_TRUE(form->btnStart->Enabled());
  EXPECT_FALSE(form->monitorTimer->Enabled());
  EXPECT_EQ(form->ggProgress->MaxValue(), 0);
  EXPECT_EQ(form->ggProgress->Progress(), 0);
  EXPECT_EQ(form->ggProgress->ShownPosition(), 0);
}

TEST_F(BatchWindow, FailureLargerOutputAndLateOutput) {
  BoxWatcher boxes;
  AddJob("fails.rm", "fail");
  AddJob("grows.rm", "grow=2048");
  AddJob("late.rm", "late=1600 shrink=10");
  Trail trail = RunBatch();
  EXPECT_EQ(trail[0].back(), kStatusFailed);
  EXPECT_EQ(trail[1].back(), kDone + "-2048");
  // The late output reads as size 0: the first tick marks the job working, later ones wait.
  EXPECT_EQ(trail[2], (std::vector<std::string>{kStatusPending, kStatusWorking, kDone + "10"}));
  EXPECT_FALSE(Exists(dir / "Fix_fails.rm"));
  EXPECT_NE(MemoText().find("Error: no output written"), std::string::npos);
  EXPECT_EQ(boxes.CountText(kMsgAllDone), 1u);
}

TEST_F(BatchWindow, StartWithAnEmptyListOnlySaysSo) {
  BoxWatcher boxes;
  const std::string before = MemoText();
  ::SendMessageA(form->btnStart->Handle(), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return boxes.Count() == 1; }));
  EXPECT_EQ(boxes.Seen()[0].Text, kMsgNothingToDo);
  EXPECT_EQ(boxes.Seen()[0].Caption, "Pelloran");
  EXPECT_EQ(MemoText(), before);
  EXPECT_TRUE(form->btnStart->Enabled());
}

TEST_F(BatchWindow, MissingToolWarnsOnceAndEndsTheBatch) {
  testing::Remove(ExeDir() + kEventsToolName);
  BoxWatcher boxes;
  AddJob("a.rm", "");
  AddJob("b.rm", "");
  AddJob("c.rm", "");
  Trail trail = RunBatch();
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Seen()[0].Text, kMsgToolMissing);
  EXPECT_EQ(boxes.Seen()[0].Caption, kWarningCaption);
  EXPECT_EQ(boxes.Seen()[0].Icon, static_cast<UINT>(MB_ICONEXCLAMATION));
  for (int row = 0; row < 3; ++row) EXPECT_EQ(Status(row), kStatusPending);
  EXPECT_EQ(form->ggProgress->MaxValue(), 0);
}

TEST_F(BatchWindow, MissingInputFailsThatJobAndTheBatchGoesOn) {
  BoxWatcher boxes;
  form->AddFile(dir / "gone.rm");
  AddJob("there.rm", "shrink=5");
  RunBatch();
  EXPECT_EQ(Status(0), kStatusFailed);
  EXPECT_EQ(Status(1), kDone + "5");
  auto seen = boxes.Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Text, kMsgInputMissing);
  EXPECT_EQ(seen[0].Caption, kWarningCaption);
  EXPECT_EQ(seen[1].Text, kMsgAllDone);
}

TEST_F(BatchWindow, ARowAppendedDuringTheBatchIsProcessed) {
  BoxWatcher boxes;
  AddJob("first.rm", "shrink=1");
  bool added = false;
  RunBatch([&] {
    if (!added && Status(0) == kStatusWorking) {
      added = true;
      AddJob("second.rm", "shrink=2");
    }
  });
  ASSERT_TRUE(added);
  EXPECT_EQ(Status(0), kDone + "1");
  EXPECT_EQ(Status(1), kDone + "2");
  EXPECT_EQ(boxes.CountText(kMsgAllDone), 1u);
}

TEST_F(BatchWindow, DeletingTheRunningRowMovesOnWithoutSkippingOrStraying) {
  BoxWatcher boxes;
  AddJob("a.rm", "shrink=1");
  AddJob("b.rm", "shrink=2");
  AddJob("c.rm", "shrink=3");
  bool deleted = false;
  RunBatch([&] {
    if (!deleted && form->Jobs->Count() == 3 && Status(1) == kStatusWorking) {
      deleted = true;
      form->lvFiles->Select(1);
      ::SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(kCmdDeleteFileButton, 0), 0);
    }
  });
  ASSERT_TRUE(deleted);
  ASSERT_EQ(form->Jobs->Count(), 2);
  EXPECT_EQ(form->Jobs->Row(1).Input, dir / "c.rm");
  EXPECT_EQ(Status(0), kDone + "1");
  EXPECT_EQ(Status(1), kDone + "3");
  EXPECT_EQ(boxes.CountText(kMsgAllDone), 1u);
}

TEST_F(BatchWindow, TheToolOfADeletedRowIsAwaitedBeforeTheNextJobStarts) {
  // The first tool is slow: had the next job started at once, the late log of the first tool
  // would have ended it.
  BoxWatcher boxes;
  const std::string slow = AddJob("slow.rm", "late=1500 shrink=1");
  AddJob("next.rm", "late=2500 shrink=2");
  bool deleted = false;
  RunBatch([&] {
    if (!deleted && Status(0) == kStatusWorking) {
      deleted = true;
      form->lvFiles->Select(0);
      ::SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(kCmdDeleteFileButton, 0), 0);
    }
  });
  ASSERT_TRUE(deleted);
  ASSERT_EQ(form->Jobs->Count(), 1);
  EXPECT_EQ(Status(0), kDone + "2");
  EXPECT_EQ(MemoText().find("input: " + slow), std::string::npos) << "the deleted job's log is not shown";
  EXPECT_NE(MemoText().find("input: " + dir / "next.rm"), std::string::npos);
  EXPECT_EQ(boxes.CountText(kMsgAllDone), 1u);
}

TEST_F(BatchWindow, ClearingTheListDuringTheBatchEndsItCleanly) {
  BoxWatcher boxes;
  AddJob("a.rm", "shrink=1");
  AddJob("b.rm", "shrink=2");
  bool cleared = false;
  RunBatch([&] {
    if (!cleared && Status(0) == kStatusWorking) {
      cleared = true;
      ::SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(kCmdClearListItem, 0), 0);
    }
  });
  ASSERT_TRUE(cleared);
  EXPECT_EQ(form->Jobs->Count(), 0);
  EXPECT_EQ(boxes.CountText(kMsgAllDone), 1u);
  EXPECT_TRUE(form->btnStart->Enabled());
}

TEST_F(BatchWindow, AnErrorWhileStartingAJobIsReportedAndTheBatchGoesOn) {
  // A folder where the events file should be makes writing it fail with an I/O error.
  const std::string blocker = ExeDir() + kEventsFileName;
  testing::Remove(blocker);
  ASSERT_TRUE(::CreateDirectoryA(blocker.c_str(), nullptr));
  BoxWatcher boxes([&](HWND, const testing::SeenBox& seen) {
    if (seen.Text.find("I/O error") != std::string::npos) ::RemoveDirectoryA(blocker.c_str());
    return false;
  });
  AddJob("a.rm", "shrink=1");
  AddJob("b.rm", "shrink=2");
  RunBatch();
  auto seen = boxes.Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0].Text.find("I/O error"), std::string::npos);
  EXPECT_EQ(seen[0].Caption, "Pelloran");
  EXPECT_EQ(seen[1].Text, kMsgAllDone);
  EXPECT_EQ(Status(0), kStatusFailed);
  EXPECT_EQ(Status(1), kDone + "2");
}

TEST_F(BatchWindow, AnErrorInATickIsReportedOnceAndTheMonitorCarriesOn) {
  BoxWatcher boxes;
  AddJob("a.rm", "shrink=1");
  AddJob("b.rm", "shrink=2");
  // An output path that cannot even be measured (a name longer than the system allows).
  const std::string badOutput = dir / (std::string(300, 'x') + ".rm");
  form->Jobs->SetPaths(0, dir / "a.rm", badOutput);
  RunBatch();
  auto seen = boxes.Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0].Text.find("I/O error 206"), std::string::npos) << seen[0].Text;
  EXPECT_EQ(seen[1].Text, kMsgAllDone);
  EXPECT_EQ(Status(0), kStatusFailed);
  EXPECT_EQ(Status(1), kDone + "2");
}

TEST_F(BatchWindow, HugeFilesGiveExactNumbersAndAScaledGauge) {
  BoxWatcher boxes;
  const long long size = 3LL * 1024 * 1024 * 1024 + 12345;  // sparse on disk
  AddJob("huge.rmvb", "sparse shrink=4321", size);
  int shownRange = 0;
  long long maxValue = 0;
  RunBatch([&] {
    if (form->ggProgress->MaxValue() > 0) {
      maxValue = form->ggProgress->MaxValue();
      shownRange = form->ggProgress->ShownRange();
    }
  });
  EXPECT_EQ(maxValue, size);
  EXPECT_GT(shownRange, 0);
  EXPECT_EQ(Status(0), kDone + "4321");
}

}  // namespace
}  // namespace pelloran
