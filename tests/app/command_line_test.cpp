// Pelloran.exe started with file names on its command line lists them, as if they had been
// dropped on its window.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_form.h"
#include "runtime/scoped_handle.h"
#include "tests/support/wide_files.h"
#include "tests/support/window_test_support.h"

namespace pelloran {
namespace {

BOOL CALLBACK FindList(HWND window, LPARAM lParam) {
  char cls[64] = {};
  ::GetClassNameA(window, cls, sizeof cls);
  if (std::string(cls) == WC_LISTVIEWA) {
    *reinterpret_cast<HWND*>(lParam) = window;
    return FALSE;
  }
  return TRUE;
}

// Reads a list view caption of another process through memory placed in that process.
std::string RemoteItemText(HANDLE process, HWND list, int row) {
  struct Block {
    LVITEMA item;
    char text[1024];
  };
  void* remote = ::VirtualAllocEx(process, nullptr, sizeof(Block), MEM_COMMIT, PAGE_READWRITE);
  Block local{};
  local.item.pszText = reinterpret_cast<char*>(remote) + offsetof(Block, text);
  local.item.cchTextMax = sizeof local.text;
  ::WriteProcessMemory(process, remote, &local, sizeof local, nullptr);
  ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote));
  ::ReadProcessMemory(process, remote, &local, sizeof local, nullptr);
  ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  local.text[sizeof local.text - 1] = 0;
  return local.text;
}

// The same in UTF-16: what the list holds, whatever the name.
std::wstring RemoteItemTextW(HANDLE process, HWND list, int row, int column) {
  struct Block {
    LVITEMW item;
    wchar_t text[1024];
  };
  void* remote = ::VirtualAllocEx(process, nullptr, sizeof(Block), MEM_COMMIT, PAGE_READWRITE);
  Block local{};
  local.item.iSubItem = column;
  local.item.pszText = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(remote) + offsetof(Block, text));
  local.item.cchTextMax = 1024;
  ::WriteProcessMemory(process, remote, &local, sizeof local, nullptr);
  ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
  ::ReadProcessMemory(process, remote, &local, sizeof local, nullptr);
  ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  local.text[1023] = 0;
  return local.text;
}

TEST(CommandLine, FilesNamedAtStartAreListed) {
  std::string command = "\"" PELLORAN_EXE "\" \"C:\\影片\\a b.rmvb\" C:\\x\\clip.avi D:song.RA";
  STARTUPINFOA si{sizeof si};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ScopedKernelHandle process(pi.hProcess), thread(pi.hThread);
  ::WaitForInputIdle(process.get(), 20000);

  const HWND window = testing::WaitForProcessWindow(pi.dwProcessId, MainWindowCaption());
  ASSERT_NE(window, nullptr);
  HWND list = nullptr;
  ::EnumChildWindows(window, &FindList, reinterpret_cast<LPARAM>(&list));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(RemoteItemText(process.get(), list, 0), "C:\\影片\\a b.rmvb");
  EXPECT_EQ(RemoteItemText(process.get(), list, 1), "D:song.RA");

  ::PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);
}

TEST(CommandLine, NamesOutsideTheCodePageAndFoldersArriveWhole) {
  testing::TempFolder dir;
  const std::wstring root = AnsiToWide(dir.Path());
  const std::wstring hangul = root + testing::kHangulName + L".rm";
  const std::wstring folder = root + testing::kEmojiName;
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(testing::WriteBytesW(folder + L"\\b.RA", "x"));
  ASSERT_TRUE(testing::WriteBytesW(folder + L"\\a.rmvb", "x"));
  std::wstring command = L"\"" + AnsiToWide(PELLORAN_EXE) + L"\" \"" + hangul + L"\" \"" + folder + L"\"";
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ScopedKernelHandle process(pi.hProcess), thread(pi.hThread);
  ::WaitForInputIdle(process.get(), 20000);

  const HWND window = testing::WaitForProcessWindow(pi.dwProcessId, MainWindowCaption());
  ASSERT_NE(window, nullptr);
  HWND list = nullptr;
  ::EnumChildWindows(window, &FindList, reinterpret_cast<LPARAM>(&list));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(RemoteItemTextW(process.get(), list, 0, 0), hangul);
  EXPECT_EQ(RemoteItemTextW(process.get(), list, 0, 1), root + L"Fix_" + testing::kHangulName + L".rm");
  EXPECT_EQ(RemoteItemTextW(process.get(), list, 1, 0), folder + L"\\a.rmvb");
  EXPECT_EQ(RemoteItemTextW(process.get(), list, 2, 0), folder + L"\\b.RA");

  ::PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
}

// Runs Pelloran with `parameters` until its window shows, closes it, and says whether its trace
// file appeared beside it.
bool TraceWrittenFor(const std::string& parameters) {
  const std::string exe = PELLORAN_EXE;
  const std::string trace = exe.substr(0, exe.size() - 4) + ".log";
  ::DeleteFileA(trace.c_str());
  std::string command = "\"" + exe + "\" " + parameters;
  STARTUPINFOA si{sizeof si};
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "cannot start " << command;
    return false;
  }
  ScopedKernelHandle process(pi.hProcess), thread(pi.hThread);
  const HWND window = testing::WaitForProcessWindow(pi.dwProcessId, MainWindowCaption());
  EXPECT_NE(window, nullptr) << command;
  ::PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
  const bool written = ::GetFileAttributesA(trace.c_str()) != INVALID_FILE_ATTRIBUTES;
  ::DeleteFileA(trace.c_str());
  return written;
}

// The trace is switched by a switch word alone: media files under folders named "Debug" and
// "Save" leave no trace file behind.
TEST(CommandLine, OnlyASwitchWordSwitchesTheTrace) {
  EXPECT_FALSE(TraceWrittenFor("\"D:\\Debug Save\\clip.rm\""));
  EXPECT_FALSE(TraceWrittenFor("a.rm D:\\Debug\\save\\b.rmvb"));
  EXPECT_TRUE(TraceWrittenFor("a.rm /DEBUG+SAVE"));
}

}  // namespace
}  // namespace pelloran
