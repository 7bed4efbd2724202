// Pelloran.exe as shipped, with its own options, meets an error: a control file it cannot write
// (a folder is in the way of "blank.txt"). Its user reads the reporter's windows in Chinese: the
// error dialog's caption, buttons, tabs, page headers and columns, and the reproduce-steps
// dialog. The log keeps the English labels of the report, with the user's Chinese steps in it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_form.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "runtime/scoped_handle.h"
#include "tests/support/window_test_support.h"

namespace pelloran {
namespace {

using namespace crashlog;
using testing::WindowText;

// Memory placed in another process, for the messages that hand a pointer to the control.
class TRemoteBlock {
 public:
  TRemoteBlock(HANDLE process, std::size_t size)
      : process_(process), size_(size), at_(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
  ~TRemoteBlock() { ::VirtualFreeEx(process_, at_, 0, MEM_RELEASE); }
  TRemoteBlock(const TRemoteBlock&) = delete;
  TRemoteBlock& operator=(const TRemoteBlock&) = delete;
  char* At(std::size_t offset = 0) const { return static_cast<char*>(at_) + offset; }
  void Write(const void* bytes, std::size_t size) const { ::WriteProcessMemory(process_, at_, bytes, size, nullptr); }
  void Read(void* bytes, std::size_t size) const { ::ReadProcessMemory(process_, at_, bytes, size, nullptr); }

 private:
  HANDLE process_;
  std::size_t size_;
  void* at_;
};

template <typename TItem>
struct TTextBlock {
  TItem item;
  char text[256];
};

std::string TabText(HANDLE process, HWND tabs, int index) {
  TRemoteBlock remote(process, sizeof(TTextBlock<TCITEMA>));
  TTextBlock<TCITEMA> local{};
  local.item.mask = TCIF_TEXT;
  local.item.pszText = remote.At(offsetof(TTextBlock<TCITEMA>, text));
  local.item.cchTextMax = sizeof local.text;
  remote.Write(&local, sizeof local);
  ::SendMessageA(tabs, TCM_GETITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.At()));
  remote.Read(&local, sizeof local);
  local.text[sizeof local.text - 1] = 0;
  return local.text;
}

std::string ColumnTitle(HANDLE process, HWND list, int column) {
  TRemoteBlock remote(process, sizeof(TTextBlock<LVCOLUMNA>));
  TTextBlock<LVCOLUMNA> local{};
  local.item.mask = LVCF_TEXT;
  local.item.pszText = remote.At(offsetof(TTextBlock<LVCOLUMNA>, text));
  local.item.cchTextMax = sizeof local.text;
  remote.Write(&local, sizeof local);
  ::SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(remote.At()));
  remote.Read(&local, sizeof local);
  local.text[sizeof local.text - 1] = 0;
  return local.text;
}

void ClickTab(HANDLE process, HWND tabs, int index) {
  TRemoteBlock remote(process, sizeof(RECT));
  ::SendMessageA(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.At()));
  RECT r{};
  remote.Read(&r, sizeof r);
  testing::ClickAt(tabs, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

// The page shown inside the tab control, once it shows the page of `header`.
HWND PageWithHeader(HWND tabs, const std::string& header) {
  for (int i = 0; i < 250; ++i) {
    for (HWND child = ::GetWindow(tabs, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
      if (::IsWindowVisible(child) && WindowText(::GetDlgItem(child, kIdPageHeader)) == header) return child;
    ::Sleep(20);
  }
  return nullptr;
}

std::string ItemText(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

BOOL CALLBACK FindStartButton(HWND window, LPARAM found) {
  if (WindowText(window) == "==> 开始清除广告 <==") {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

TEST(ChineseReporter, PelloranShowsItsErrorInChineseAndLogsItInEnglish) {
  testing::TempFolder folder;
  const std::string exe = folder / "Pelloran.exe";
  ASSERT_TRUE(::CopyFileA(PELLORAN_EXE, exe.c_str(), FALSE));
  ASSERT_TRUE(::CreateDirectoryA((folder / "blank.txt").c_str(), nullptr));  // the events file cannot be written
  testing::MakeFile(folder / "clip.rm", ".RMF", 4096);
  // The dialog as it first opens, without a placement kept from an earlier run.
  char windows[MAX_PATH] = {};
  ::GetWindowsDirectoryA(windows, MAX_PATH);
  ::DeleteFileA((std::string(windows) + "\\CrashLog.ini").c_str());

  std::string command = "\"" + exe + "\" \"" + (folder / "clip.rm") + "\"";
  STARTUPINFOA si{sizeof si};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.Path().c_str(), &si, &pi));
  ScopedKernelHandle process(pi.hProcess), thread(pi.hThread);
  // A failed expectation must not leave the program running.
  struct TEnd {
    HANDLE process;
    ~TEnd() {
      if (::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) ::TerminateProcess(process, 1);
    }
  } end{process.get()};
  const HWND window = testing::WaitForProcessWindow(pi.dwProcessId, MainWindowCaption());
  ASSERT_NE(window, nullptr);
  HWND start = nullptr;
  for (int i = 0; i < 250 && start == nullptr; ++i) {
    ::EnumChildWindows(window, &FindStartButton, reinterpret_cast<LPARAM>(&start));
    if (start == nullptr) ::Sleep(20);
  }
  ASSERT_NE(start, nullptr);
  ::PostMessageA(start, BM_CLICK, 0, 0);

  const HWND dialog = testing::WaitForDialog("错误");
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ItemText(dialog, kIdOk), "确定(&O)");
  EXPECT_EQ(ItemText(dialog, kIdTerminate), "重新启动(&R)");
  EXPECT_EQ(ItemText(dialog, kIdDetails), "详细信息(&D) >>");
  EXPECT_EQ(ItemText(dialog, kIdCopy), "复制到剪贴板(&C)");
  testing::ClickControl(dialog, kIdDetails);
  EXPECT_EQ(ItemText(dialog, kIdDetails), "<< 详细信息(&D)");
  EXPECT_EQ(ItemText(dialog, kIdMessage), "程序运行时发生了错误。\r\n详细情况请查看下面的信息。");

  const HWND tabs = ::GetDlgItem(dialog, kIdTabs);
  ASSERT_EQ(::SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 4);
  const std::vector<std::string> tabTexts = {TabText(process.get(), tabs, 0), TabText(process.get(), tabs, 1),
                                             TabText(process.get(), tabs, 2), TabText(process.get(), tabs, 3)};
  EXPECT_EQ(tabTexts, (std::vector<std::string>{"概况", "调用堆栈", "模块", "CPU"}));
  EXPECT_NE(PageWithHeader(tabs, "概况信息"), nullptr);

  ClickTab(process.get(), tabs, 1);
  const HWND stackPage = PageWithHeader(tabs, "调用堆栈信息");
  ASSERT_NE(stackPage, nullptr);
  std::vector<std::string> columns;
  for (int column = 0; column < 6; ++column)
    columns.push_back(ColumnTitle(process.get(), ::GetDlgItem(stackPage, kIdPageContent), column));
  EXPECT_EQ(columns, (std::vector<std::string>{"地址", "模块", "单元", "类", "过程/方法", "行号"}));

  ClickTab(process.get(), tabs, 2);
  const HWND modulesPage = PageWithHeader(tabs, "模块信息");
  ASSERT_NE(modulesPage, nullptr);
  EXPECT_EQ(ColumnTitle(process.get(), ::GetDlgItem(modulesPage, kIdPageContent), 5), "路径");
  testing::ClickControl(dialog, kIdOk);

  const HWND request = testing::WaitForDialog("重现步骤");
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(ItemText(request, kIdRequestLabel), "请描述重现此错误的操作步骤：");
  EXPECT_EQ(ItemText(request, kIdOk), "确定(&O)");
  ::SetDlgItemTextA(request, kIdRequestEdit, "按了开始按钮。");
  testing::ClickControl(request, kIdOk);

  // The report is written once the dialogs have closed; then the window closes as usual.
  const std::string log = folder / "Pelloran.elf";
  for (int i = 0; i < 250 && testing::ReadBytes(log).find("按了开始按钮。") == std::string::npos; ++i) ::Sleep(20);
  for (int i = 0; i < 100 && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; ++i) {
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ::Sleep(100);
  }
  ::WaitForSingleObject(process.get(), 5000);
  const std::string text = testing::ReadBytes(log);
  EXPECT_NE(text.find("\r\nRequest:\r\n"), std::string::npos);
  EXPECT_NE(text.find("按了开始按钮。"), std::string::npos);
  EXPECT_NE(text.find("Call Stack Information:"), std::string::npos);
  EXPECT_NE(text.find("Address"), std::string::npos);
}

}  // namespace
}  // namespace pelloran
