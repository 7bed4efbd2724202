// Freeze detection on this program's own main thread: it stops answering its window inside a
// known procedure, and the watcher reports it from the registers and the stack copy it took; the
// report runs (with the error dialog, the report's window facts and the clipboard) while the main
// thread still answers nothing, and the main thread goes on afterwards. The program carries its
// ELDATA, so the call stack names its procedures.
#include "crashlog/capture/freeze.h"

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "crashlog/capture/clipboard.h"
#include "crashlog/capture/report_gather.h"
#include "crashlog/capture/report_state.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "crashlog/machine/machine.h"
#include "crashlog/infra/debuginfo/stack.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/options.h"
#include "runtime/scoped_handle.h"

using Clock = std::chrono::steady_clock;

// Stops answering: runs without looking at its messages, and without calling anything (the
// report must find it here and nowhere else), until released.
// The flag is read through the compiler's builtin rather than std::atomic's inline functions: a
// freeze stops the spinning thread at any instruction of its loop, and each must belong to the
// spinning procedure's own line, not to an inlined library function (the report names the
// innermost inlined function, atomic_base.h, when the thread stops on the load).
bool g_release = false;
void SetRelease(bool value) { __atomic_store_n(&g_release, value, __ATOMIC_RELAXED); }
[[gnu::noinline]] void SpinInFrozenProcedure() {
  while (!__atomic_load_n(&g_release, __ATOMIC_RELAXED)) asm volatile("");
}

// Spins until released or `duration` has passed (a timer thread releases it).
void SpinFor(std::chrono::milliseconds duration) {
  std::atomic<bool> spun{false};
  std::thread timer([&] {
    const auto until = Clock::now() + duration;
    while (!spun.load() && Clock::now() < until) ::Sleep(10);
    SetRelease(true);
  });
  SpinInFrozenProcedure();
  spun.store(true);
  timer.join();
}

namespace pelloran::crashlog {
namespace {

using namespace std::chrono_literals;

struct TSeenReport {
  std::string ClassName;
  std::string Message;
  std::string FirstProcedure;  // the first located entry of the frozen thread's stack
  std::uintptr_t StackOrigin = 0;
  Clock::time_point Started, Finished;
};

// The pipeline's part, played by the test: one claim at a time, and a report that records what it
// was given and scans the stopped thread's stack.
class TFreezeHarness {
 public:
  TFreezeHarness() {
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &mainThread_, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    std::uintptr_t stackBase;
    asm volatile("movl %%fs:4, %0" : "=r"(stackBase));  // NT_TIB.StackBase
    TFreezeWatcherSetup setup;
    setup.MainThread = mainThread_;
    setup.MainStackBase = stackBase;
    setup.ClaimBusy = [this] {
      for (bool expected = false; !busy_.compare_exchange_weak(expected, true); expected = false) ::Sleep(10);
      return true;
    };
    setup.ReleaseBusy = [this] { busy_.store(false); };
    setup.Notify = [this](const EFrozenApplication& error, const TFrozenThreadSnapshot& snapshot) {
      const CONTEXT& context = snapshot.Context;
      TSeenReport seen;
      seen.Started = Clock::now();
      seen.ClassName = std::string(error.ClassName());
      seen.Message = error.Message();
      seen.StackOrigin = snapshot.StackOrigin;
      stack_ = StackScan(*CrashModules(), context.Eip, snapshot.StackStart, snapshot.StackEnd - 4);
      for (const TCrashDebugInfo& entry : stack_)
        if (entry.LocationKind == kLocationDebugInfo) {
          seen.FirstProcedure = entry.ProcedureName;
          break;
        }
      if (Extra) Extra(error, context);
      seen.Finished = Clock::now();
      std::lock_guard guard(lock_);
      reports_.push_back(seen);
      if (static_cast<int>(reports_.size()) >= ReleaseAfter) SetRelease(true);
    };
    InstallFreezeWatcher(std::move(setup));
  }
  ~TFreezeHarness() {
    UninstallFreezeWatcher();
    ::CloseHandle(mainThread_);
  }

  std::vector<TSeenReport> Reports() const {
    std::lock_guard guard(lock_);
    return reports_;
  }
  const TCrashStackList& Stack() const { return stack_; }

  int ReleaseAfter = 1 << 30;
  std::function<void(const EFrozenApplication&, const CONTEXT&)> Extra;

 private:
  HANDLE mainThread_ = nullptr;
  std::atomic<bool> busy_{false};
  mutable std::mutex lock_;
  std::vector<TSeenReport> reports_;
  TCrashStackList stack_;
};

// The program's main window: a plain visible window of the main thread that counts the empty
// messages it answered.
std::atomic<int> g_answered{0};
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NULL) ++g_answered;
  return ::DefWindowProcA(window, message, wParam, lParam);
}
class TMainWindow {
 public:
  TMainWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "FreezeTestMain";
    ::RegisterClassA(&windowClass);
    window_ = ::CreateWindowExA(0, "FreezeTestMain", "Frozen main window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20,
                                400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
    ::SetForegroundWindow(window_);
    Pump(200ms);
  }
  ~TMainWindow() {
    ::DestroyWindow(window_);
    Pump(50ms);
  }
  HWND Handle() const { return window_; }

  static void Pump(std::chrono::milliseconds duration) {
    const auto until = Clock::now() + duration;
    do {
      MSG message;
      while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
      ::Sleep(5);
    } while (Clock::now() < until);
  }
  // Pumps until the watcher's next empty message was answered (the watcher found the window).
  static bool PumpUntilAnswered() {
    const int before = g_answered.load();
    const auto until = Clock::now() + 30s;
    while (g_answered.load() == before && Clock::now() < until) Pump(10ms);
    return g_answered.load() != before;
  }

 private:
  HWND window_ = nullptr;
};

bool ThreadExists(DWORD threadId) {
  ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId() && entry.th32ThreadID == threadId) return true;
  return false;
}
int ThreadCount() {
  ScopedFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
    count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
  return count;
}
bool WaitThreadGone(DWORD threadId) {
  for (int i = 0; i < 500 && ThreadExists(threadId); ++i) ::Sleep(20);
  return !ThreadExists(threadId);
}

bool EndsWith(const std::string& text, std::string_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class Freeze : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CreateCrashModules(); }
  static void TearDownTestSuite() { DestroyCrashModules(); }
  void SetUp() override {
    SetRelease(false);
    options_ = &CurrentCrashLogOptions();
    options_->SetActive(true);
    options_->SetFreezeDetection(true);
    options_->SetFreezeTimeout(2);
  }
  void TearDown() override { StopFreezeWatcher(); }
  TCrashModuleOptionsEx* options_ = nullptr;
};

// ---- the tests --------------------------------------------------------------------------------

TEST_F(Freeze, OneReportPerTimeoutWithTheFrozenProcedureOnTop) {
  TFreezeHarness harness;
  harness.ReleaseAfter = 2;
  TMainWindow window;
  StartFreezeWatcher();
  ASSERT_TRUE(FreezeWatcherRunning());
  ASSERT_TRUE(TMainWindow::PumpUntilAnswered());

  const auto frozen = Clock::now();
  SpinFor(60s);
  const std::vector<TSeenReport> reports = harness.Reports();
  ASSERT_EQ(reports.size(), 2u);
  for (const TSeenReport& report : reports) {
    EXPECT_EQ(report.ClassName, "EFrozenApplication");
    EXPECT_EQ(report.Message, "The application seems to be frozen.");
    EXPECT_TRUE(EndsWith(report.FirstProcedure, "SpinInFrozenProcedure")) << report.FirstProcedure;
  }
  // Each report needs 40 unanswered probes of at least 50 ms each, counted from 0 again after the
  // previous report: never two reports within one timeout.
  EXPECT_GE(reports[0].Started - frozen, 2000ms);
  EXPECT_GE(reports[1].Started - reports[0].Finished, 2000ms);

  // Answering again: no more reports.
  TMainWindow::Pump(2500ms);
  EXPECT_EQ(harness.Reports().size(), 2u);
  const DWORD watcher = FreezeWatcherThreadId();
  StopFreezeWatcher();
  EXPECT_FALSE(FreezeWatcherRunning());
  EXPECT_TRUE(WaitThreadGone(watcher));
}

TEST_F(Freeze, AnAnswerJustBeforeTheTimeoutStartsTheCountAgain) {
  TFreezeHarness harness;
  TMainWindow window;
  StartFreezeWatcher();
  ASSERT_TRUE(TMainWindow::PumpUntilAnswered());
  // Frozen for 1.5 of the 2 seconds, then one answer, four times: 6 seconds without answering
  // in all, yet never 2 in a row.
  for (int round = 0; round < 4; ++round) {
    SetRelease(false);
    SpinFor(1500ms);
    ASSERT_TRUE(TMainWindow::PumpUntilAnswered());
  }
  EXPECT_EQ(harness.Reports().size(), 0u);
}

TEST_F(Freeze, TimeoutBelowOneCountsAsOne) {
  SetTraceEnabled(true);
  options_->SetFreezeTimeout(0);
  TFreezeHarness harness;
  harness.ReleaseAfter = 1;
  TMainWindow window;
  StartFreezeWatcher();
  // A window that answers is never frozen, whatever the timeout.
  TMainWindow::Pump(1500ms);
  EXPECT_EQ(harness.Reports().size(), 0u);
  const auto frozen = Clock::now();
  SpinFor(60s);
  ASSERT_EQ(harness.Reports().size(), 1u);
  EXPECT_GE(harness.Reports()[0].Started - frozen, 1000ms);
  bool traced = false;
  for (const std::string& line : TraceLog().Lines())
    traced |= line.find("TFreezeThread.FreezeTimeout below 1 taken as 1(0)") != std::string::npos;
  EXPECT_TRUE(traced);
  SetTraceEnabled(false);
}

TEST_F(Freeze, TheOptionSwitchesStartAndStopTheWatcher) {
  TFreezeHarness harness;
  // Detection off: starting makes no thread at all.
  options_->SetFreezeDetection(false);
  const int threads = ThreadCount();
  StartFreezeWatcher();
  EXPECT_FALSE(FreezeWatcherRunning());
  EXPECT_EQ(ThreadCount(), threads);
  // Switched on through the running module's options: a watcher thread runs.
  options_->SetFreezeDetection(true);
  ASSERT_TRUE(FreezeWatcherRunning());
  const DWORD first = FreezeWatcherThreadId();
  EXPECT_TRUE(ThreadExists(first));
  // Active off stops it, Active on starts a new one.
  options_->SetActive(false);
  EXPECT_FALSE(FreezeWatcherRunning());
  EXPECT_TRUE(WaitThreadGone(first));
  options_->SetActive(true);
  ASSERT_TRUE(FreezeWatcherRunning());
  EXPECT_TRUE(ThreadExists(FreezeWatcherThreadId()));
}

TEST_F(Freeze, AProgramWithoutAWindowNeverReports) {
  options_->SetFreezeTimeout(1);
  TFreezeHarness harness;
  StartFreezeWatcher();
  ASSERT_TRUE(FreezeWatcherRunning());
  ASSERT_EQ(FindMainWindow(::GetCurrentProcessId()), nullptr);
  SpinFor(2500ms);
  EXPECT_EQ(harness.Reports().size(), 0u);
}

// ---- a whole report while the main thread is stopped ----------------------------------------------

// Finds the error dialog shown by another thread of this process. Only a dialog's caption is
// read: asking the stopped main thread's window for its text would wait for that thread.
BOOL CALLBACK VisitForErrorDialog(HWND window, LPARAM parameter) {
  DWORD process = 0;
  const DWORD thread = ::GetWindowThreadProcessId(window, &process);
  char name[16] = {};
  ::GetClassNameA(window, name, sizeof name);
  if (process != ::GetCurrentProcessId() || thread == ::GetCurrentThreadId() || !::IsWindowVisible(window) ||
      std::string(name) != "#32770")
    return TRUE;
  char caption[32] = {};
  ::GetWindowTextA(window, caption, sizeof caption);
  if (std::string(caption) != "Error.") return TRUE;
  *reinterpret_cast<HWND*>(parameter) = window;
  return FALSE;
}
HWND FindErrorDialog() {
  HWND found = nullptr;
  ::EnumWindows(VisitForErrorDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

void ClickControl(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  RECT r{};
  ::GetClientRect(control, &r);
  const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
  ::SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageA(control, WM_LBUTTONUP, 0, at);
}

std::string ClipboardText() {
  std::string text;
  if (!::OpenClipboard(nullptr)) return text;
  if (HANDLE data = ::GetClipboardData(CF_TEXT)) {
    if (const char* bytes = static_cast<const char*>(::GlobalLock(data))) text = bytes;
    ::GlobalUnlock(data);
  }
  ::CloseClipboard();
  return text;
}

void PutOnClipboard(HWND owner, const char* text) {
  ASSERT_TRUE(::OpenClipboard(owner));
  ::EmptyClipboard();
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, std::strlen(text) + 1);
  std::memcpy(::GlobalLock(block), text, std::strlen(text) + 1);
  ::GlobalUnlock(block);
  ::SetClipboardData(CF_TEXT, block);
  ::CloseClipboard();
}

TEST_F(Freeze, AReportWithTheDialogEndsAndTheMainThreadGoesOn) {
  TFreezeHarness harness;
  harness.ReleaseAfter = 1;
  TMainWindow window;
  struct TSeen {
    std::string FormClass, FormText;
    bool Copied = false;
    std::vector<std::string> FirstRow;
    bool Painted = false;
  };
  std::vector<TSeen> seen;
  harness.Extra = [&](const EFrozenApplication& error, const CONTEXT& context) {
    TSeen s;
    // The report's window facts and text, as the pipeline gathers them.
    TReportCapture capture;
    capture.Exception.Object = DescribeException(&error);
    capture.Exception.Address = context.Eip;
    capture.StackStart = context.Esp;
    capture.Context = &context;
    TCrashOptionValues options = CurrentCrashLogOptions().Values();
    options.CustomDialogLook = true;
    TReportState report;
    report.BuildReport(options, GatherReportInputs(capture, options, harness.Stack(), *CrashModules()));
    // The Active Controls facts (this console program's report leaves them out, a program with
    // windows has them): the frozen window is the foreground one.
    s.FormClass = ForegroundFormClass();
    s.FormText = ForegroundFormText();
    // The dialog, driven by a "user" on a thread of its own.
    TErrorDialogData data;
    data.Options = options;
    data.ShortMessage = error.Message();
    data.GeneralText = report.GeneralText;
    data.CpuText = report.CpuText;
    data.CallStack = harness.Stack();
    data.Modules = ModuleRows(*CrashModules());
    std::thread user([&] {
      HWND dialog = nullptr;
      for (int i = 0; i < 1500 && !(dialog = FindErrorDialog()); ++i) ::Sleep(20);
      if (!dialog) return;
      ClickControl(dialog, kIdDetails);
      HWND tabs = ::GetDlgItem(dialog, kIdTabs);
      RECT r{};
      ::SendMessageA(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
      ::SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
      ::SendMessageA(tabs, WM_LBUTTONUP, 0, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
      for (HWND page = ::GetWindow(tabs, GW_CHILD); page; page = ::GetWindow(page, GW_HWNDNEXT)) {
        HWND list = ::GetDlgItem(page, kIdPageContent);
        for (int column = 0; list && column < 6; ++column) {
          char text[256] = {};
          LVITEMA cell{};
          cell.iSubItem = column;
          cell.pszText = text;
          cell.cchTextMax = sizeof text;
          ::SendMessageA(list, LVM_GETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&cell));
          s.FirstRow.push_back(text);
        }
      }
      ClickControl(dialog, kIdCopy);
      ::PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 1);
    });
    s.Painted = RunErrorDialog(data);
    user.join();
    if (data.CopyRequested) s.Copied = CopyReportToClipboard(report.ReportText, FindMainWindow(::GetCurrentProcessId()));
    seen.push_back(s);
  };
  // A report that does not end leaves the main thread stopped: the watchdog lets it go on, so
  // that the test fails instead of hanging.
  std::atomic<bool> finished{false};
  const HANDLE self = [] {
    HANDLE h = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &h, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    return h;
  }();
  std::atomic<bool> watchdogFired{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 1800 && !finished.load(); ++i) ::Sleep(100);
    if (!finished.load()) {
      watchdogFired.store(true);
      SetRelease(true);
      while (::ResumeThread(self) > 1) {
      }
    }
  });

  // First freeze: the main window owns the clipboard, which then cannot be emptied.
  PutOnClipboard(window.Handle(), "before the freeze");
  StartFreezeWatcher();
  ASSERT_TRUE(TMainWindow::PumpUntilAnswered());
  SpinFor(60s);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(ClipboardText(), "before the freeze");  // left alone
  // The user clicks the window again (the dialog had taken the foreground).
  TMainWindow::Pump(300ms);
  ::SetForegroundWindow(window.Handle());
  // Second freeze: nobody owns the clipboard; the report is copied with a window of the watcher.
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  ::CloseClipboard();
  SetRelease(false);
  harness.ReleaseAfter = 2;
  ASSERT_TRUE(TMainWindow::PumpUntilAnswered());
  SpinFor(60s);
  finished.store(true);
  watchdog.join();
  ::CloseHandle(self);
  ASSERT_FALSE(watchdogFired.load()) << "a freeze report waited on the stopped main thread";

  ASSERT_EQ(seen.size(), 2u);
  for (const TSeen& s : seen) {
    SCOPED_TRACE("report " + std::to_string(&s - seen.data()));
    EXPECT_TRUE(s.Painted);
    EXPECT_EQ(s.FormClass, "FreezeTestMain");
    EXPECT_EQ(s.FormText, "Frozen main window");
    ASSERT_EQ(s.FirstRow.size(), 6u);
    EXPECT_TRUE(EndsWith(s.FirstRow[4], "SpinInFrozenProcedure")) << s.FirstRow[4];
    EXPECT_EQ(s.FirstRow[2], "freeze_test.cpp");
  }
  EXPECT_FALSE(seen[0].Copied);
  EXPECT_TRUE(seen[1].Copied);
  const std::string copied = ClipboardText();
  EXPECT_EQ(copied.rfind("CrashLog 4.5.4\r\n", 0), 0u);
  EXPECT_NE(copied.find("EFrozenApplication"), std::string::npos);
  // The main thread answers again.
  EXPECT_TRUE(TMainWindow::PumpUntilAnswered());
}

}  // namespace
}  // namespace pelloran::crashlog
