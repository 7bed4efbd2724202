// The error dialog and the reproduce-steps dialog driven through their real windows: found on the
// thread that shows them, read control by control, clicked, typed into and closed as a user would.
#include "crashlog/delivery/error_dialog_window.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "crashlog/infra/diagnostics/error_code.h"
#include "runtime/scoped_handle.h"
#include "tests/crashlog/delivery/dialog_driver.h"
#include "tests/support/window_test_support.h"

namespace pelloran::crashlog {
namespace {

using pelloran::testing::ClickAt;
using pelloran::testing::TDialogThread;
using pelloran::testing::WindowText;

// ---- what the dialog is given -----------------------------------------------------------------

struct TModules {
  TCrashModuleInfo Program, Package, Library;
  TModules() {
    Program.ModuleKind = kModuleProgram;
    Program.FileName = "Z:\\build\\pelloran.exe";
    Package.ModuleKind = kModulePackage;
    Package.FileName = "C:\\pkgs\\vcl70.bpl";
    Library.ModuleKind = kModuleLibrary;
    Library.FileName = "C:\\windows\\system32\\kernel32.dll";
  }
};
TModules& Modules() {
  static TModules modules;
  return modules;
}

TCrashDebugInfo Entry(std::uint8_t kind, TCrashModuleInfo* module, std::uint32_t address, const char* unit,
                      const char* className, const char* procedure, int line) {
  TCrashDebugInfo e;
  e.LocationKind = kind;
  e.Module = module;
  e.Address = address;
  e.UnitName = unit;
  e.ClassName = className;
  e.ProcedureName = procedure;
  e.Line = line;
  return e;
}

const std::vector<TCrashDebugInfo>& CallStack() {
  TModules& m = Modules();
  static const std::vector<TCrashDebugInfo> stack = {
      Entry(kLocationDebugInfo, &m.Program, 0x00401A2B, "main_form.cpp", "TForm1", "Timer1Timer", 120),
      Entry(kLocationUnknown, nullptr, 0x12345678, "", "", "", 0),
      Entry(kLocationExportUnit, &m.Program, 0x00402000, "Exported", "", "FromExports", 0),
      Entry(kLocationExportUnit, &m.Package, 0x20001000, "Forms", "TApplication", "HandleException", 0),
      Entry(kLocationExport, &m.Library, 0x7B812345, "", "", "RaiseException", 0),
      Entry(kLocationModule, &m.Library, 0x7B800010, "", "", "", 0),
      Entry(kLocationDebugInfo, &m.Program, 0x00401000, "main.cpp", "", "WinMain", 0),
  };
  return stack;
}

// The rows the call stack page must show, by its rules: kinds 2 to 4 except a program's exports.
struct TRow {
  int Icon;
  std::array<std::string, 6> Cells;
};
const std::vector<TRow> kStackRows = {
    {3, {"00401A2B", "pelloran.exe", "main_form.cpp", "TForm1", "Timer1Timer", "120"}},
    {1, {"20001000", "vcl70.bpl", "Forms", "TApplication", "HandleException", ""}},
    {0, {"7B812345", "kernel32.dll", "", "", "RaiseException", ""}},
    {3, {"00401000", "pelloran.exe", "main.cpp", "", "WinMain", ""}},
};
const std::vector<TRow> kModuleRows = {
    {2, {"00400000", "pelloran.exe", "Pelloran RM广告清除器", "2.10.x", "1536 Kb", "Z:\\build"}},
    {0, {"7B800000", "kernel32.dll", "Wine core dll", "6.0.x", "2 Kb", "C:\\windows\\system32"}},
    {1, {"20000000", "vcl70.bpl", "", "10.2", "1 Kb", "C:\\"}},
};

TErrorDialogData MakeData() {
  TErrorDialogData data;
  data.Options.CustomDialogLook = false;
  data.ShortMessage = "Access violation at address 00401A2B in module 'pelloran.exe'.";
  data.GeneralText = "CrashLog 4.5.4\r\n\r\nApplication:\r\n-----------\r\n  1.1 Start Date: today\r\n";
  data.CpuText = "Registers:\r\n-----------------------------\r\nEAX: 00000000   EDI: 00000001\r\n";
  data.CallStack = CallStack();
  data.Modules = {{0x00400000, "pelloran.exe", "Pelloran RM广告清除器", "2.10.0.0", 1536 * 1024 + 512, "Z:\\build"},
                  {0x7B800000, "kernel32.dll", "Wine core dll", "6.0.2900.2180", 2560, "C:\\windows\\system32"},
                  {0x20000000, "vcl70.bpl", "", "10.2", 1023, "C:\\"}};
  data.ErrorCount = 1;
  return data;
}

// ---- reading and driving the window -----------------------------------------------------------

std::string IniPath() {
  char folder[MAX_PATH] = {};
  ::GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\CrashLog.ini";
}
std::string IniValue(const char* key) {
  char value[64] = {};
  ::GetPrivateProfileStringA("Coordinates", key, "(none)", value, sizeof value, IniPath().c_str());
  return value;
}
void SetIniValue(const char* key, const char* value) {
  ::WritePrivateProfileStringA("Coordinates", key, value, IniPath().c_str());
}

RECT ClientRectOf(HWND dialog, int id) {
  RECT r{};
  HWND control = ::GetDlgItem(dialog, id);
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}
bool Visible(HWND dialog, int id) { return ::IsWindowVisible(::GetDlgItem(dialog, id)) != FALSE; }
std::string ItemText(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }
SIZE WindowSize(HWND window) {
  RECT r{};
  ::GetWindowRect(window, &r);
  return {r.right - r.left, r.bottom - r.top};
}

// Clicks in the middle of a control, as the mouse would.
void Click(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  RECT r{};
  ::GetClientRect(control, &r);
  ClickAt(control, {r.right / 2, r.bottom / 2});
}

HWND Tabs(HWND dialog) { return ::GetDlgItem(dialog, kIdTabs); }
void ClickTab(HWND dialog, int index) {
  RECT r{};
  ::SendMessageA(Tabs(dialog), TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
  ClickAt(Tabs(dialog), {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}
// The page shown inside the tab control.
HWND Page(HWND dialog) {
  for (HWND child = ::GetWindow(Tabs(dialog), GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (::IsWindowVisible(child) && ::GetDlgItem(child, kIdPageContent)) return child;
  return nullptr;
}
HWND PageContent(HWND dialog) { return ::GetDlgItem(Page(dialog), kIdPageContent); }

std::vector<TRow> ListRows(HWND list) {
  std::vector<TRow> rows;
  const int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    TRow r{};
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    ::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    r.Icon = item.iImage;
    for (int column = 0; column < 6; ++column) {
      char text[256] = {};
      LVITEMA cell{};
      cell.iSubItem = column;
      cell.pszText = text;
      cell.cchTextMax = sizeof text;
      ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
      r.Cells[static_cast<std::size_t>(column)] = text;
    }
    rows.push_back(r);
  }
  return rows;
}
void ExpectRows(HWND list, const std::vector<TRow>& expected) {
  const std::vector<TRow> rows = ListRows(list);
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].Icon, expected[i].Icon) << "row " << i;
    EXPECT_EQ(rows[i].Cells, expected[i].Cells) << "row " << i;
  }
}

// Double-clicks a list row through the window's queue, as the mouse would.
void DoubleClickRow(HWND list, int row) {
  RECT r{};
  r.left = LVIR_BOUNDS;
  ::SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
  const LPARAM at = MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2);
  ::PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::PostMessageA(list, WM_LBUTTONUP, 0, at);
  ::PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  ::PostMessageA(list, WM_LBUTTONUP, 0, at);
}

void PressEsc(HWND dialog) { pelloran::testing::PostKey(dialog, VK_ESCAPE); }
void PressCloseBox(HWND dialog) { ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

// The collapsed window's size by its rules, measured with the message control's own font.
struct TExpectedCollapsed {
  int Width, Height, TextHeight;
};
TExpectedCollapsed ExpectedCollapsed(HWND dialog, const TErrorDialogData& data) {
  HWND message = ::GetDlgItem(dialog, kIdMessage);
  HDC dc = ::GetDC(message);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(message, WM_GETFONT, 0, 0)));
  std::vector<std::string> lines;
  std::string rest = data.ShortMessage;
  for (std::size_t cut; (cut = rest.find("\r\n")) != std::string::npos; rest.erase(0, cut + 2))
    lines.push_back(rest.substr(0, cut));
  lines.push_back(rest);
  lines.push_back(data.Options.Texts[16] + "    " + data.Options.Texts[18]);
  const int margin = 2 * ::GetSystemMetrics(SM_CXFIXEDFRAME) + 58, limit = 640 - margin;
  int width = 0, height = 0;
  for (const std::string& line : lines) {
    SIZE s{};
    ::GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &s);
    if (s.cx > width) {
      width = s.cx + 16;
      if (width > limit) {
        height += ((width - limit) / limit + 1) * s.cy;
        width = limit;
      }
    }
    height += s.cy;
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(message, dc);
  const int windowWidth = std::max(width + margin, 250);
  const int windowHeight = std::max(height - 39, 0) + 2 * (::GetSystemMetrics(SM_CYFIXEDFRAME) - 1) + 88 +
                           ::GetSystemMetrics(SM_CYSMCAPTION);
  return {windowWidth, windowHeight, height};
}

class ErrorDialog : public ::testing::Test {
 protected:
  void SetUp() override { ::DeleteFileA(IniPath().c_str()); }
  void TearDown() override { ::DeleteFileA(IniPath().c_str()); }
};

// ---- the tests --------------------------------------------------------------------------------

TEST_F(ErrorDialog, CollapsedDialogShowsTheMessageAndHandsBackTheCheckBoxes) {
  TErrorDialogData data = MakeData();
  data.Options.SendMode = kSendMailClient;
  data.Options.AttachScreenshot = true;
  data.ErrorCount = 3;  // not more than TerminateAfterErrors: no terminate button yet
  SetInitialRequests(data);
  bool shown = false;
  TDialogThread run([&] { shown = RunErrorDialog(data); });
  HWND dialog = run.WaitForWindow();
  ASSERT_NE(dialog, nullptr);

  EXPECT_EQ(WindowText(dialog), "Error.");
  EXPECT_EQ(ItemText(dialog, kIdMessage), data.ShortMessage);
  EXPECT_EQ(ItemText(dialog, kIdOk), "&OK");
  EXPECT_EQ(ItemText(dialog, kIdDetails), "&Details >>");
  EXPECT_FALSE(Visible(dialog, kIdTabs));
  EXPECT_FALSE(Visible(dialog, kIdTerminate));
  EXPECT_FALSE(Visible(dialog, kIdLine));
  EXPECT_TRUE(Visible(dialog, kIdSend) && Visible(dialog, kIdScreenshot) && Visible(dialog, kIdCopy));
  EXPECT_EQ(ItemText(dialog, kIdSend), "&Send this error via Email");
  EXPECT_EQ(ItemText(dialog, kIdScreenshot), "&Attach a Screenshot image");
  EXPECT_EQ(ItemText(dialog, kIdCopy), "&Copy to Clipboard");
  EXPECT_EQ(::IsDlgButtonChecked(dialog, kIdSend), BST_CHECKED);
  EXPECT_EQ(::IsDlgButtonChecked(dialog, kIdScreenshot), BST_CHECKED);
  EXPECT_EQ(::IsDlgButtonChecked(dialog, kIdCopy), BST_UNCHECKED);
  // Send and screenshot shown: a band of 34 pixels under the buttons.
  RECT client{};
  ::GetClientRect(dialog, &client);
  EXPECT_EQ(client.bottom - 32 - ClientRectOf(dialog, kIdOk).top, 34);
  EXPECT_EQ(ClientRectOf(dialog, kIdScreenshot).top, client.bottom - 34 - 32 + 50);

  const TExpectedCollapsed expected = ExpectedCollapsed(dialog, data);
  EXPECT_EQ(WindowSize(dialog).cx, expected.Width);
  EXPECT_EQ(WindowSize(dialog).cy, expected.Height + 34);
  const RECT text = ClientRectOf(dialog, kIdMessage);
  EXPECT_EQ(text.left, 48);
  EXPECT_EQ(text.bottom - text.top, expected.TextHeight);

  // Unticking send disables the screenshot box; copy is ticked.
  Click(dialog, kIdSend);
  EXPECT_EQ(::IsDlgButtonChecked(dialog, kIdSend), BST_UNCHECKED);
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, kIdScreenshot)));
  Click(dialog, kIdCopy);
  EXPECT_EQ(::IsDlgButtonChecked(dialog, kIdCopy), BST_CHECKED);
  PressEsc(dialog);
  run.Join();
  EXPECT_TRUE(shown);
  EXPECT_TRUE(data.Painted);
  EXPECT_FALSE(data.SendRequested);
  EXPECT_TRUE(data.ScreenshotRequested);
  EXPECT_TRUE(data.CopyRequested);
  EXPECT_FALSE(data.TerminateRequested);
}

TEST_F(ErrorDialog, CollapsedWidthStartsAt250AndStopsAt640) {
  for (const std::string& message : {std::string("Short."), std::string(400, 'W') + "\r\nsecond line"}) {
    TErrorDialogData data = MakeData();
    data.Options.Texts[16] = "&Send";
    data.Options.Texts[18] = "&Copy";
    data.ShortMessage = message;
    TDialogThread run([&] { RunErrorDialog(data); });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    const TExpectedCollapsed expected = ExpectedCollapsed(dialog, data);
    EXPECT_EQ(WindowSize(dialog).cx, message.size() < 10 ? 250 : 640);
    EXPECT_EQ(WindowSize(dialog).cx, expected.Width);
    EXPECT_EQ(WindowSize(dialog).cy, expected.Height + 20);  // no send box: a band of 20
    EXPECT_FALSE(Visible(dialog, kIdSend));
    EXPECT_FALSE(Visible(dialog, kIdScreenshot));
    EXPECT_TRUE(Visible(dialog, kIdCopy));
    if (message.size() > 10) {
      EXPECT_GT(expected.TextHeight, 3 * 13);  // the long line wraps
    }
    PressCloseBox(dialog);
    run.Join();
    EXPECT_TRUE(data.Painted);
  }
}

TEST_F(ErrorDialog, ExpandedPagesShowTheReportAndKeepTheirPlacement) {
  TErrorDialogData data = MakeData();
  TDialogThread run([&] { RunErrorDialog(data); });
  HWND dialog = run.WaitForWindow();
  ASSERT_NE(dialog, nullptr);
  Click(dialog, kIdDetails);
  EXPECT_EQ(ItemText(dialog, kIdDetails), "<< &Details");
  EXPECT_EQ(ItemText(dialog, kIdMessage), data.Options.Texts[3]);
  EXPECT_TRUE(Visible(dialog, kIdTabs));
  // No placement stored: 640 by 385 plus the band of 20, centred.
  RECT window{};
  ::GetWindowRect(dialog, &window);
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN), screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  EXPECT_EQ(window.right - window.left, 640);
  EXPECT_EQ(window.bottom - window.top, 385 + 20);
  EXPECT_EQ(window.left, (screenWidth - 640) / 2);
  EXPECT_EQ(window.top, (screenHeight - 385 - 20) / 2);

  const char* tabTitles[] = {"General", "Call Stack", "Modules", "CPU"};
  ASSERT_EQ(::SendMessageA(Tabs(dialog), TCM_GETITEMCOUNT, 0, 0), 4);
  for (int i = 0; i < 4; ++i) {
    char title[64] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = title;
    item.cchTextMax = sizeof title;
    ::SendMessageA(Tabs(dialog), TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(title, tabTitles[i]);
  }
  EXPECT_EQ(WindowText(::GetDlgItem(Page(dialog), kIdPageHeader)), "General Information");
  EXPECT_EQ(WindowText(PageContent(dialog)), data.GeneralText);

  ClickTab(dialog, 1);
  EXPECT_EQ(WindowText(::GetDlgItem(Page(dialog), kIdPageHeader)), "Call Stack Information");
  ExpectRows(PageContent(dialog), kStackRows);
  // Activating a row with a line number sends it to a development environment's mailslot;
  // one without a line sends nothing.
  ScopedFileHandle slot(::CreateMailslotA("\\\\.\\mailslot\\CrashLog", 0, 0, nullptr));
  ASSERT_TRUE(slot);
  DoubleClickRow(PageContent(dialog), 1);
  DoubleClickRow(PageContent(dialog), 0);
  DWORD next = 0, count = 0;
  for (int i = 0; i < 1500 && count == 0; ++i) {
    ASSERT_TRUE(::GetMailslotInfo(slot.get(), nullptr, &next, &count, nullptr));
    if (count == 0) ::Sleep(20);
  }
  // Only the row with a line number was sent (the other one, activated first, would be first).
  ASSERT_EQ(count, 1u);
  ASSERT_EQ(next, 2052u);
  std::uint8_t message[2052] = {};
  DWORD read = 0;
  ASSERT_TRUE(::ReadFile(slot.get(), message, sizeof message, &read, nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(message)), "main_form.cpp");
  EXPECT_EQ(message[2048] | message[2049] << 8 | message[2050] << 16 | message[2051] << 24, 120);

  ClickTab(dialog, 2);
  EXPECT_EQ(WindowText(::GetDlgItem(Page(dialog), kIdPageHeader)), "Modules Information");
  ExpectRows(PageContent(dialog), kModuleRows);
  // Without stored widths every column is at least its default and shows its title and cells whole.
  const int defaults[6] = {80, 100, 130, 65, 65, 150};
  std::vector<int> widths;
  for (int column = 0; column < 6; ++column) {
    const int width = static_cast<int>(::SendMessageA(PageContent(dialog), LVM_GETCOLUMNWIDTH, column, 0));
    widths.push_back(width);
    EXPECT_GE(width, defaults[column]);
    char title[64] = {};
    LVCOLUMNA header{};
    header.mask = LVCF_TEXT;
    header.pszText = title;
    header.cchTextMax = sizeof title;
    ::SendMessageA(PageContent(dialog), LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&header));
    std::vector<std::string> texts = {title};
    for (const TRow& row : kModuleRows) texts.push_back(row.Cells[static_cast<std::size_t>(column)]);
    for (const std::string& text : texts)
      EXPECT_GE(width, ::SendMessageA(PageContent(dialog), LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text.c_str())) +
                           (column == 0 ? 16 : 0))
          << "column " << column << ": " << text;
  }
  ::SendMessageA(PageContent(dialog), LVM_SETCOLUMNWIDTH, 3, 77);  // the user narrows "Version"
  ClickTab(dialog, 3);
  EXPECT_EQ(WindowText(::GetDlgItem(Page(dialog), kIdPageHeader)), "CPU Information");
  EXPECT_EQ(WindowText(PageContent(dialog)), data.CpuText);
  // Leaving a list page wrote its widths.
  EXPECT_EQ(IniValue("ColMod3"), "77");
  EXPECT_EQ(IniValue("ColMod0"), std::to_string(widths[0]));
  EXPECT_EQ(IniValue("ColMod5"), std::to_string(widths[5]));
  EXPECT_NE(IniValue("Col0"), "(none)");
  // Stored widths are used as they are.
  ClickTab(dialog, 2);
  EXPECT_EQ(::SendMessageA(PageContent(dialog), LVM_GETCOLUMNWIDTH, 3, 0), 77);

  // Every size change lays the dialog out again.
  ::SetWindowPos(dialog, nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
  RECT client{};
  ::GetClientRect(dialog, &client);
  const int cw = client.right, ch = client.bottom, y = ch - 20 - 32;
  EXPECT_EQ(ClientRectOf(dialog, kIdOk).left, (cw - 75) / 2);
  EXPECT_EQ(ClientRectOf(dialog, kIdOk).top, y);
  EXPECT_EQ(ClientRectOf(dialog, kIdDetails).left, cw - 80);
  EXPECT_EQ(ClientRectOf(dialog, kIdCopy).left, cw - (cw - 8) / 2 - 4);
  EXPECT_EQ(ClientRectOf(dialog, kIdCopy).top, y + 34);
  const RECT tabs = ClientRectOf(dialog, kIdTabs);
  EXPECT_EQ(tabs.left, 4);
  EXPECT_EQ(tabs.top, 52);
  EXPECT_EQ(tabs.right - tabs.left, cw - 8);
  EXPECT_EQ(tabs.bottom - tabs.top, ch - 90 - 20);
  RECT content{};
  ::GetWindowRect(PageContent(dialog), &content);
  // The page covers the tab's display area (3 more to the left, 1 higher); its content fills it.
  RECT area{0, 0, tabs.right - tabs.left, tabs.bottom - tabs.top};
  ::SendMessageA(Tabs(dialog), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  EXPECT_EQ(content.right - content.left, area.right - (area.left - 3) - 8);
  EXPECT_EQ(content.bottom - content.top, area.bottom - (area.top - 1) - 24);
  ::SetWindowPos(dialog, nullptr, 50, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  PressCloseBox(dialog);
  run.Join();
  EXPECT_EQ(IniValue("Width"), "700");
  EXPECT_EQ(IniValue("Height"), "480");  // without the band
  EXPECT_EQ(IniValue("Left"), "50");
  EXPECT_EQ(IniValue("Top"), "60");
  EXPECT_EQ(IniValue("WindowsState"), "1");
}

TEST_F(ErrorDialog, StoredPlacementMaximisedWithTheTerminateButton) {
  SetIniValue("Width", "720");
  SetIniValue("Height", "400");
  SetIniValue("Left", "10");
  SetIniValue("Top", "20");
  SetIniValue("WindowsState", "3");
  SetIniValue("Col0", "99");
  TErrorDialogData data = MakeData();
  data.Options.InitialDialogPage = 1;
  data.ErrorCount = 4;  // one more than TerminateAfterErrors
  TDialogThread run([&] { RunErrorDialog(data); });
  HWND dialog = run.WaitForWindow();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(Visible(dialog, kIdTerminate));
  EXPECT_EQ(ItemText(dialog, kIdTerminate), "&Restart");  // TerminateAction 1
  Click(dialog, kIdDetails);
  EXPECT_TRUE(::IsZoomed(dialog));
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  ::GetWindowPlacement(dialog, &placement);
  EXPECT_EQ(placement.rcNormalPosition.left, 10);
  EXPECT_EQ(placement.rcNormalPosition.top, 20);
  EXPECT_EQ(placement.rcNormalPosition.right, 730);
  EXPECT_EQ(placement.rcNormalPosition.bottom, 20 + 400 + 20);
  EXPECT_EQ(::SendMessageA(PageContent(dialog), LVM_GETCOLUMNWIDTH, 0, 0), 99);
  EXPECT_EQ(ListRows(PageContent(dialog)).size(), kStackRows.size());
  // Moving the maximised window does not change the stored position.
  ::SetWindowPos(dialog, nullptr, 200, 210, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Click(dialog, kIdTerminate);
  run.Join();
  EXPECT_TRUE(data.TerminateRequested);
  EXPECT_EQ(IniValue("Left"), "10");
  EXPECT_EQ(IniValue("Top"), "20");
  EXPECT_EQ(IniValue("WindowsState"), "3");
  EXPECT_EQ(IniValue("Width"), "720");
  EXPECT_EQ(IniValue("Height"), "400");
}

TEST_F(ErrorDialog, TerminateHandlerThatClearsTheRequestShowsTheDialogAgain) {
  TErrorDialogData data = MakeData();
  data.ErrorCount = 5;
  data.Options.TerminateAction = 0;
  int handlerCalls = 0;
  data.TerminateHandler = [&](bool& terminate) {
    ++handlerCalls;
    terminate = false;
  };
  TDialogThread run([&] { RunErrorDialog(data); });
  HWND first = run.WaitForWindow();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ItemText(first, kIdTerminate), "&Terminate");
  Click(first, kIdTerminate);
  ASSERT_TRUE(run.WaitGone(first));
  HWND second = run.WaitForWindow(first);
  ASSERT_NE(second, nullptr);
  Click(second, kIdOk);
  run.Join();
  EXPECT_EQ(handlerCalls, 1);
  EXPECT_FALSE(data.TerminateRequested);
}

TEST_F(ErrorDialog, CustomLookPaintsTheCaptionGradientAndFrame) {
  TErrorDialogData data = MakeData();
  data.Options.CustomDialogLook = true;
  TDialogThread run([&] { RunErrorDialog(data); });
  HWND dialog = run.WaitForWindow();
  ASSERT_NE(dialog, nullptr);
  ::SetForegroundWindow(dialog);
  ::RedrawWindow(dialog, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  const int frameWidth = ::GetSystemMetrics(SM_CXFIXEDFRAME), frameHeight = ::GetSystemMetrics(SM_CYFIXEDFRAME);
  const SIZE size = WindowSize(dialog);
  HDC dc = ::GetWindowDC(dialog);
  const COLORREF corner = ::GetPixel(dc, 0, 0);
  const COLORREF bandTop = ::GetPixel(dc, size.cx - frameWidth - 3, frameHeight);
  const COLORREF border = ::GetPixel(dc, 1, size.cy / 2);
  ::ReleaseDC(dialog, dc);
  // Active: frame (64, 64, 64), border fill (128, 128, 128); the band's outer rows have the first
  // gradient step, (130, 154, 194) darkened by 4 % and rounded: (125, 148, 186).
  EXPECT_EQ(corner, RGB(64, 64, 64));
  EXPECT_EQ(border, RGB(128, 128, 128));
  EXPECT_EQ(bandTop, RGB(125, 148, 186));
  PressEsc(dialog);
  run.Join();
  EXPECT_TRUE(data.Painted);
}

TEST_F(ErrorDialog, DialogThatCannotShowFallsBackToAMessageBox) {
  pelloran::testing::BoxWatcher boxes;
  TErrorDialogData data = MakeData();
  data.ResourceModule = ::GetModuleHandleA("kernel32.dll");  // holds none of the templates
  ClearLastError();
  EXPECT_FALSE(RunErrorDialog(data));
  ASSERT_EQ(boxes.Count(), 1u);
  EXPECT_EQ(boxes.Seen()[0].Caption, "Error.");
  EXPECT_EQ(boxes.Seen()[0].Text, data.ShortMessage);
  EXPECT_EQ(LastErrorCode(), eeShowError);
  EXPECT_EQ(LastErrorMessage(), "Cannot show the DialogBox window.");
}

// ---- the reproduce-steps dialog -------------------------------------------------------------------

void Type(HWND edit, const std::string& text) {
  for (char c : text) ::SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
}

TEST(ReproduceDialog, KeepsTheTrimmedTextWhicheverWayItCloses) {
  for (int way = 0; way < 3; ++way) {
    TErrorDialogData data = MakeData();
    data.Options.ReportOptions = kAskReproduceSteps;
    ASSERT_TRUE(ReproduceDialogWanted(data));
    TDialogThread run([&] { RunReproduceDialog(data); });
    HWND dialog = run.WaitForWindow();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), "Request");
    EXPECT_EQ(ItemText(dialog, kIdRequestLabel), "Please describe the steps to reproduce the error:");
    EXPECT_EQ(ItemText(dialog, kIdOk), "&OK");
    Type(::GetDlgItem(dialog, kIdRequestEdit), "   open two files\rpress start  \r\r");
    if (way == 0) Click(dialog, kIdOk);
    if (way == 1) PressEsc(dialog);
    if (way == 2) PressCloseBox(dialog);
    run.Join();
    EXPECT_EQ(data.ReproduceText, "open two files\r\npress start") << "way " << way;
  }
}

TEST(ReproduceDialog, IsAskedOnlyWhenTheReportGoesSomewhere) {
  TErrorDialogData data = MakeData();
  data.Options.ReportOptions = kAskReproduceSteps;
  data.Options.SaveLog = false;
  EXPECT_FALSE(ReproduceDialogWanted(data));  // neither logged nor mailed
  data.Options.SendMode = kSendSmtpServer;
  EXPECT_TRUE(ReproduceDialogWanted(data));
  data.Duplicate = true;
  EXPECT_FALSE(ReproduceDialogWanted(data));
  data.Duplicate = false;
  data.GuiApplication = false;
  EXPECT_FALSE(ReproduceDialogWanted(data));
  data.GuiApplication = true;
  data.Options.ReportOptions = kSkipDuplicates;
  EXPECT_FALSE(ReproduceDialogWanted(data));
  // Not wanted: nothing is shown and nothing stored.
  data.ReproduceText = "left alone";
  RunReproduceDialog(data);
  EXPECT_EQ(data.ReproduceText, "left alone");
}

}  // namespace
}  // namespace pelloran::crashlog
