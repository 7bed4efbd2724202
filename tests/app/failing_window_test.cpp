// Pelloran.exe with an event handler that fails (a test build whose delete button reads through a
// pointer that was never set): the failure is reported in Pelloran.elf beside the program, with
// the failing handler and its line as the first row of the call stack, and the window goes on
// working: its list and its pages still answer their commands, and it closes normally.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "runtime/scoped_handle.h"
#include "tests/support/window_test_support.h"

namespace pelloran {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The number of the source line that ends in the comment "// @<mark>".
int MarkedLine(const std::string& source, const std::string& mark) {
  std::istringstream lines(ReadFile(source));
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string tail = "// @" + mark;
    if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0) return number;
  }
  return 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Every log entry has one call stack table: title, rule, header, rule, then the rows. Returns
// the cells of each table's first row.
std::vector<std::vector<std::string>> FirstStackRows(const std::string& log) {
  std::vector<std::vector<std::string>> rows;
  const std::vector<std::string> lines = Lines(log);
  for (std::size_t i = 0; i + 4 < lines.size(); ++i) {
    if (lines[i].rfind("Call Stack Information:", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream row(lines[i + 4]);
    std::string cell;
    std::getline(row, cell, '|');  // before the first bar
    while (std::getline(row, cell, '|')) cells.push_back(Trim(cell));
    rows.push_back(cells);
  }
  return rows;
}

// A line "  <field> ... : <value>" of the report.
bool HasField(const std::string& log, const std::string& field, const std::string& value) {
  for (const std::string& line : Lines(log)) {
    const auto colon = line.find(": ");
    const std::string start = "  " + field;
    // The longest label has its ": " right after it; the others are padded with spaces.
    const bool named = line.rfind(start, 0) == 0 && line.size() > start.size() &&
                       (line[start.size()] == ' ' || line[start.size()] == ':');
    if (named && colon != std::string::npos && line.substr(colon + 2) == value)
      return true;
  }
  return false;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }

struct ChildSearch {
  const char* className;
  HWND found = nullptr;
};

BOOL CALLBACK FindChild(HWND window, LPARAM lParam) {
  auto* s = reinterpret_cast<ChildSearch*>(lParam);
  char name[64] = {};
  ::GetClassNameA(window, name, sizeof name);
  if (std::string(name) != s->className) return TRUE;
  s->found = window;
  return FALSE;
}

HWND Child(HWND parent, const char* className) {
  ChildSearch search{className};
  ::EnumChildWindows(parent, &FindChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The program under test; ended when a test leaves early, so that no window outlives its test.
struct TProgram {
  ScopedKernelHandle process, thread;
  DWORD id = 0;
  ~TProgram() {
    if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(process.get(), 9);
  }
};

// The log once it holds `count` complete entries (each ends in its module table's closing rule,
// then the registers); waits while the program is still writing it.
std::string LogWithEntries(const std::string& path, std::size_t count) {
  std::string text;
  for (int i = 0; i < 600; ++i) {
    text = ReadFile(path);
    if (FirstStackRows(text).size() >= count && text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0)
      return text;
    ::Sleep(100);
  }
  return text;
}

TEST(FailingWindow, ReportedInTheLogBesideTheProgramAndTheWindowGoesOn) {
  const std::string exe = FAILING_PELLORAN_EXE;
  const std::string log = FolderOf(exe) + "Pelloran.elf";
  ::DeleteFileA(log.c_str());
  const int faultLine = MarkedLine(FAILING_FORM_SOURCE, "fault");
  ASSERT_GT(faultLine, 0);

  std::string command = "\"" + exe + "\" C:\\clips\\a.rmvb C:\\clips\\b.rm";
  STARTUPINFOA si{sizeof si};
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, FolderOf(exe).c_str(),
                               &si, &started));
  TProgram program{ScopedKernelHandle(started.hProcess), ScopedKernelHandle(started.hThread), started.dwProcessId};
  ::WaitForInputIdle(program.process.get(), 20000);
  const HWND window = testing::WaitForProcessWindow(program.id, MainWindowCaption());
  ASSERT_NE(window, nullptr);
  const HWND list = Child(window, WC_LISTVIEWA);
  const HWND tabs = Child(window, WC_TABCONTROLA);
  ASSERT_NE(list, nullptr);
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2);

  // The delete button, as its click arrives.
  ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(kCmdDeleteFileButton, 0), 0);
  const std::string text = LogWithEntries(log, 1);
  const auto rows = FirstStackRows(text);
  ASSERT_EQ(rows.size(), 1u) << text;
  EXPECT_TRUE(HasField(text, "2.4 Type", "EAccessViolation")) << text;
  // Its own window was in front: the active controls are its own.
  EXPECT_TRUE(HasField(text, "3.2 Form Text", MainWindowCaption())) << text;
  EXPECT_NE(text.find("in module 'Pelloran.exe'. Read of address 00000000."), std::string::npos) << text;
  const std::vector<std::string> expected = {"Pelloran.exe", "failing_form.cpp", "pelloran::TFailingForm",
                                             "DeleteFileClick", std::to_string(faultLine)};
  ASSERT_GE(rows[0].size(), 6u) << text;
  EXPECT_EQ(std::vector<std::string>(rows[0].begin() + 1, rows[0].begin() + 6), expected) << text;

  // The window goes on: the list clears from its menu command, the tabs switch pages.
  ASSERT_EQ(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2);
  ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(kCmdClearListItem, 0), 0);
  EXPECT_EQ(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
  ::SendMessageA(tabs, TCM_SETCURFOCUS, 1, 0);
  EXPECT_EQ(::SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 1);
  EXPECT_FALSE(::IsWindowVisible(list));

  // Closed as a user closes it. While the report is still finishing, the program drops what is
  // posted to it: the close is posted again until it is taken.
  bool ended = false;
  for (int i = 0; i < 60 && !ended; ++i) {
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ended = ::WaitForSingleObject(program.process.get(), 500) == WAIT_OBJECT_0;
  }
  ASSERT_TRUE(ended);
  DWORD code = 1;
  ::GetExitCodeProcess(program.process.get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(FirstStackRows(ReadFile(log)).size(), 1u);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Three files dropped on Pelloran (its parameters), the first crafted to look like a WinCGI
// profile naming the third as its output; and another program's window in front, with text in
// its focused edit box. A failure of Pelloran meanwhile is logged as ever: no file dropped on it
// is overwritten with the report, and nothing of the other window is reported (the
// active-controls items are empty).
TEST(FailingWindow, NeitherDroppedFilesNorAnotherProgramInFrontAreTouched) {
  const std::string exe = FAILING_PELLORAN_EXE;
  const std::string folder = FolderOf(exe);
  const std::string log = folder + "Pelloran.elf";
  ::DeleteFileA(log.c_str());
  const std::string crafted = folder + "crafted.rm", second = folder + "second.rm", third = folder + "third.rm";
  const std::string media = ".RMF" + std::string(200, '\x01');
  WriteFile(crafted, "[CGI]\r\nRequest Method=GET\r\n[System]\r\nOutput File=" + third + "\r\n");
  WriteFile(second, media);
  WriteFile(third, media);
  std::string command = "\"" + exe + "\" \"" + crafted + "\" \"" + second + "\" \"" + third + "\"";
  STARTUPINFOA si{sizeof si};
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, FolderOf(exe).c_str(),
                               &si, &started));
  TProgram program{ScopedKernelHandle(started.hProcess), ScopedKernelHandle(started.hThread), started.dwProcessId};
  ::WaitForInputIdle(program.process.get(), 20000);
  const HWND window = testing::WaitForProcessWindow(program.id, MainWindowCaption());
  ASSERT_NE(window, nullptr);

  // This test's own "editor": a window holding a line of text in its focused edit box.
  const HWND editor = ::CreateWindowExA(0, "STATIC", "Quarterly figures - Editor", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                        40, 40, 400, 200, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(editor, nullptr);
  const HWND edit = ::CreateWindowExA(0, "EDIT", "the private line of an open document", WS_CHILD | WS_VISIBLE,
                                      10, 10, 360, 24, editor, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  // Pelloran may still be activating its own window: the editor is put in front until it stays
  // there for half a second.
  const auto pumpFor = [](int milliseconds) {
    for (int i = 0; i < milliseconds / 10; ++i) {
      MSG message;
      while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
      ::Sleep(10);
    }
  };
  bool editorInFront = false;
  for (int attempt = 0; attempt < 10 && !editorInFront; ++attempt) {
    ::SetForegroundWindow(editor);
    ::SetFocus(edit);
    pumpFor(500);
    editorInFront = ::GetForegroundWindow() == editor && ::GetFocus() == edit;
  }
  ASSERT_TRUE(editorInFront);

  ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(kCmdDeleteFileButton, 0), 0);
  const std::string text = LogWithEntries(log, 1);
  ASSERT_EQ(FirstStackRows(text).size(), 1u) << text;
  EXPECT_TRUE(HasField(text, "2.4 Type", "EAccessViolation")) << text;
  EXPECT_EQ(text.find("private line"), std::string::npos) << text;
  EXPECT_EQ(text.find("Quarterly figures"), std::string::npos) << text;
  for (const char* field : {"3.1 Form Class", "3.2 Form Text", "3.3 Control Class", "3.4 Control Text"})
    EXPECT_TRUE(HasField(text, field, "")) << field << "\n" << text;
  ::DestroyWindow(editor);
  EXPECT_EQ(ReadFile(third), media);
  EXPECT_EQ(ReadFile(second), media);

  bool ended = false;
  for (int i = 0; i < 60 && !ended; ++i) {
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ended = ::WaitForSingleObject(program.process.get(), 500) == WAIT_OBJECT_0;
  }
  EXPECT_TRUE(ended);
  EXPECT_EQ(ReadFile(third), media);
  for (const std::string& file : {crafted, second, third}) ::DeleteFileA(file.c_str());
}

}  // namespace
}  // namespace pelloran
