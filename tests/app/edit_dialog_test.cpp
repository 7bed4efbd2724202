// The edit-entry dialog, opened from the main window and answered as a user would.
#include "app/edit_dialog.h"

#include <dlgs.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "batch/batch_runner.h"
#include "resources/resource_ids.h"
#include "tests/support/form_fixture.h"
#include "tests/support/wide_files.h"

namespace pelloran {
namespace {

using namespace std::chrono_literals;
using testing::BoxWatcher;
using testing::PumpFor;
using testing::PumpUntil;
using testing::SeenBox;
using testing::TempFolder;

RECT RectInClient(HWND dialog, int id) {
  RECT r{};
  ::GetWindowRect(::GetDlgItem(dialog, id), &r);
  ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

class EditDialog : public testing::MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    testing::MakeFile(dir / "movie.rm", "x", 10);
    ASSERT_TRUE(form->AddFile(dir / "movie.rm"));
    form->Jobs->SetStatus(0, kStatusFailed);
    form->lvFiles->Select(0);
  }

  // Opens the dialog through the modify command; `answer` deals with it (and with any box it
  // opens in turn); returns once the dialog and its boxes are closed.
  void Modify(const std::function<bool(HWND, const SeenBox&)>& answer) {
    BoxWatcher boxes(answer);
    ::SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(kCmdEditFileButton, 0), 0);
    PumpFor(200ms);
    seen = boxes.Seen();
  }

  static void Type(HWND dialog, int id, const std::string& text) {
    ::SetDlgItemTextA(dialog, id, text.c_str());
  }

  TempFolder dir;
  std::vector<SeenBox> seen;
};

TEST_F(EditDialog, LayoutCaptionAndTabOrder) {
  struct Found {
    RECT client{}, frame{};
    std::map<int, RECT> rects;
    std::vector<int> tabOrder;
    std::string edit1, edit2;
    LONG style = 0;
    HWND defaultButton = nullptr;
  } found;
  Modify([&](HWND box, const SeenBox&) {
    ::GetClientRect(box, &found.client);
    ::GetWindowRect(box, &found.frame);
    for (int id : {IDC_EDT_LABEL1, IDC_EDT_EDIT1, IDC_EDT_BUTTON2, IDC_EDT_LABEL2, IDC_EDT_EDIT2,
                   IDC_EDT_BUTTON3, IDC_EDT_BITBTN1, IDC_EDT_BITBTN2})
      found.rects[id] = RectInClient(box, id);
    HWND at = ::GetDlgItem(box, IDC_EDT_EDIT1);
    for (int i = 0; i < 4; ++i) {
      found.tabOrder.push_back(::GetDlgCtrlID(at));
      at = ::GetNextDlgTabItem(box, at, FALSE);
    }
    found.edit1 = testing::WindowText(::GetDlgItem(box, IDC_EDT_EDIT1));
    found.edit2 = testing::WindowText(::GetDlgItem(box, IDC_EDT_EDIT2));
    found.style = ::GetWindowLongA(box, GWL_STYLE);
    found.defaultButton = ::GetDlgItem(box, LOWORD(::SendMessageA(box, DM_GETDEFID, 0, 0)));
    testing::PostKey(::GetDlgItem(box, IDC_EDT_EDIT1), VK_ESCAPE);
    return true;
  });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Caption, "编辑文件");
  EXPECT_EQ(found.client.right, 452);
  EXPECT_EQ(found.client.bottom, 153);
  EXPECT_FALSE(found.style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  RECT owner{};
  ::GetWindowRect(form->Handle(), &owner);
  EXPECT_NEAR((found.frame.left + found.frame.right) / 2, (owner.left + owner.right) / 2, 1);
  EXPECT_NEAR((found.frame.top + found.frame.bottom) / 2, (owner.top + owner.bottom) / 2, 1);

  auto at = [&](int id, int x, int y, int w, int h) {
    const RECT& r = found.rects[id];
    EXPECT_EQ(r.left, x) << id;
    EXPECT_EQ(r.top, y) << id;
    if (w) {
      EXPECT_EQ(r.right - r.left, w) << id;
    }
    if (h) {
      EXPECT_EQ(r.bottom - r.top, h) << id;
    }
  };
  at(IDC_EDT_LABEL1, 20, 35, 0, 0);
  at(IDC_EDT_EDIT1, 84, 32, 317, 0);
  at(IDC_EDT_BUTTON2, 406, 32, 23, 22);
  at(IDC_EDT_LABEL2, 20, 72, 0, 0);
  at(IDC_EDT_EDIT2, 84, 69, 317, 0);
  at(IDC_EDT_BUTTON3, 406, 69, 25, 22);
  at(IDC_EDT_BITBTN1, 136, 112, 75, 25);
  at(IDC_EDT_BITBTN2, 248, 112, 75, 25);
  EXPECT_EQ(found.tabOrder, (std::vector<int>{IDC_EDT_EDIT1, IDC_EDT_EDIT2, IDC_EDT_BITBTN1, IDC_EDT_BITBTN2}));
  EXPECT_EQ(found.edit1, dir / "movie.rm");
  EXPECT_EQ(found.edit2, dir / "Fix_movie.rm");
}

TEST_F(EditDialog, EscapeLeavesTheRowAsItWas) {
  Modify([&](HWND box, const SeenBox&) {
    Type(box, IDC_EDT_EDIT1, "C:\\elsewhere.rm");
    Type(box, IDC_EDT_EDIT2, "C:\\out.rm");
    testing::PostKey(::GetDlgItem(box, IDC_EDT_EDIT1), VK_ESCAPE);
    return true;
  });
  JobEntry row = form->Jobs->Row(0);
  EXPECT_EQ(row.Input, dir / "movie.rm");
  EXPECT_EQ(row.Output, dir / "Fix_movie.rm");
  EXPECT_EQ(row.Status, kStatusFailed);
}

TEST_F(EditDialog, MissingInputWarnsClosesAndChangesNothing) {
  Modify([&](HWND box, const SeenBox& box_seen) {
    if (box_seen.Caption != "编辑文件") return false;  // the warning: OK
    Type(box, IDC_EDT_EDIT1, dir / "not-there.rm");
    Type(box, IDC_EDT_EDIT2, dir / "out.rm");
    testing::PostKey(::GetDlgItem(box, IDC_EDT_EDIT1), VK_RETURN);
    return true;
  });
  ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }, 1s) || seen.size() == 2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].Text, kMsgInputMissing);
  EXPECT_EQ(seen[1].Caption, kWarningCaption);
  EXPECT_EQ(seen[1].Icon, static_cast<UINT>(MB_ICONEXCLAMATION));
  JobEntry row = form->Jobs->Row(0);
  EXPECT_EQ(row.Input, dir / "movie.rm");
  EXPECT_EQ(row.Output, dir / "Fix_movie.rm");
}

TEST_F(EditDialog, AnOutputThatIsTheInputHoweverSpeltIsRefusedAndTheRowStays) {
  const std::string input = dir / "movie.rm";
  const std::string upper = dir / "MOVIE.RM";
  const std::string dotted = dir / ".\\movie.rm";
  const std::string linked = dir / "linked.rm";
  ASSERT_TRUE(::CreateHardLinkA(linked.c_str(), input.c_str(), nullptr));
  for (const std::string& output : {input, upper, dotted, linked}) {
    Modify([&](HWND box, const SeenBox& box_seen) {
      if (box_seen.Caption != "编辑文件") return false;  // the warning: OK
      Type(box, IDC_EDT_EDIT1, input);
      Type(box, IDC_EDT_EDIT2, output);
      testing::PostKey(::GetDlgItem(box, IDC_EDT_EDIT1), VK_RETURN);
      return true;
    });
    ASSERT_EQ(seen.size(), 2u) << output << (seen.empty() ? "" : " " + seen.back().Text);
    EXPECT_EQ(seen[1].Text, kMsgOutputIsInputEdit) << output;
    EXPECT_EQ(seen[1].Caption, kWarningCaption);
    EXPECT_EQ(form->Jobs->Row(0).Output, dir / "Fix_movie.rm") << output;
  }
  // Another file is taken.
  Modify([&](HWND box, const SeenBox& box_seen) {
    if (box_seen.Caption != "编辑文件") return false;
    Type(box, IDC_EDT_EDIT2, dir / "clean.rm");
    testing::PostKey(::GetDlgItem(box, IDC_EDT_EDIT1), VK_RETURN);
    return true;
  });
  EXPECT_EQ(form->Jobs->Row(0).Output, dir / "clean.rm");
}

TEST_F(EditDialog, AnExistingFileOfAnyTypeIsTakenAsTypedAndTheStatusStays) {
  testing::MakeFile(dir / "clip.avi", "x", 10);
  Modify([&](HWND box, const SeenBox&) {
    Type(box, IDC_EDT_EDIT1, dir / "clip.avi");
    testing::PostKey(::GetDlgItem(box, IDC_EDT_EDIT1), VK_RETURN);
    return true;
  });
  ASSERT_EQ(seen.size(), 1u);
  JobEntry row = form->Jobs->Row(0);
  EXPECT_EQ(row.Input, dir / "clip.avi");
  EXPECT_EQ(row.Output, dir / "Fix_movie.rm") << "the output is not derived again";
  EXPECT_EQ(row.Status, kStatusFailed);

  // An empty output is accepted as typed.
  Modify([&](HWND box, const SeenBox&) {
    Type(box, IDC_EDT_EDIT2, "");
    testing::PressButton(box, IDC_EDT_BITBTN1);
    return true;
  });
  EXPECT_EQ(form->Jobs->Row(0).Output, "");
}

TEST_F(EditDialog, BrowseButtonsUseTheirFilterAndFillTheBoxes) {
  testing::MakeFile(dir / "chosen.rmvb", "x", 10);
  HWND editDialog = nullptr;
  std::vector<std::vector<std::string>> filters;
  Modify([&](HWND box, const SeenBox& s) {
    if (s.Caption == "编辑文件") {
      editDialog = box;
      testing::PressButton(box, IDC_EDT_BUTTON2);
      return true;
    }
    // A file dialog: the open dialog first, then the save dialog.
    filters.push_back(testing::ComboItems(::GetDlgItem(box, cmb1)));
    const std::string pick = filters.size() == 1 ? dir / "chosen.rmvb" : dir / "saved.rmvb";
    ::SetDlgItemTextA(box, cmb13, pick.c_str());
    ::SetDlgItemTextA(box, edt1, pick.c_str());
    testing::PressButton(box, IDOK);
    if (filters.size() == 1) {
      testing::PressButton(editDialog, IDC_EDT_BUTTON3);
    } else {
      // Both boxes are filled now; confirm the dialog once the save dialog has closed.
      std::thread([editDialog] {
        while (::GetWindow(editDialog, GW_ENABLEDPOPUP) && ::GetWindow(editDialog, GW_ENABLEDPOPUP) != editDialog)
          ::Sleep(20);
        ::Sleep(300);
        testing::PressButton(editDialog, IDC_EDT_BITBTN1);
      }).detach();
    }
    return true;
  });
  ASSERT_TRUE(PumpUntil([&] { return form->Jobs->Row(0).Output == dir / "saved.rmvb"; }, 15s));
  ASSERT_EQ(filters.size(), 2u);
  const std::vector<std::string> expected{"所有文件 (*.*)", "RM文件(*.rm)", "RMVB(*rmvb)"};
  EXPECT_EQ(filters[0], expected);
  EXPECT_EQ(filters[1], expected);
  EXPECT_EQ(form->Jobs->Row(0).Input, dir / "chosen.rmvb");
}

TEST_F(EditDialog, BrowseButtonsLeaveTheFocusInTheTextBox) {
  HWND editDialog = nullptr;
  std::atomic<int> focusedAfterBrowsing{0};
  Modify([&](HWND box, const SeenBox& s) {
    if (s.Caption == "编辑文件") {
      editDialog = box;
      // A real mouse click on "...", posted as the mouse would post it.
      HWND button = ::GetDlgItem(box, IDC_EDT_BUTTON2);
      ::PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
      ::PostMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
      return true;
    }
    testing::PressButton(box, IDCANCEL);  // the file dialog
    std::thread([&focusedAfterBrowsing, editDialog] {
      // The file dialog disables the edit dialog while it is open.
      for (int i = 0; i < 200 && !::IsWindowEnabled(editDialog); ++i) ::Sleep(20);
      ::Sleep(300);
      GUITHREADINFO info{sizeof info};
      ::GetGUIThreadInfo(::GetWindowThreadProcessId(editDialog, nullptr), &info);
      focusedAfterBrowsing = ::GetDlgCtrlID(info.hwndFocus);
      testing::PostKey(::GetDlgItem(editDialog, IDC_EDT_EDIT1), VK_RETURN);
    }).detach();
    return true;
  });
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(focusedAfterBrowsing.load(), IDC_EDT_EDIT1);
  EXPECT_EQ(form->Jobs->Row(0).Input, dir / "movie.rm") << "Enter confirmed the unchanged dialog";
}

TEST_F(EditDialog, NamesOutsideTheCodePageAreShownAndTaken) {
  const std::wstring root = AnsiToWide(dir.Path());
  const std::wstring hangul = root + testing::kHangulName + L".rm";
  const std::wstring emoji = root + testing::kEmojiName + L".rmvb";
  ASSERT_TRUE(testing::WriteBytesW(hangul, "x"));
  ASSERT_TRUE(testing::WriteBytesW(emoji, "x"));
  ASSERT_TRUE(form->AddFile(hangul));
  form->lvFiles->Select(1);
  std::wstring shownInput, shownOutput;
  Modify([&](HWND box, const SeenBox&) {
    wchar_t text[512] = {};
    ::GetDlgItemTextW(box, IDC_EDT_EDIT1, text, 512);
    shownInput = text;
    ::GetDlgItemTextW(box, IDC_EDT_EDIT2, text, 512);
    shownOutput = text;
    ::SetDlgItemTextW(box, IDC_EDT_EDIT1, emoji.c_str());
    ::SetDlgItemTextW(box, IDC_EDT_EDIT2, (root + L"out-" + testing::kHangulName + L".rmvb").c_str());
    testing::PressButton(box, IDC_EDT_BITBTN1);
    return true;
  });
  EXPECT_EQ(shownInput, hangul);
  EXPECT_EQ(shownOutput, root + L"Fix_" + testing::kHangulName + L".rm");
  ASSERT_EQ(seen.size(), 1u) << "no warning: the file exists";
  EXPECT_EQ(form->Jobs->Files(1).Input, emoji);
  EXPECT_EQ(form->Jobs->Files(1).Output, root + L"out-" + testing::kHangulName + L".rmvb");
}

}  // namespace
}  // namespace pelloran
