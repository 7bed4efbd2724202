#pragma once
// The batch in the real main window with a stand-in events tool (fake_rmevents.exe, copied to
// rmevents.exe beside the test program). Message boxes are answered by a watcher thread.

#include <gtest/gtest.h>

#include <map>

#include "batch/batch_io.h"
#include "batch/batch_runner.h"
#include "batch/control_files.h"
#include "tests/support/form_fixture.h"
#include "tests/support/wide_files.h"

namespace pelloran::testing {

using namespace std::chrono_literals;

class BatchWindow : public MainFormTest {
 protected:
  void SetUp() override {
    InstallTool();
    testing::Remove(ExeDir() + kToolLogFileName);
    MainFormTest::SetUp();
  }

  void TearDown() override {
    MainFormTest::TearDown();
    testing::Remove(ExeDir() + kEventsToolName);
    testing::Remove(ExeDir() + kToolLogFileName);
  }

  static void InstallTool() {
    ASSERT_TRUE(::CopyFileA((ExeDir() + "fake_rmevents.exe").c_str(), (ExeDir() + kEventsToolName).c_str(), FALSE));
  }

  // An input file whose first line tells the stand-in what to do.
  std::string AddJob(const std::string& name, const std::string& directive, long long size = 4000) {
    std::string path = dir / name;
    MakeFile(path, "#fake " + directive + "\n", size);
    EXPECT_TRUE(Exists(path)) << path;
    EXPECT_TRUE(form->AddFile(path));
    EXPECT_EQ(form->Jobs->Row(form->Jobs->Count() - 1).Input, path);
    return path;
  }

  std::string Status(int row) { return form->Jobs->Row(row).Status; }

  // Every status each row showed, in order, while the batch ran.
  using Trail = std::map<int, std::vector<std::string>>;
  void Record(Trail& trail) {
    for (int row = 0; row < form->Jobs->Count(); ++row) {
      std::string status = Status(row);
      auto& seen = trail[row];
      if (seen.empty() || seen.back() != status) seen.push_back(status);
    }
  }

  // Presses the start button with a real click message and runs the loop until the batch ends.
  Trail RunBatch(const std::function<void()>& eachTurn = nullptr) {
    Trail trail;
    Record(trail);
    ::SendMessageA(form->btnStart->Handle(), BM_CLICK, 0, 0);
    bool ended = PumpUntil([&] {
      Record(trail);
      if (eachTurn) eachTurn();
      return !form->Runner->Running() && form->btnStart->Enabled();
    }, 60s);
    EXPECT_TRUE(ended) << "the batch did not end";
    Record(trail);
    return trail;
  }

  std::string MemoText() { return form->logMemo->Text(); }
  std::wstring MemoTextW() { return form->logMemo->TextW(); }

  // The same for a name given in UTF-16 (any name the file system allows).
  std::wstring AddWideJob(const std::wstring& name, const std::string& directive, size_t size = 4000) {
    const std::wstring path = Root() + name;
    std::string bytes = "#fake " + directive + "\n";
    bytes.resize(std::max(size, bytes.size()), '\0');
    EXPECT_TRUE(WriteBytesW(path, bytes)) << WideToAnsi(path);
    EXPECT_TRUE(form->AddFile(path));
    EXPECT_EQ(form->Jobs->Files(form->Jobs->Count() - 1).Input, path);
    return path;
  }

  std::wstring Root() const { return AnsiToWide(dir.Path()); }

  TempFolder dir;
};

}  // namespace pelloran::testing
