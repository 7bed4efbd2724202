// The whole batch in the real window with our own events tool (rmevents.exe beside this program)
// over RealMedia files carrying advertising streams, made at test time with ffmpeg.
#include <gtest/gtest.h>

#include "batch/batch_io.h"
#include "batch/batch_runner.h"
#include "batch/control_files.h"
#include "tests/support/form_fixture.h"

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
  const std::string memo = form->Memo2->Text();
  EXPECT_NE(memo.find("***"), std::string::npos);
}

}  // namespace
}  // namespace pelloran
