// Jobs the events tool cannot be given, in a test build whose volume has no short names
// (no_short_names.cpp), and jobs whose output folder is read-only: readonly_output_test.py runs
// that one (disabled in a plain run) with a read-only bind mount.
#include <gtest/gtest.h>

#include <cstdlib>

#include "batch/short_name.h"
#include "tests/batch/batch_window_fixture.h"

namespace pelloran {
namespace {

using testing::BatchWindow;
using testing::BoxWatcher;
using testing::kHangulName;

const std::string kDone = kStatusDonePrefix;

TEST_F(BatchWindow, WithoutShortNamesANameOutsideTheCodePageFailsSayingWhy) {
  ASSERT_FALSE(ShortPathName(Root())) << "this build has no short names";
  BoxWatcher boxes;
  const std::wstring hangul = AddWideJob(kHangulName + L".rm", "shrink=1");
  AddJob("plain.rm", "shrink=2");
  const std::string gbk = AddJob("\xB1\x5C.rm", "shrink=3");
  // A plain input whose output is named outside the code page needs no short name: the tool
  // writes a temporary name in the (plain) folder, which then takes the real name.
  const std::string plain = AddJob("plain-in.rm", "shrink=4");
  const std::wstring hangulOutput = Root() + L"Fix_" + kHangulName + L"-2.rm";
  form->Jobs->SetFiles(3, AnsiToWide(plain), hangulOutput);
  RunBatch();

  EXPECT_EQ(Status(0), kStatusFailed);
  EXPECT_EQ(Status(1), kDone + "2");
  EXPECT_EQ(Status(2), kDone + "3") << "a GBK name goes to the tool as it is";
  EXPECT_EQ(Status(3), kDone + "4");
  EXPECT_EQ(testing::ReadBytesW(hangulOutput).size(), 3996u);
  ASSERT_EQ(boxes.Count(), 1u) << "no \"does not exist\" for a file that is there";
  EXPECT_EQ(boxes.Seen()[0].Text, kMsgAllDone);
  const std::wstring line = L"处理失败：文件名“" + hangul +
                            L"”含有系统代码页以外的字符，而所在磁盘没有启用8.3短文件名，RM清除器无法打开此文件。\r\n";
  EXPECT_NE(MemoTextW().find(line), std::wstring::npos) << WideToAnsi(MemoTextW());
}

TEST_F(BatchWindow, DISABLED_AReadOnlyOutputFolderFailsTheJobWithItsReasonAndTheBatchGoesOn) {
  const char* folder = std::getenv("PELLORAN_READONLY_FOLDER");
  ASSERT_NE(folder, nullptr) << "needs a read-only folder: readonly_output_test.py provides one";
  // The driver put "in.rm" (a stand-in directive to shrink by 5) in the read-only folder.
  const std::string readOnly = std::string(folder) + "\\";
  ASSERT_TRUE(testing::Exists(readOnly + "in.rm"));
  BoxWatcher boxes;
  ASSERT_TRUE(form->AddFile(readOnly + "in.rm"));
  AddJob("next.rm", "shrink=6");
  RunBatch();
  EXPECT_EQ(Status(0), kStatusFailed);
  EXPECT_EQ(Status(1), kDone + "6");
  ASSERT_EQ(boxes.Count(), 1u);
  const std::wstring memo = MemoTextW();
  const std::wstring line = L"处理失败：无法在输出文件夹“" + AnsiToWide(readOnly) + L"”中写入文件（系统错误 ";
  EXPECT_NE(memo.find(line), std::wstring::npos) << WideToAnsi(memo);
  EXPECT_FALSE(testing::Exists(readOnly + "Fix_in.rm"));
}

}  // namespace
}  // namespace pelloran
