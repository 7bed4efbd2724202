// Shows the main window on each tab and the edit-entry dialog with a few sample jobs, and saves
// a picture of each as a BMP file in the folder given on the command line
// (scripts/screenshots.sh turns them into the PNG files of docs/).
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

#include "app/main_form.h"
#include "runtime/application.h"
#include "runtime/scoped_handle.h"
#include "tests/support/window_picture.h"
#include "tests/support/window_test_support.h"

namespace {

using namespace pelloran;
using pelloran::testing::SaveWindowPicture;
using namespace std::chrono_literals;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: screenshot_tour OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string out = std::string(argv[1]) + "\\";
  Application().Initialize();
  Application().SetTitle("Pelloran");
  TMainForm form;
  form.Create();
  form.Show();
  form.AddFile("D:\\影片\\周末电影.rmvb");
  form.AddFile("D:\\影片\\新闻联播.rm");
  form.AddFile("E:\\音乐\\老歌.ra");
  form.Jobs->SetStatus(0, "成功处理 - 文件长度减少：20480");
  form.Jobs->SetStatus(1, "正在处理...");
  form.ggProgress->SetMaxValue(100);
  form.ggProgress->SetProgress(45);
  ::SetForegroundWindow(form.Handle());
  int failures = 0;
  auto shoot = [&](HWND window, const char* name) {
    testing::PumpFor(700ms);
    if (!SaveWindowPicture(window, out + name)) {
      std::fprintf(stderr, "could not capture %s\n", name);
      ++failures;
    }
  };
  shoot(form.Handle(), "main-window-cleaning.bmp");
  form.pageControl->SetActivePageIndex(1);
  shoot(form.Handle(), "main-window-help.bmp");
  form.pageControl->SetActivePageIndex(2);
  shoot(form.Handle(), "main-window-homepage-tab.bmp");
  form.pageControl->SetActivePageIndex(0);

  // The edit dialog is modal: picture it from another thread, then close it with Esc.
  form.lvFiles->Select(0);
  std::thread photographer([&] {
    HWND dialog = nullptr;
    for (int i = 0; i < 200 && !dialog; ++i) {
      ::Sleep(50);
      dialog = ::FindWindowA("#32770", "编辑文件");
    }
    if (!dialog) {
      ++failures;
      return;
    }
    ::Sleep(700);
    if (!SaveWindowPicture(dialog, out + "edit-dialog.bmp")) ++failures;
    testing::PostKey(::GetDlgItem(dialog, 202), VK_ESCAPE);
  });
  form.EditFileClick();
  photographer.join();
  return failures == 0 ? 0 : 1;
}
