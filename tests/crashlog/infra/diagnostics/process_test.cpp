#include "crashlog/infra/diagnostics/process.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace pelloran::crashlog {
namespace {

using pelloran::testing::ReadWholeFile;
using pelloran::testing::RunProgram;
using pelloran::testing::RunProgramCapturing;
using pelloran::testing::ScratchFolder;
using pelloran::testing::SiblingProgram;

const std::string kProbe = "crashlog_diag_probe.exe";

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

TEST(ModuleFacts, FileNameAndFileSize) {
  const std::string self = ModuleFileName(nullptr);
  EXPECT_EQ(self, SiblingProgram("crashlog_process_tests.exe"));
  EXPECT_EQ(ModuleFileName(ThisModule()), self);  // linked into the program itself
  EXPECT_EQ(ModuleFileName(reinterpret_cast<HMODULE>(0x10)), "");

  ScratchFolder folder;
  const std::string file = folder.File("seven.bin");
  std::FILE* out = std::fopen(file.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite("1234567", 1, 7, out);
  std::fclose(out);
  EXPECT_EQ(FindFileSize(file), 7u);
  EXPECT_EQ(FindFileSize(folder.File("missing.bin")), 0u);
  // A pattern would measure whatever file it happens to find first.
  EXPECT_EQ(FindFileSize(folder.File("seven.*")), 0u);
  EXPECT_EQ(FindFileSize(""), 0u);
}

TEST(CommandLine, TheTestRunsWithoutParameters) {
  EXPECT_TRUE(CommandLineParameters().empty());
}

TEST(Registry, StringValuesWithAndWithoutTerminatingZero) {
  const std::string key = "Software\\PelloranTests\\Registry" + std::to_string(GetCurrentProcessId());
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  ScopedRegistryKey created(raw);
  RegSetValueExA(raw, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("default"), 8);
  RegSetValueExA(raw, "Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%TEMP%\\x"), 9);
  RegSetValueExA(raw, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);  // no zero stored
  RegSetValueExA(raw, "Empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0);
  const DWORD number = 5;
  RegSetValueExA(raw, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);

  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, ""), "default");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "\\" + key, "Path"), "%TEMP%\\x");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "Bare"), "abc");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "Empty"), "");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "Number"), "");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "Missing"), "");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key + "\\Missing", ""), "");

  created.reset();
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
}

TEST(ProfileFile, ReadWriteAndDefaults) {
  ScratchFolder folder;
  const std::string ini = folder.File("CrashLog.ini");
  EXPECT_EQ(ReadIniString(ini, "Coordinates", "Left", "100"), "100");  // no file yet
  WriteIniString(ini, "Coordinates", "Left", "250");
  WriteIniString(ini, "Coordinates", "Top", "");
  EXPECT_EQ(ReadIniString(ini, "Coordinates", "Left", "100"), "250");
  EXPECT_EQ(ReadIniString(ini, "Coordinates", "Top", "7"), "");
  EXPECT_EQ(ReadIniString(ini, "Coordinates", "Width", "7"), "7");
  EXPECT_NE(ReadWholeFile(ini).find("Left=250"), std::string::npos);
  // A folder that does not exist: the write is dropped quietly, the read gives the default.
  WriteIniString(folder.File("none\\x.ini"), "S", "K", "V");
  EXPECT_EQ(ReadIniString(folder.File("none\\x.ini"), "S", "K", "d"), "d");
}

TEST(SystemFacts, CharsetOfTheChineseCodePage) {
  EXPECT_EQ(GetACP(), 936u);  // the test session runs in code page 936
  EXPECT_EQ(DefaultCharset(), GB2312_CHARSET);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

HWND MakeWindow(DWORD exStyle, HWND owner, bool visible) {
  static const bool registered = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &PlainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "PelloranProbeWindow";
    return RegisterClassA(&windowClass) != 0;
  }();
  if (!registered) return nullptr;
  return CreateWindowExA(exStyle, "PelloranProbeWindow", "probe", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0),
                         10, 10, 100, 100, owner, nullptr, GetModuleHandleA(nullptr), nullptr);
}

TEST(MainWindow, FirstVisibleUnownedApplicationWindowOfTheProcess) {
  const DWORD self = GetCurrentProcessId();
  EXPECT_EQ(FindMainWindow(self), nullptr);

  ScopedWindow hidden(MakeWindow(0, nullptr, false));
  ScopedWindow tool(MakeWindow(WS_EX_TOOLWINDOW, nullptr, true));
  ASSERT_TRUE(hidden && tool);
  EXPECT_EQ(FindMainWindow(self), nullptr);

  ScopedWindow main(MakeWindow(0, nullptr, true));
  ScopedWindow owned(MakeWindow(0, main.get(), true));  // newer, so enumerated first
  ASSERT_TRUE(main && owned);
  EXPECT_EQ(FindMainWindow(self), main.get());
  EXPECT_EQ(FindMainWindow(self + 4), nullptr);  // no process has this id next to ours... or no window

  main.reset();
  owned.reset();
  ScopedWindow appTool(MakeWindow(WS_EX_TOOLWINDOW | WS_EX_APPWINDOW, nullptr, true));
  EXPECT_EQ(FindMainWindow(self), appTool.get());
}

TEST(HostProgram, DevelopmentEnvironmentIsRecognisedByItsFileName) {
  EXPECT_TRUE(IsIdeExecutablePath("C:\\Tools\\PelloranIDE.exe"));
  EXPECT_TRUE(IsIdeExecutablePath("pelloranide.EXE"));
  EXPECT_FALSE(IsIdeExecutablePath("C:\\PelloranIDE.exe\\app.exe"));
  EXPECT_FALSE(IsIdeExecutablePath("C:\\Tools\\XPelloranIDE.exe"));
  // "\xC7\x5C" is one double-byte character: its second byte is not a separator.
  EXPECT_FALSE(IsIdeExecutablePath("C:\\Tools\\\xC7\x5CPelloranIDE.exe"));
  EXPECT_TRUE(IsIdeExecutablePath("C:\\\xC7\x5C\\PelloranIDE.exe"));
  EXPECT_FALSE(IsIDEHost());

  ScratchFolder folder;
  const std::string ide = folder.File("PelloranIde.exe");
  ASSERT_TRUE(CopyFileA(SiblingProgram(kProbe).c_str(), ide.c_str(), FALSE));
  EXPECT_EQ(RunProgram(Quoted(ide) + " idehost"), 1u);
  EXPECT_EQ(RunProgram(Quoted(SiblingProgram(kProbe)) + " idehost"), 0u);
}

// Runs the probe under this test as its debugger until it ends; returns its exit code.
DWORD RunProbeUnderDebugger(const std::string& arguments) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = Quoted(SiblingProgram(kProbe)) + " " + arguments;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                      &startup, &info))
    return ~0u;
  ScopedKernelHandle process(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  DWORD exitCode = ~0u;
  for (;;) {
    DEBUG_EVENT event{};
    if (!WaitForDebugEvent(&event, 60000)) break;
    DWORD status = DBG_CONTINUE;
    if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
        event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
      status = DBG_EXCEPTION_NOT_HANDLED;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile)
      CloseHandle(event.u.CreateProcessInfo.hFile);
    if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
    const bool ended = event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
    if (ended) exitCode = event.u.ExitProcess.dwExitCode;
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    if (ended) break;
  }
  return exitCode;
}

TEST(Debugger, AttachedDebuggerIsSeenAndSwitchesTheTraceOn) {
  EXPECT_FALSE(IsDebuggerAttached());
  EXPECT_EQ(RunProgram(Quoted(SiblingProgram(kProbe)) + " attached"), 0u);
  EXPECT_EQ(RunProbeUnderDebugger("attached"), 3u);  // attached, and the trace is on
}

TEST(Restart, NewInstanceWithTheSameCommandLineInTheStartUpFolder) {
  ScratchFolder folder;
  const std::string startFolder = folder.File("start");
  ASSERT_TRUE(CreateDirectoryA(startFolder.c_str(), nullptr));
  const std::string marker = folder.File("marker.txt");
  const std::string commandLine = Quoted(SiblingProgram(kProbe)) + " restart " + Quoted(marker) + " \"x y\"";

  // The first instance is given standard handles (a pipe) and ends with exit code 1. The new one
  // inherits no handles, so it must not be told to use the first one's.
  std::string output;
  EXPECT_EQ(RunProgramCapturing(commandLine, output, startFolder), 1u);
  // The new instance runs on its own; wait until it has noted itself.
  std::string notes;
  for (int i = 0; i < 600 && notes.find("second|") == std::string::npos; ++i) {
    Sleep(50);
    notes = ReadWholeFile(marker);
  }
  EXPECT_EQ(notes, "first|" + commandLine + "|" + startFolder + "|std\n" + "second|" + commandLine + "|" +
                       startFolder + "|own\n");
}

}  // namespace
}  // namespace pelloran::crashlog
