// Reports that cannot be written to the log wait in a pending file and reach the log once, in
// their order: a log held without sharing, a folder where the pending file cannot be made (it
// goes to the temporary folder then), the duplicate test, the move at start-up, and a pending
// file that could not be deleted. Mounts that make a folder read-only or full are tested end to
// end by pending_log_test.py.
#include "crashlog/capture/log_file.h"
#include "crashlog/capture/log_file_pending.h"
#include "crashlog/capture/report_state.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/options/options.h"
#include "runtime/scoped_handle.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

namespace pelloran::crashlog {
namespace {

using testing::FileExists;
using testing::ReadWholeFile;
using testing::ScratchFolder;

TEST(LogEntriesMerged, OnceEachInOrderAndTrimmed) {
  std::vector<std::string> log = {"CrashLog a\r\n\r\n\r\n", "CrashLog b\r\n\r\n\r\n"};
  // "b" added with four line ends is the same report as "b" read back with three.
  MergeLogEntries(log, std::vector<std::string>{"CrashLog b\r\n\r\n\r\n\r\n", "CrashLog c\r\n\r\n\r\n",
                                                "CrashLog c\r\n\r\n\r\n", "CrashLog d\r\n\r\n\r\n"},
                  3);
  EXPECT_EQ(log, (std::vector<std::string>{"CrashLog b\r\n\r\n\r\n", "CrashLog c\r\n\r\n\r\n", "CrashLog d\r\n\r\n\r\n"}));
  MergeLogEntries(log, std::vector<std::string>{"CrashLog e\r\n\r\n\r\n"}, 0);
  EXPECT_EQ(log, std::vector<std::string>{"CrashLog e\r\n\r\n\r\n"});
}

// A log whose name no other test uses: its pending file in the temporary folder is its own.
struct TPendingSetup {
  ScratchFolder Folder;
  TCrashModuleOptions Options{"Z:\\app\\app.exe", false};
  TPendingSetup() {
    static std::atomic<int> next{0};
    Options.SetOutputPath(Folder.File("pending-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                      std::to_string(next++) + ".elf"));
    for (const std::string& place : Places()) ::DeleteFileA(place.c_str());
  }
  ~TPendingSetup() {
    const std::vector<std::string> places = Places();
    ::RemoveDirectoryA(places.front().c_str());
    for (const std::string& place : places) ::DeleteFileA(place.c_str());
  }
  std::string Log() const { return Options.OutputLogFile(); }
  std::vector<std::string> Places() const { return PendingLogPlaces(Log()); }
  std::string Beside() const { return Places().at(0); }
  std::string InTemp() const { return Places().at(1); }
};

// The "2.5 Message" values of the reports in a log-format file, in order.
std::vector<std::string> Messages(const std::string& file) {
  std::vector<std::string> messages;
  if (!FileExists(file)) return messages;
  const TLogFile log(file);
  for (const std::string& entry : log.Entries()) {
    std::string value;
    messages.push_back(LogEntryValue(entry, "2.5", value) ? value : "?");
  }
  return messages;
}
using TMessages = std::vector<std::string>;

TReportInputs Inputs(const std::string& message) {
  TReportInputs in;
  in.General.Facts.ExceptionModule = "app.exe";
  in.General.Exception.Object = {true, "EInOutError", true, false, true, message};
  in.General.Exception.Address = 0x00401000;
  return in;
}

// Builds the report of `message` and logs it as the pipeline does.
void LogReport(TPendingSetup& setup, const std::string& message, const TReportEvents& events = {}) {
  TReportState state;
  state.BuildReport(setup.Options.Values(), Inputs(message));
  state.IsDuplicateError(setup.Options);
  state.SaveToLogFile(setup.Options, events);
}

// Holds a file open the way another program may: no sharing at all.
ScopedFileHandle HoldWithoutSharing(const std::string& file) {
  return ScopedFileHandle(::CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
}

TEST(PendingReports, AHeldLogKeepsTheReportBesideItUntilTheNextSave) {
  TPendingSetup setup;
  LogReport(setup, "one");
  ScopedFileHandle held = HoldWithoutSharing(setup.Log());
  ASSERT_TRUE(held);
  std::vector<std::string> failures;
  TReportEvents events;
  events.ActionFailedHandler = [&](TCrashAction action, bool& retry) {
    failures.push_back(std::to_string(static_cast<int>(action)) + " " + LastErrorMessage());
    retry = false;
  };
  LogReport(setup, "two", events);
  LogReport(setup, "three", events);
  // The warning and the failure handler as before; the reports wait beside the log.
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].rfind("3 [Log] Cannot open the error log", 0), 0u) << failures[0];
  EXPECT_EQ(LastErrorCode(), eeLogError);
  EXPECT_EQ(Messages(setup.Beside()), (TMessages{"two.", "three."}));
  EXPECT_FALSE(FileExists(setup.InTemp()));
  held.reset();
  EXPECT_EQ(Messages(setup.Log()), (TMessages{"one."}));

  // The next save that succeeds puts them in before its own, and the pending file goes.
  LogReport(setup, "four");
  EXPECT_EQ(Messages(setup.Log()), (TMessages{"one.", "two.", "three.", "four."}));
  EXPECT_FALSE(FileExists(setup.Beside()));
  LogReport(setup, "five");
  EXPECT_EQ(Messages(setup.Log()), (TMessages{"one.", "two.", "three.", "four.", "five."}));
}

TEST(PendingReports, WithoutRoomBesideTheLogTheyWaitInTheTemporaryFolderAndKeepTheirOrder) {
  TPendingSetup setup;
  ScopedFileHandle held = HoldWithoutSharing(setup.Log());
  ASSERT_TRUE(held);
  LogReport(setup, "one");  // beside the log
  // Nothing can be written beside the log now (a folder stands where the file would go... after
  // its first report was moved out of the way).
  ASSERT_TRUE(::MoveFileA(setup.Beside().c_str(), (setup.Beside() + ".kept").c_str()));
  ASSERT_TRUE(::CreateDirectoryA(setup.Beside().c_str(), nullptr));
  LogReport(setup, "two");
  LogReport(setup, "three");
  EXPECT_EQ(Messages(setup.InTemp()), (TMessages{"two.", "three."}));
  ASSERT_TRUE(::RemoveDirectoryA(setup.Beside().c_str()));
  ASSERT_TRUE(::MoveFileA((setup.Beside() + ".kept").c_str(), setup.Beside().c_str()));
  // The duplicate test sees the reports that wait.
  setup.Options.SetReportOptions(kSkipDuplicates);
  TReportState duplicate;
  duplicate.BuildReport(setup.Options.Values(), Inputs("three"));
  EXPECT_TRUE(duplicate.IsDuplicateError(setup.Options));
  setup.Options.SetReportOptions(0);

  // Room beside the log again, the log still held: what waited in the temporary folder moves
  // beside the log, after what was there and before the new one.
  LogReport(setup, "four");
  EXPECT_EQ(Messages(setup.Beside()), (TMessages{"one.", "two.", "three.", "four."}));
  EXPECT_FALSE(FileExists(setup.InTemp()));
  held.reset();
  ::DeleteFileA(setup.Log().c_str());  // the holder's empty file

  // At the next start they all reach the log, once.
  MovePendingReportsToLog(setup.Log(), 32);
  EXPECT_EQ(Messages(setup.Log()), (TMessages{"one.", "two.", "three.", "four."}));
  EXPECT_FALSE(FileExists(setup.Beside()));
  MovePendingReportsToLog(setup.Log(), 32);
  EXPECT_EQ(Messages(setup.Log()).size(), 4u);
}

TEST(PendingReports, APendingFileLeftBehindAddsNothingTwiceAndAVetoKeepsNothing) {
  TPendingSetup setup;
  ScopedFileHandle held = HoldWithoutSharing(setup.Log());
  LogReport(setup, "one");
  held.reset();
  const std::string waiting = ReadWholeFile(setup.Beside());
  LogReport(setup, "two");
  // The pending file comes back (as when it could not be deleted): its report is in the log already.
  {
    ScopedFileHandle again(::CreateFileA(setup.Beside().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(again.get(), waiting.data(), static_cast<DWORD>(waiting.size()), &written, nullptr));
  }
  LogReport(setup, "three");
  MovePendingReportsToLog(setup.Log(), 32);
  EXPECT_EQ(Messages(setup.Log()), (TMessages{"one.", "two.", "three."}));

  // A report whose logging the application vetoed is not kept either.
  held = HoldWithoutSharing(setup.Log());
  TReportEvents veto;
  veto.ActionHandler = [](TCrashAction action, bool& execute) {
    if (action == TCrashAction::BeforeLog) execute = false;
  };
  LogReport(setup, "vetoed", veto);
  EXPECT_FALSE(FileExists(setup.Beside()));
  EXPECT_FALSE(FileExists(setup.InTemp()));
}

TEST(PendingReports, TheirLimitIsTheLogsAndTheLogKeepsItsLimit) {
  TPendingSetup setup;
  setup.Options.SetMaxLoggedErrors(3);
  for (const char* message : {"one", "two"}) LogReport(setup, message);
  ScopedFileHandle held = HoldWithoutSharing(setup.Log());
  for (const char* message : {"three", "four", "five", "six"}) LogReport(setup, message);
  EXPECT_EQ(Messages(setup.Beside()), (TMessages{"four.", "five.", "six."}));
  held.reset();
  LogReport(setup, "seven");
  EXPECT_EQ(Messages(setup.Log()), (TMessages{"five.", "six.", "seven."}));
}

}  // namespace
}  // namespace pelloran::crashlog
