// The whole batch in the real window with our own events tool (rmevents.exe beside this program)
// over RealMedia files carrying advertising streams, made at test time with ffmpeg.
#include <gtest/gtest.h>

#include "batch/batch_io.h"
#include "batch/batch_runner.h"
#include "batch/control_files.h"
#include "tests/support/form_fixture.h"
#include "tests/support/wide_files.h"

namespace pelloran {
namespace {

using namespace std::chrono_literals;
using testing::BoxWatcher;
using testing::PumpUntil;
using testing::ReadBytes;

class EndToEnd : public testing::MainFormTest {};

TEST_F(EndToEnd, ThreeFilesAreCleanedAndTheSavedBytesReported) {
  ASSERT_TRUE(testing::Exists(ExeDir() + kEventsToolName)) << "rmevents.exe belongs beside this program";
  const std::string media = MEDIA_DIR "\\";
  const std::vector<std::string> names = {"events-v0.rm", "imagemap-v1.rmvb", "split-data.ra"};
  for (const std::string& name : names) {
    testing::Remove(media + "Fix_" + name);
    ASSERT_TRUE(form->AddFile(media + name)) << name;
  }
  BoxWatcher boxes;
  ::SendMessageA(form->btnStart->Handle(), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !form->Runner->Running() && form->btnStart->Enabled(); }, 120s));
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Seen()[0].Text, kMsgAllDone);

  for (size_t row = 0; row < names.size(); ++row) {
    const std::string input = media + names[row], output = media + "Fix_" + names[row];
    const long long removed = FileSizeOf(input) - FileSizeOf(output);
    EXPECT_GT(removed, 0) << names[row];
    EXPECT_EQ(form->Jobs->Row(static_cast<int>(row)).Status, kStatusDonePrefix + std::to_string(removed))
        << names[row];
    const std::string cleaned = ReadBytes(output);
    EXPECT_EQ(cleaned.find("ads.example.com"), std::string::npos) << names[row];
    EXPECT_EQ(cleaned.compare(0, 4, ".RMF"), 0) << names[row];
  }
  // The events file's texts went into the first file's CONT header.
  EXPECT_NE(ReadBytes(media + "Fix_events-v0.rm").find("www.pelloran.example"), std::string::npos);
  const std::string memo = form->logMemo->Text();
  EXPECT_NE(memo.find("***"), std::string::npos);
  // The tool speaks the test user's language (Chinese, code page 936); the runner still reads it.
  EXPECT_NE(memo.find("已写入："), std::string::npos) << memo;
}

TEST_F(EndToEnd, AFolderOfFilesNamedOutsideTheCodePageIsCleanedWithOutputsNamedAlike) {
  ASSERT_TRUE(testing::Exists(ExeDir() + kEventsToolName)) << "rmevents.exe belongs beside this program";
  testing::TempFolder dir;
  const std::wstring root = AnsiToWide(dir.Path()) + testing::kHangulName + L"\\";
  ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((root + AnsiToWide("\xB1\x5C")).c_str(), nullptr));  // trail byte 0x5C
  const std::wstring media = AnsiToWide(MEDIA_DIR "\\");
  const std::vector<std::pair<std::wstring, std::wstring>> copies = {
      {L"events-v0.rm", testing::kHangulName + L".rm"},
      {L"imagemap-v1.rmvb", AnsiToWide("\xB1\x5C\\") + testing::kEmojiName + L".rmvb"},
      {L"split-data.ra", L"plain.ra"}};
  for (const auto& [from, to] : copies)
    ASSERT_TRUE(::CopyFileW((media + from).c_str(), (root + to).c_str(), FALSE)) << WideToAnsi(to);
  testing::WriteBytesW(root + L"readme.txt", "not media");

  ASSERT_TRUE(form->AddFile(root.substr(0, root.size() - 1)));
  ASSERT_EQ(form->Jobs->Count(), 3);
  BoxWatcher boxes;
  ::SendMessageA(form->btnStart->Handle(), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !form->Runner->Running() && form->btnStart->Enabled(); }, 120s));
  ASSERT_EQ(boxes.Count(), 1u);
  for (int row = 0; row < 3; ++row) {
    const JobFiles job = form->Jobs->Files(row);
    const size_t nameAt = job.Input.rfind(L'\\') + 1;
    EXPECT_EQ(job.Output, job.Input.substr(0, nameAt) + L"Fix_" + job.Input.substr(nameAt));
    const long long removed = FileSizeOf(job.Input) - FileSizeOf(job.Output);
    EXPECT_GT(removed, 0) << WideToAnsi(job.Input);
    EXPECT_EQ(form->Jobs->Row(row).Status, kStatusDonePrefix + std::to_string(removed)) << WideToAnsi(job.Input);
    const std::string cleaned = testing::ReadBytesW(job.Output);
    EXPECT_EQ(cleaned.find("ads.example.com"), std::string::npos);
    EXPECT_EQ(cleaned.compare(0, 4, ".RMF"), 0);
  }
  // Only inputs and their cleaned copies: no temporary name is left behind.
  EXPECT_EQ(testing::FileNamesIn(root).size(), 5u);  // two inputs, two outputs, readme.txt
  EXPECT_EQ(testing::FileNamesIn(root + AnsiToWide("\xB1\x5C\\")).size(), 2u);
}

TEST_F(EndToEnd, AFolderOutputAndAnOutputThatIsItsInputFailAndHarmNothing) {
  ASSERT_TRUE(testing::Exists(ExeDir() + kEventsToolName)) << "rmevents.exe belongs beside this program";
  testing::TempFolder dir;
  const std::string input = dir / "movie.rm";
  ASSERT_TRUE(::CopyFileA(MEDIA_DIR "\\events-v0.rm", input.c_str(), FALSE));
  const std::string before = ReadBytes(input);
  ASSERT_TRUE(::CreateDirectoryA((dir / "out").c_str(), nullptr));
  ASSERT_TRUE(form->AddFile(input));
  ASSERT_TRUE(form->AddFile(input));
  ASSERT_TRUE(form->AddFile(input));
  // A trailing backslash: the C runtime must not read "\"" as a quote and swallow -e -m -l.
  form->Jobs->SetPaths(0, input, dir / "out\\");
  form->Jobs->SetPaths(1, input, dir / "MOVIE.RM");
  BoxWatcher boxes;
  ::SendMessageA(form->btnStart->Handle(), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !form->Runner->Running() && form->btnStart->Enabled(); }, 120s));
  EXPECT_EQ(form->Jobs->Row(0).Status, kStatusFailed);
  EXPECT_EQ(form->Jobs->Row(1).Status, kStatusFailed);
  EXPECT_EQ(form->Jobs->Row(2).Status.rfind(kStatusDonePrefix, 0), 0u) << "the batch went on";
  const std::string memo = form->logMemo->Text();
  // The tool's own log of the first job, written to result.txt as the command line said.
  EXPECT_NE(memo.find("Error: 输出路径"), std::string::npos) << memo;
  EXPECT_NE(memo.find("是文件夹，不是文件"), std::string::npos) << memo;
  EXPECT_EQ(ReadBytes(input), before);
  EXPECT_EQ(testing::FileNamesIn(AnsiToWide(dir / "out\\")).size(), 0u);
  // Only the input, its one good copy and the folder.
  EXPECT_EQ(testing::FileNamesIn(AnsiToWide(dir.Path())).size(), 2u);
  ASSERT_EQ(boxes.Count(), 1u);
}

}  // namespace
}  // namespace pelloran
