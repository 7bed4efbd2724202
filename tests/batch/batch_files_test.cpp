// Jobs on files named outside the ANSI code page, and jobs whose files cannot be opened or
// written, run in the real window with the stand-in tool, which reads its command line in the
// ANSI code page as a tool of that kind does.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/batch/batch_window_fixture.h"

namespace pelloran {
namespace {

using testing::BatchWindow;
using testing::BoxWatcher;
using testing::kEmojiName;
using testing::kHangulName;

const std::string kDone = kStatusDonePrefix;

TEST_F(BatchWindow, NamesOutsideTheCodePageAreCleanedAndTheirOutputsNamedAlike) {
  BoxWatcher boxes;
  const std::wstring hangul = AddWideJob(kHangulName + L".rm", "shrink=100", 5000);
  const std::wstring emoji = AddWideJob(kEmojiName + L".rmvb", "shrink=200", 6000);
  const std::string gbk = AddJob("\xB1\x5C.ra", "shrink=300", 7000);  // trail byte 0x5C
  Trail trail = RunBatch();
  EXPECT_EQ(trail[0].back(), kDone + "100");
  EXPECT_EQ(trail[1].back(), kDone + "200");
  EXPECT_EQ(trail[2].back(), kDone + "300");
  ASSERT_EQ(boxes.Count(), 1u);

  EXPECT_EQ(testing::ReadBytesW(Root() + L"Fix_" + kHangulName + L".rm").size(), 4900u);
  EXPECT_EQ(testing::ReadBytesW(Root() + L"Fix_" + kEmojiName + L".rmvb").size(), 5800u);
  EXPECT_EQ(testing::ReadBytes(dir / "Fix_\xB1\x5C.ra").size(), 6700u);
  // Nothing else is left in the folder: the temporary outputs took their real names.
  std::vector<std::wstring> files = testing::FileNamesIn(Root());
  std::sort(files.begin(), files.end());
  std::vector<std::wstring> expected{kHangulName + L".rm", L"Fix_" + kHangulName + L".rm", kEmojiName + L".rmvb",
                                     L"Fix_" + kEmojiName + L".rmvb", AnsiToWide("\xB1\x5C.ra"),
                                     AnsiToWide("Fix_\xB1\x5C.ra")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files, expected);

  // The tool was handed names it could open: a short name for the Hangul one, and the GBK
  // name as it always was.
  const std::string memo = MemoText();
  EXPECT_EQ(memo.find("input: " + WideToAnsi(hangul)), std::string::npos) << memo;
  EXPECT_NE(memo.find("input: " + dir.Path()), std::string::npos) << memo;
  EXPECT_NE(memo.find("input: " + gbk + "\r\n"), std::string::npos) << memo;
  EXPECT_NE(memo.find("output: " + dir / "Fix_\xB1\x5C.ra\r\n"), std::string::npos) << memo;
  EXPECT_EQ(memo.find('?'), std::string::npos) << "every name reached the tool whole: " << memo;
}

TEST_F(BatchWindow, InputsThatCannotBeOpenedAndOutputFoldersThatCannotBeWrittenFailWithTheirReason) {
  BoxWatcher boxes;
  const std::string locked = AddJob("locked.rm", "shrink=1");
  const std::string elsewhere = AddJob("elsewhere.rm", "shrink=2");
  const std::wstring missingFolder = Root() + L"gone\\";
  form->Jobs->SetFiles(1, AnsiToWide(elsewhere), missingFolder + kHangulName + L".rm");
  AddJob("next.rm", "shrink=3");
  // Another program holds the first input open and shares it with nobody.
  ScopedFileHandle holder(::CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  RunBatch();

  EXPECT_EQ(Status(0), kStatusFailed);
  EXPECT_EQ(Status(1), kStatusFailed);
  EXPECT_EQ(Status(2), kDone + "3");
  ASSERT_EQ(boxes.Count(), 1u) << "no box stops the batch";
  EXPECT_EQ(boxes.Seen()[0].Text, kMsgAllDone);
  const std::wstring memo = MemoTextW();
  const std::wstring lockedLine = L"处理失败：无法打开输入文件“" + AnsiToWide(locked) + L"”（系统错误 32：";
  const std::wstring folderLine = L"处理失败：无法在输出文件夹“" + missingFolder + L"”中写入文件（系统错误 3：";
  const size_t lockedAt = memo.find(lockedLine), folderAt = memo.find(folderLine);
  EXPECT_NE(lockedAt, std::wstring::npos) << WideToAnsi(memo);
  EXPECT_NE(folderAt, std::wstring::npos) << WideToAnsi(memo);
  EXPECT_LT(lockedAt, folderAt);
  EXPECT_EQ(memo.find(L"input: " + AnsiToWide(locked)), std::wstring::npos) << "no tool ran for it";
  EXPECT_NE(memo.find(L"input: " + AnsiToWide(dir / "next.rm")), std::wstring::npos);
}

TEST_F(BatchWindow, AnOutputThatCannotTakeItsNameFailsWithTheReasonAndLeavesNoTemporaryFile) {
  BoxWatcher boxes;
  AddWideJob(kHangulName + L".rm", "shrink=1");
  AddJob("next.rm", "shrink=2");
  // Another program holds the old output open and shares it with nobody.
  const std::wstring output = Root() + L"Fix_" + kHangulName + L".rm";
  ASSERT_TRUE(testing::WriteBytesW(output, "old"));
  ScopedFileHandle holder(::CreateFileW(output.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  RunBatch();
  EXPECT_EQ(Status(0), kStatusFailed);
  EXPECT_EQ(Status(1), kDone + "2");
  ASSERT_EQ(boxes.Count(), 1u);
  const std::wstring memo = MemoTextW();
  const size_t at = memo.find(L"处理失败：无法把临时文件“" + Root() + L"~Fix_");
  ASSERT_NE(at, std::wstring::npos) << WideToAnsi(memo);
  EXPECT_NE(memo.find(L".rm”改名为“" + output + L"”（系统错误 ", at), std::wstring::npos) << WideToAnsi(memo);
  holder.reset();
  EXPECT_EQ(testing::ReadBytesW(output), "old");
  std::vector<std::wstring> files = testing::FileNamesIn(Root());
  EXPECT_EQ(files.size(), 4u) << "the two inputs, the held output and next.rm's output";
}

}  // namespace
}  // namespace pelloran
