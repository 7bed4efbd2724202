// The error log: the entry rules on any content, trimming and the CR LF runs on disk, the
// duplicate test by the four keys, SaveToLogFile's events and warnings, and saving against other
// processes: one that writes between our read and save, one that holds the log open, and one
// killed in the middle of its save.
#include "crashlog/capture/log_file.h"
#include "crashlog/capture/report_state.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/options.h"
#include "tests/crashlog/capture/log_lists.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace pelloran::crashlog {
namespace {

using testing::FileExists;
using testing::ListEntryText;
using testing::ListLogFile;
using testing::ReadWholeFile;
using testing::ScratchFolder;

std::string Crlf(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "\r\n";
  return text;
}

// Entry i of a list as it is read back: three CR LF pairs end it; saved again, four.
std::string ReadBack(char list, int index, int size) {
  const std::string text = ListEntryText(list, index, size);
  return text.substr(0, text.size() - 2) + Crlf(3);
}
std::string Resaved(char list, int index, int size) { return ReadBack(list, index, size) + "\r\n"; }

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

TEST(LogEntries, StartAfterLineEndsAndEndAtFourLineEnds) {
  const std::string content = std::string("junk CrashLog not at a line start\r\n\r\n\r\n\r\n") +
                              "CrashLog 4.5.4\r\nfirst" + Crlf(5) + std::string("\0\xFF binary\r\n", 11) +
                              "CrashLog second" + Crlf(4) + "CrashLog without its end\r\n\r\n";
  const std::vector<std::string> entries = ParseLogEntries(content);
  EXPECT_EQ(entries, (std::vector<std::string>{"CrashLog 4.5.4\r\nfirst" + Crlf(3), "CrashLog second" + Crlf(3)}));
  EXPECT_EQ(ParseLogEntries("CrashLog x" + Crlf(4)), std::vector<std::string>{"CrashLog x" + Crlf(3)});
  // Every cut of a log reads without fault, as its whole entries.
  for (std::size_t cut = 0; cut <= content.size(); ++cut) EXPECT_LE(ParseLogEntries(content.substr(0, cut)).size(), 2u);

  // The keys of an entry; a missing key lets the search go on with the next entry.
  const std::vector<std::string> logged = {"CrashLog 1\r\n  2.3 Module: a.exe\r\n  2.4 Type: E\r\n",
                                           "CrashLog 2\r\n  2.2 Address : 00401000\r\n  2.3 Module  : a.exe\r\n"
                                           "  2.4 Type    : E\r\n  2.5 Message : Boom.\r\n"};
  const std::array<std::string_view, 4> keys = {"2.2", "2.3", "2.4", "2.5"};
  EXPECT_TRUE(FindLogEntry(logged, keys, std::vector<std::string>{"00401000", "a.exe", "E", "Boom."}));
  EXPECT_FALSE(FindLogEntry(logged, keys, std::vector<std::string>{"00401000", "a.exe", "e", "Boom."}));
  EXPECT_FALSE(FindLogEntry({}, keys, std::vector<std::string>{"", "", "", ""}));

  // Blank lines typed into the reproduce steps do not cut the entry.
  std::vector<std::string> added;
  AddLogEntry(added, "CrashLog x\r\nRequest:\r\nstep 1" + Crlf(6) + "step 2\r\n", 32);
  EXPECT_EQ(ParseLogEntries(LogText(added)),
            std::vector<std::string>{"CrashLog x\r\nRequest:\r\nstep 1" + Crlf(3) + "step 2" + Crlf(3)});
}

TEST(LogFile, TrimsTheOldestAndKeepsFourLineEndsOnceReadBack) {
  ScratchFolder folder;
  const std::string log = folder.File("app.elf");
  const int size = 10;
  for (const int before : {32, 40}) {
    WriteFileBytes(log, ListLogFile('A', before, size));
    TLogFile file(log);
    ASSERT_EQ(file.Entries().size(), static_cast<std::size_t>(before));
    file.AddEntry(ListEntryText('N', 0, size), 32);
    file.Save();
    // 32 + 1 drops one, 40 + 1 drops nine: the newest 31 and the new one stay.
    std::string expected;
    for (int i = before - 31; i < before; ++i) expected += Resaved('A', i, size);
    expected += ListEntryText('N', 0, size) + Crlf(5);
    EXPECT_EQ(ReadWholeFile(log), expected) << before << " entries before";
    EXPECT_FALSE(FileExists(LogSaveTempName(log)));
  }
  // Read back and saved again, the new entry ends in four CR LF too.
  TLogFile again(log);
  again.Save();
  std::string expected;
  for (int i = 9; i < 40; ++i) expected += Resaved('A', i, size);
  EXPECT_EQ(ReadWholeFile(log), expected + Resaved('N', 0, size));
}

TEST(LogFile, ALogBeyondSixteenMegabytesIsReadFromItsNewestPart) {
  ScratchFolder folder;
  const std::string log = folder.File("big.elf");
  WriteFileBytes(log, "CrashLog old" + Crlf(5) + std::string(kMaxLogReadBytes + 1000, 'x') + "\r\n" +
                          ListLogFile('C', 3, 10));
  SetTraceEnabled(true);
  TLogFile file(log);
  SetTraceEnabled(false);
  EXPECT_EQ(file.Entries(), (std::vector<std::string>{ReadBack('C', 0, 10), ReadBack('C', 1, 10), ReadBack('C', 2, 10)}));
  bool traced = false;
  for (const std::string& line : TraceLog().Lines()) traced = traced || line.find("TLogFile.ReadCut") != std::string::npos;
  EXPECT_TRUE(traced);
}

// ---- the report in the log -----------------------------------------------------------------

struct TLogSetup {
  ScratchFolder Folder;
  TCrashModuleOptions Options{"Z:\\app\\app.exe", false};
  explicit TLogSetup(const std::string& logName = "app.elf") { Options.SetOutputPath(Folder.File(logName)); }
  std::string Log() const { return Options.OutputLogFile(); }
};

TReportInputs Inputs(std::string message, std::uintptr_t address = 0x00401000) {
  TReportInputs in;
  in.General.Facts.ExceptionModule = "app.exe";
  in.General.Exception.Object = {true, "EInOutError", true, false, true, std::move(message)};
  in.General.Exception.Address = address;
  return in;
}

TEST(Duplicates, FoundByAddressModuleTypeAndMessage) {
  TLogSetup setup;
  setup.Options.SetReportOptions(kSkipDuplicates);
  TReportState state;
  state.BuildReport(setup.Options.Values(), Inputs("Boom"));
  EXPECT_FALSE(state.IsDuplicateError(setup.Options));  // no log yet
  state.SaveToLogFile(setup.Options, {});

  state.BuildReport(setup.Options.Values(), Inputs("Boom"));
  EXPECT_TRUE(state.IsDuplicateError(setup.Options));
  EXPECT_TRUE(state.Duplicate);
  state.SaveToLogFile(setup.Options, {});  // a duplicate is not logged again
  EXPECT_EQ(TLogFile(setup.Log()).Entries().size(), 1u);

  TReportInputs overridden = Inputs("Boom");
  overridden.General.Exception.TypeOverride = "EPeer";
  for (const TReportInputs& other : {Inputs("Boom!"), Inputs("Boom", 0x00401001), overridden}) {
    state.BuildReport(setup.Options.Values(), other);
    EXPECT_FALSE(state.IsDuplicateError(setup.Options));
  }
  state.BuildReport(setup.Options.Values(), Inputs("Boom"));
  setup.Options.SetReportOptions(0);
  EXPECT_FALSE(state.IsDuplicateError(setup.Options));  // only with SkipDuplicates

  // Without the Address item no entry carries the key "2.2": nothing is a duplicate.
  TLogSetup noAddress;
  noAddress.Options.SetReportOptions(kSkipDuplicates);
  noAddress.Options.SetReportFields(~(1u << 5));
  TReportState logged;
  logged.BuildReport(noAddress.Options.Values(), Inputs("Boom"));
  logged.SaveToLogFile(noAddress.Options, {});
  EXPECT_FALSE(logged.IsDuplicateError(noAddress.Options));
}

TEST(SaveToLogFile, EventsWarningsRetryAndTheReproduceStepsOnce) {
  TLogSetup setup("missing\\app.elf");  // its folder does not exist yet
  setup.Options.SetReportOptions(kAskReproduceSteps);
  setup.Options.SetSendWholeLog(true);
  TReportState state;
  state.BuildReport(setup.Options.Values(), Inputs("Boom"));
  const std::string withSteps = state.ReportText + "\r\nRequest:\r\n" + std::string(40, '-') + "\r\nClick start.";
  state.ReproduceText = "Click start.";
  std::vector<std::string> calls;
  bool allow = false;
  TReportEvents events;
  events.ActionHandler = [&](TCrashAction action, bool& execute) {
    if (action == TCrashAction::BeforeLog) execute = allow;
    calls.push_back("action " + std::to_string(static_cast<int>(action)) + " " + std::to_string(execute));
  };
  events.ActionFailedHandler = [&](TCrashAction action, bool& retry) {
    calls.push_back("failed " + std::to_string(static_cast<int>(action)) + " " + LastErrorMessage());
    retry = CreateDirectoryA(setup.Folder.File("missing").c_str(), nullptr) != FALSE;
  };

  // Vetoed: nothing written, and a veto is no failure.
  state.SaveToLogFile(setup.Options, events);
  EXPECT_EQ(calls, (std::vector<std::string>{"action 2 0", "action 3 0"}));
  EXPECT_FALSE(FileExists(setup.Log()));
  EXPECT_EQ(state.ReportText, withSteps);

  // Allowed: the first attempt fails (no folder), the failure handler makes the folder and asks
  // for another attempt, which saves. The steps are in the report once.
  calls.clear();
  allow = true;
  state.SaveToLogFile(setup.Options, events);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], "action 2 1");
  EXPECT_EQ(calls[1].rfind("failed 3 [Log] Cannot write the error log", 0), 0u) << calls[1];
  EXPECT_EQ(calls[2], "action 3 1");
  EXPECT_EQ(LastErrorCode(), eeNone);
  EXPECT_EQ(ReadWholeFile(setup.Log()), withSteps + Crlf(5));
  EXPECT_EQ(state.SendText, ReadWholeFile(setup.Log()));  // SendWholeLog: the whole log is mailed
}

// ---- other processes -----------------------------------------------------------------------

std::string Child(const std::string& arguments) {
  return "\"" + testing::SiblingProgram("crashlog_log_writer.exe") + "\" " + arguments;
}

TEST(LogFileSave, TheLastWriterWinsWhole) {
  ScratchFolder folder;
  const std::string log = folder.File("app.elf");
  WriteFileBytes(log, ListLogFile('A', 2, 10));
  TLogFile ours(log);
  ASSERT_EQ(testing::RunProgram(Child("add \"" + log + "\" \"CrashLog child\"")), 0u);
  ASSERT_EQ(TLogFile(log).Entries().size(), 3u);
  ours.AddEntry(ListEntryText('N', 0, 10), 32);
  ours.Save();
  const std::string expected = Resaved('A', 0, 10) + Resaved('A', 1, 10) + ListEntryText('N', 0, 10) + Crlf(5);
  EXPECT_EQ(ReadWholeFile(log), expected);

  ASSERT_EQ(testing::RunProgram(Child("add \"" + log + "\" \"CrashLog later\"")), 0u);
  EXPECT_EQ(ReadWholeFile(log), Resaved('A', 0, 10) + Resaved('A', 1, 10) + Resaved('N', 0, 10) +
                                    "CrashLog later" + Crlf(6));
}

TEST(LogFileSave, WrittenInPlaceWhenTheLogCannotBeReplaced) {
  ScratchFolder folder;
  const std::string log = folder.File("app.elf");
  WriteFileBytes(log, ListLogFile('A', 2, 10));
  // Another program reads the log and allows no deletion: the log cannot be replaced.
  ScopedFileHandle held(CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  TLogFile file(log);
  file.AddEntry(ListEntryText('N', 0, 10), 32);
  file.Save();
  held.reset();
  EXPECT_EQ(ReadWholeFile(log), Resaved('A', 0, 10) + Resaved('A', 1, 10) + ListEntryText('N', 0, 10) + Crlf(5));
  EXPECT_FALSE(FileExists(LogSaveTempName(log)));
}

TEST(LogFileSave, KilledMidSaveLeavesTheOldOrTheNewListWhole) {
  ScratchFolder folder;
  const std::string log = folder.File("app.elf");
  const int count = 16;
  const int size = 256 * 1024;  // about 4 MB a list
  const std::string listA = ListLogFile('A', count, size);
  const std::string listB = ListLogFile('B', count, size);
  WriteFileBytes(log, listA);

  int interrupted = 0;
  for (int round = 0; round < 3; ++round) {
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION info{};
    std::string line = Child("loop \"" + log + "\" " + std::to_string(count) + " " + std::to_string(size));
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    ScopedKernelHandle process(info.hProcess);
    ScopedKernelHandle thread(info.hThread);
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08lX.tmp", info.dwProcessId);
    const std::string temp = log + suffix;
    // Kill it once its save has begun to write.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    for (int wait = 0; wait < 60000; ++wait) {
      if (GetFileAttributesExA(temp.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 0) break;
      Sleep(1);
    }
    TerminateProcess(process.get(), 9);
    WaitForSingleObject(process.get(), INFINITE);
    if (FileExists(temp)) ++interrupted;
    const std::string now = ReadWholeFile(log);
    EXPECT_TRUE(now == listA || now == listB) << "round " << round << ": " << now.size() << " bytes";
    DeleteFileA(temp.c_str());
  }
  EXPECT_GT(interrupted, 0);  // at least one kill caught a save half-way
}

}  // namespace
}  // namespace pelloran::crashlog
