// The main window driven through its messages: layout, drag and drop, the list commands from the
// toolbar, the context menu and a double click, the tabs and the banner.
#include "app/main_form.h"

#include <gtest/gtest.h>

#include <atomic>

#include <commctrl.h>
#include <dlgs.h>
#include <shlobj.h>

#include "app/banner.h"
#include "app/edit_dialog.h"
#include "app/file_dialogs.h"
#include "app/help_text.h"
#include "batch/batch_io.h"
#include "batch/vendor.h"
#include "tests/support/form_fixture.h"

namespace pelloran {
namespace {

using namespace std::chrono_literals;
using testing::BoxWatcher;
using testing::PumpFor;
using testing::PumpUntil;
using testing::SeenBox;
using testing::TempFolder;

RECT ClientRectOf(HWND window) {
  RECT r{};
  ::GetClientRect(window, &r);
  return r;
}

// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND window) {
  RECT r{};
  ::GetWindowRect(window, &r);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// A drop handle made as the shell makes one: DROPFILES, then the paths, each ended by a zero,
// and one more zero.
HDROP MakeDrop(const std::vector<std::string>& paths) {
  size_t size = sizeof(DROPFILES) + 1;
  for (const std::string& p : paths) size += p.size() + 1;
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->pt = {20, 20};
  drop->fWide = FALSE;
  char* out = reinterpret_cast<char*>(drop) + sizeof(DROPFILES);
  for (const std::string& p : paths) {
    memcpy(out, p.c_str(), p.size() + 1);
    out += p.size() + 1;
  }
  ::GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

class MainWindow : public testing::MainFormTest {
 protected:
  std::vector<std::string> Inputs() {
    std::vector<std::string> rows;
    for (int i = 0; i < form->Jobs->Count(); ++i) rows.push_back(form->Jobs->Row(i).Input);
    return rows;
  }

  void Drop(const std::vector<std::string>& paths) {
    ::PostMessageA(form->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
    PumpFor(200ms);
  }

  // Clicks a toolbar button (0: add, 1: modify, 2: delete, 3: clear).
  void ClickTool(int index) {
    testing::ClickAt(form->toolBar->Handle(), Centre(form->toolBar->ButtonRect(index)));
  }

  void DoubleClickRow(int row) {
    form->lvFiles->Select(row);
    RECT r{};
    r.left = LVIR_BOUNDS;
    ::SendMessageA(form->lvFiles->Handle(), LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    testing::DoubleClickAt(form->lvFiles->Handle(), Centre(r));
  }

  // Opens the context menu of the list as a right click does, and picks the item at menu
  // position `position` with the keyboard: arrow down until that item is highlighted, then Enter.
  void ChooseFromContextMenu(int position) {
    std::atomic<bool> picked{false};
    HMENU menu = form->pmFiles->Handle();
    BoxWatcher watcher([&](HWND popup, const SeenBox&) {
      for (int tries = 0; tries < 100; ++tries) {
        if (::GetMenuState(menu, position, MF_BYPOSITION) & MF_HILITE) {
          testing::PostKey(popup, VK_RETURN);
          picked = true;
          return true;
        }
        testing::PostKey(popup, VK_DOWN);
        ::Sleep(50);
      }
      testing::PostKey(popup, VK_ESCAPE);
      return true;
    }, /*menusOnly=*/true);
    RECT r{};
    ::GetWindowRect(form->lvFiles->Handle(), &r);
    ::SendMessageA(form->lvFiles->Handle(), WM_CONTEXTMENU,
                   reinterpret_cast<WPARAM>(form->lvFiles->Handle()), MAKELPARAM(r.left + 30, r.top + 40));
    ASSERT_TRUE(PumpUntil([&] { return picked.load(); }, 10s));
    PumpFor(200ms);
  }

  TempFolder dir;
};

TEST_F(MainWindow, WindowFrameCaptionAndPlacement) {
  HWND w = form->Handle();
  EXPECT_EQ(testing::WindowText(w), "Pelloran v2.10 批量处理版 - WWW.PELLORAN.EXAMPLE");
  RECT client = ClientRectOf(w);
  EXPECT_EQ(client.right, 770);
  EXPECT_EQ(client.bottom, 510);
  LONG style = ::GetWindowLongA(w, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  RECT frame{};
  ::GetWindowRect(w, &frame);
  EXPECT_NEAR(Centre(frame).x, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR(Centre(frame).y, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);
  EXPECT_EQ(Application().Title(), "Pelloran");
  // The taskbar button belongs to the application window, titled "Pelloran", which owns the form.
  HWND app = Application().Handle();
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(testing::WindowText(app), "Pelloran");
  EXPECT_TRUE(::IsWindowVisible(app));
  EXPECT_EQ(::GetWindow(w, GW_OWNER), app);
  EXPECT_FALSE(::GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_APPWINDOW);
}

TEST_F(MainWindow, MinimisingTheWindowMinimisesTheApplication) {
  HWND app = Application().Handle();
  ::SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  PumpFor(200ms);
  EXPECT_TRUE(::IsIconic(app));
  EXPECT_FALSE(::IsWindowVisible(form->Handle()));
  ::SendMessageA(app, WM_SYSCOMMAND, SC_RESTORE, 0);
  PumpFor(200ms);
  EXPECT_FALSE(::IsIconic(app));
  EXPECT_TRUE(::IsWindowVisible(form->Handle()));
}

TEST_F(MainWindow, BlocksAndComponentsHaveTheirSizes) {
  EXPECT_EQ(RectInParent(form->bannerPanel->Handle()).bottom, 68);
  RECT banner = RectInParent(form->bannerImage->Handle());
  EXPECT_EQ(banner.right - banner.left, 760);
  EXPECT_EQ(banner.bottom - banner.top, 60);
  EXPECT_EQ(form->bannerImage->PictureWidth(), 760);
  EXPECT_EQ(form->bannerImage->PictureHeight(), 60);
  EXPECT_GT(form->bannerImage->FrameCount(), 1);
  // The banner plays its frames.
  const int first = form->bannerImage->CurrentFrame();
  EXPECT_TRUE(PumpUntil([&] { return form->bannerImage->CurrentFrame() != first; }, 5s));

  auto height = [](const TControl& c) {
    RECT r = RectInParent(c.Handle());
    return r.bottom - r.top;
  };
  EXPECT_EQ(height(*form->jobListPanel), 199);
  EXPECT_EQ(height(*form->startPanel), 108);
  EXPECT_EQ(height(*form->toolBarPanel), 28);
  EXPECT_EQ(height(*form->dropTipLabel), 39);
  EXPECT_EQ(height(*form->ggProgress), 17);
  EXPECT_EQ(height(*form->helpBarPanel), 28);
  // The middle block takes what is left of the page.
  RECT page = ClientRectOf(form->cleaningPage->Handle());
  EXPECT_EQ(height(*form->logPanel), page.bottom - 199 - 108);
  RECT start = RectInParent(form->btnStart->Handle());
  EXPECT_EQ(start.left, 260);
  EXPECT_EQ(start.top, 25);
  EXPECT_EQ(start.right - start.left, 233);
  EXPECT_EQ(start.bottom - start.top, 57);
  EXPECT_EQ(form->btnStart->Text(), "==> 开始清除广告 <==");
}

TEST_F(MainWindow, TabsToolbarColumnsAndMenu) {
  ASSERT_EQ(form->pageControl->PageCount(), 3);
  const char* tabs[] = {" 广告清除 ", " 使用说明 ", " 软件主页 "};
  for (int i = 0; i < 3; ++i) {
    char text[64] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    ::SendMessageA(form->pageControl->Handle(), TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(std::string(text), tabs[i]);
  }
  EXPECT_EQ(form->pageControl->ActivePageIndex(), 0);
  EXPECT_TRUE(form->cleaningPage->Visible());

  HWND bar = form->toolBar->Handle();
  ASSERT_EQ(::SendMessageA(bar, TB_BUTTONCOUNT, 0, 0), 4);
  const std::pair<int, const char*> buttons[] = {
      {kCmdAddFilesButton, "添加文件 "},
      {kCmdEditFileButton, "修改文件 "},
      {kCmdDeleteFileButton, "删除文件 "},
      {kCmdClearListButton, "清空列表 "}};
  for (int i = 0; i < 4; ++i) {
    TBBUTTON b{};
    ::SendMessageA(bar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b));
    EXPECT_EQ(b.idCommand, buttons[i].first);
    char text[64] = {};
    ::SendMessageA(bar, TB_GETBUTTONTEXTA, b.idCommand, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::string(text), buttons[i].second);
    RECT r = form->toolBar->ButtonRect(i);
    EXPECT_EQ(r.right - r.left, 75);
    EXPECT_EQ(r.bottom - r.top, 22);
  }

  const std::tuple<const char*, int, int> columns[] = {
      {"输入文件", LVCFMT_LEFT, -1}, {"输出文件", LVCFMT_CENTER, 320}, {"处理结果", LVCFMT_CENTER, 100}};
  int used = 0;
  for (int i = 0; i < 3; ++i) {
    char text[64] = {};
    LVCOLUMNA c{};
    c.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    c.pszText = text;
    c.cchTextMax = sizeof text;
    ASSERT_TRUE(::SendMessageA(form->lvFiles->Handle(), LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&c)));
    EXPECT_EQ(std::string(text), std::get<0>(columns[i]));
    EXPECT_EQ(c.fmt & LVCFMT_JUSTIFYMASK, std::get<1>(columns[i]));
    if (std::get<2>(columns[i]) > 0) {
      EXPECT_EQ(c.cx, std::get<2>(columns[i]));
    }
    used += c.cx;
  }
  // The first column takes the width the others leave (room kept for a vertical scroll bar).
  RECT list = ClientRectOf(form->lvFiles->Handle());
  EXPECT_EQ(used, list.right - ::GetSystemMetrics(SM_CXVSCROLL));
  LONG listStyle = ::GetWindowLongA(form->lvFiles->Handle(), GWL_STYLE);
  EXPECT_EQ(listStyle & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_TRUE(listStyle & LVS_SINGLESEL);
  EXPECT_FALSE(listStyle & LVS_EDITLABELS);
  EXPECT_FALSE(listStyle & (LVS_SORTASCENDING | LVS_SORTDESCENDING));

  HMENU menu = form->pmFiles->Handle();
  ASSERT_EQ(::GetMenuItemCount(menu), 5);
  const std::pair<int, const char*> items[] = {
      {kCmdAddFilesItem, "添加文件"},
      {kCmdEditFileItem, "修改文件"},
      {kCmdDeleteFileItem, "删除文件"},
      {kCmdMenuSeparator, ""},
      {kCmdClearListItem, "清空列表"}};
  for (int i = 0; i < 5; ++i) {
    char text[64] = {};
    ::GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
    EXPECT_EQ(std::string(text), items[i].second);
    if (i != 3) {
      EXPECT_EQ(static_cast<int>(::GetMenuItemID(menu, i)), items[i].first);
    }
  }
  MENUITEMINFOA separator{sizeof(MENUITEMINFOA), MIIM_FTYPE};
  ::GetMenuItemInfoA(menu, 3, TRUE, &separator);
  EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
}

TEST_F(MainWindow, PanesHoldTheirTexts) {
  EXPECT_EQ(form->logMemo->Text(), WelcomeLogText());
  EXPECT_EQ(form->dropTipLabel->Text(), DropTipText());
  const std::string help = form->helpMemo->Text();
  EXPECT_EQ(help, HelpText());
  int lines = 0;
  for (size_t at = help.find("\r\n"); at != std::string::npos; at = help.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 14);
  EXPECT_EQ(help.find(std::string(116, ' ') + "使用说明\r\n"), 2u);
  EXPECT_NE(help.find("\r\n     注意: 非RM/RMVB/RA扩展名的文件是无法添加/拖拉进待处理文件列表中的。\r\n"), std::string::npos);
}

TEST_F(MainWindow, DroppedFilesAreAddedInTheShellsOrder) {
  Drop({"C:\\v\\1.rm", "C:\\v\\2.avi", "C:\\v\\影片3.RMVB", "C:\\v\\4.AVI", "C:\\v\\5.ra"});
  EXPECT_EQ(Inputs(), (std::vector<std::string>{"C:\\v\\1.rm", "C:\\v\\影片3.RMVB", "C:\\v\\5.ra"}));
  EXPECT_EQ(form->Jobs->Row(1).Output, "C:\\v\\Fix_影片3.RMVB");
  EXPECT_EQ(form->Jobs->Row(2).Status, "待处理");
}

TEST_F(MainWindow, DroppedPathsArriveWholeWhateverTheirLength) {
  // A buffer of fixed size would cut the last one's ".rm" off and drop the file.
  const std::string folder = "C:\\" + std::string(496, 'd') + "\\";
  const std::string fits = folder + "a.rm";
  std::string exact = folder + std::string(511 - folder.size() - 3, 'n') + ".rm";
  ASSERT_EQ(exact.size(), 511u);
  std::string longer = folder + std::string(20, 'n') + ".rm";
  ASSERT_GT(longer.size(), 511u);
  Drop({exact, longer, fits});
  EXPECT_EQ(Inputs(), (std::vector<std::string>{exact, longer, fits}));
}

TEST_F(MainWindow, ToolbarAddUsesTheOpenDialogWithItsFilter) {
  testing::MakeFile(dir / "picked.RM", "x", 10);
  testing::MakeFile(dir / "other.avi", "x", 10);
  std::vector<std::string> filter;
  std::string answer = dir / "picked.RM";
  BoxWatcher dialogs([&](HWND box, const SeenBox&) {
    filter = testing::ComboItems(::GetDlgItem(box, cmb1));
    ::SetDlgItemTextA(box, cmb13, answer.c_str());
    ::SetDlgItemTextA(box, edt1, answer.c_str());
    testing::PressButton(box, IDOK);
    return true;
  });
  ClickTool(0);
  ASSERT_TRUE(PumpUntil([&] { return dialogs.Count() == 1 && form->Jobs->Count() == 1; }, 15s));
  EXPECT_EQ(filter, (std::vector<std::string>{"所有文件 (*.*)", "RM文件(*.rm)", "RMVB(*.rmvb)", "RA(*.ra)"}));
  EXPECT_EQ(Inputs(), std::vector<std::string>{dir / "picked.RM"});

  // Another type is dropped without a word.
  answer = dir / "other.avi";
  ClickTool(0);
  ASSERT_TRUE(PumpUntil([&] { return dialogs.Count() == 2; }, 15s));
  PumpFor(300ms);
  EXPECT_EQ(form->Jobs->Count(), 1);
  EXPECT_EQ(dialogs.Count(), 2u);
}

TEST(FileDialogFilter, SeparatorsBecomeZerosAndTheListEndsInTwo) {
  EXPECT_EQ(DialogFilter(kAddFileFilter),
            std::string("所有文件 (*.*)\0*.*\0RM文件(*.rm)\0*.RM\0RMVB(*.rmvb)\0*.RMVB\0RA(*.ra)\0*.RA\0\0", 72));
  EXPECT_EQ(DialogFilter(kEditFileFilter),
            std::string("所有文件 (*.*)\0*.*\0RM文件(*.rm)\0*.RM\0RMVB(*rmvb)\0*.RMVB\0\0", 57));
}

TEST_F(MainWindow, DeleteAndClearFromToolbarAndContextMenu) {
  Drop({"a.rm", "b.rm", "c.rm", "d.rm", "e.rm"});
  ASSERT_EQ(form->Jobs->Count(), 5);
  ClickTool(2);  // nothing selected: nothing happens
  PumpFor(100ms);
  EXPECT_EQ(form->Jobs->Count(), 5);

  form->lvFiles->Select(1);
  ClickTool(2);
  PumpFor(100ms);
  EXPECT_EQ(Inputs(), (std::vector<std::string>{"a.rm", "c.rm", "d.rm", "e.rm"}));

  form->lvFiles->Select(2);
  ChooseFromContextMenu(2);  // 删除文件
  EXPECT_EQ(Inputs(), (std::vector<std::string>{"a.rm", "c.rm", "e.rm"}));

  ChooseFromContextMenu(4);  // 清空列表, after the separator
  EXPECT_EQ(form->Jobs->Count(), 0);

  Drop({"x.rm", "y.rm"});
  ClickTool(3);
  PumpFor(100ms);
  EXPECT_EQ(form->Jobs->Count(), 0);
}

TEST_F(MainWindow, ContextMenuAddOpensTheFileDialog) {
  bool opened = false;
  BoxWatcher dialogs([&](HWND box, const SeenBox&) {
    opened = ::GetDlgItem(box, cmb1) != nullptr;
    testing::PressButton(box, IDCANCEL);
    return true;
  });
  ChooseFromContextMenu(0);
  ASSERT_TRUE(PumpUntil([&] { return dialogs.Count() == 1; }, 15s));
  EXPECT_TRUE(opened);
  EXPECT_EQ(form->Jobs->Count(), 0);
}

TEST_F(MainWindow, ModifyWithoutSelectionShowsNothing) {
  BoxWatcher boxes;
  Drop({"a.rm"});
  ClickTool(1);
  PumpFor(500ms);
  EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(MainWindow, ModifyOpensTheEditDialogFromEachTrigger) {
  Drop({"a.rm"});
  BoxWatcher boxes([&](HWND box, const SeenBox&) {
    testing::PostKey(::GetDlgItem(box, 202 /* Edit1 */), VK_ESCAPE);
    return true;
  });
  form->lvFiles->Select(0);
  ClickTool(1);
  ASSERT_TRUE(PumpUntil([&] { return boxes.Count() == 1; }, 10s));
  ChooseFromContextMenu(1);
  ASSERT_TRUE(PumpUntil([&] { return boxes.Count() == 2; }, 10s));
  DoubleClickRow(0);
  ASSERT_TRUE(PumpUntil([&] { return boxes.Count() == 3; }, 10s));
  PumpFor(200ms);
  for (const SeenBox& seen : boxes.Seen()) EXPECT_EQ(seen.Caption, "编辑文件");
  EXPECT_EQ(form->Jobs->Row(0).Input, "a.rm");
}

// The http handler of this test's private Wine prefix is the recorder beside this program.
class WebLinks : public MainWindow {
 protected:
  void SetUp() override {
    MainWindow::SetUp();
    log_ = ExeDir() + "opened_urls.txt";
    ::DeleteFileA(log_.c_str());
    const std::string command = "\"" + ExeDir() + "url_recorder.exe\" \"%1\"";
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec");
    ASSERT_EQ(::RegSetValueA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", REG_SZ, command.c_str(),
                             static_cast<DWORD>(command.size())),
              ERROR_SUCCESS);
  }
  std::string Opened() { return testing::ReadBytes(log_); }
  std::string log_;
};

TEST_F(WebLinks, ThirdTabReturnsToTheFirstAndOpensTheHomePageOnce) {
  RECT tab{};
  ::SendMessageA(form->pageControl->Handle(), TCM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&tab));
  testing::ClickAt(form->pageControl->Handle(), Centre(tab));
  ASSERT_TRUE(PumpUntil([&] { return !Opened().empty(); }, 15s));
  PumpFor(1s);
  EXPECT_EQ(Opened(), std::string(kHomePageUrl) + "\n");
  EXPECT_EQ(form->pageControl->ActivePageIndex(), 0);
  EXPECT_TRUE(form->cleaningPage->Visible());
  EXPECT_FALSE(form->homePage->Visible());

  // The help tab only shows its page.
  ::SendMessageA(form->pageControl->Handle(), TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&tab));
  testing::ClickAt(form->pageControl->Handle(), Centre(tab));
  PumpFor(300ms);
  EXPECT_EQ(form->pageControl->ActivePageIndex(), 1);
  EXPECT_TRUE(form->helpPage->Visible());
  EXPECT_FALSE(form->cleaningPage->Visible());
  EXPECT_EQ(Opened(), std::string(kHomePageUrl) + "\n");
}

TEST_F(WebLinks, BannerClickOpensTheSecondSite) {
  testing::ClickAt(form->bannerImage->Handle(), {100, 30});
  ASSERT_TRUE(PumpUntil([&] { return !Opened().empty(); }, 15s));
  EXPECT_EQ(Opened(), std::string(kBannerSiteUrl) + "\n");
  // The pointer over the banner is a hand.
  EXPECT_EQ(reinterpret_cast<HCURSOR>(::GetClassLongPtrA(form->bannerImage->Handle(), GCLP_HCURSOR)),
            ::LoadCursorA(nullptr, IDC_HAND));
}

}  // namespace
}  // namespace pelloran
