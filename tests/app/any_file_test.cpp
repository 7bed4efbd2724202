// What people keep their films in, given to the real window: folders, names outside the ANSI
// code page, long results. Files and names are made here.
#include "app/main_form.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <dlgs.h>
#include <shlobj.h>

#include "batch/batch_io.h"
#include "tests/support/form_fixture.h"
#include "tests/support/wide_files.h"

namespace pelloran {
namespace {

using namespace std::chrono_literals;
using testing::BoxWatcher;
using testing::kEmojiName;
using testing::kHangulName;
using testing::PumpFor;
using testing::PumpUntil;
using testing::SeenBox;
using testing::TempFolder;
using testing::WriteBytesW;

// A drop handle as the shell makes one for UTF-16 names.
HDROP MakeWideDrop(const std::vector<std::wstring>& paths) {
  size_t size = sizeof(DROPFILES) + sizeof(wchar_t);
  for (const std::wstring& p : paths) size += (p.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES));
  for (const std::wstring& p : paths) {
    memcpy(out, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
    out += p.size() + 1;
  }
  ::GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

class AnyFile : public testing::MainFormTest {
 protected:
  void Drop(const std::vector<std::wstring>& paths) {
    ::PostMessageW(form->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeWideDrop(paths)), 0);
    PumpFor(200ms);
  }

  std::vector<std::wstring> Inputs() {
    std::vector<std::wstring> rows;
    for (int i = 0; i < form->Jobs->Count(); ++i) rows.push_back(form->Jobs->Files(i).Input);
    return rows;
  }

  std::wstring Make(const std::wstring& relative) {
    const std::wstring path = root + relative;
    EXPECT_TRUE(WriteBytesW(path, "data")) << WideToAnsi(path);
    return path;
  }

  void Folder(const std::wstring& relative) { ASSERT_TRUE(::CreateDirectoryW((root + relative).c_str(), nullptr)); }

  TempFolder dir;
  const std::wstring root = AnsiToWide(dir.Path());
};

TEST_F(AnyFile, DroppedNamesOutsideTheCodePageAreListedAsTheyAre) {
  const std::wstring hangul = root + kHangulName + L".rm";
  const std::wstring emoji = root + kEmojiName + L".RMVB";
  const std::wstring gbk = AnsiToWide(dir / "\xB1\x5C.ra");  // a GBK name whose trail byte is "\"
  Drop({hangul, emoji, root + L"clip.avi", gbk});
  EXPECT_EQ(Inputs(), (std::vector<std::wstring>{hangul, emoji, gbk}));
  EXPECT_EQ(form->Jobs->Files(0).Output, root + L"Fix_" + kHangulName + L".rm");
  EXPECT_EQ(form->Jobs->Files(1).Output, root + L"Fix_" + kEmojiName + L".RMVB");
  EXPECT_EQ(form->Jobs->Row(2).Output, dir / "Fix_\xB1\x5C.ra");
  // The control itself holds the names: what the list shows.
  EXPECT_EQ(form->lvFiles->ItemTextW(0, 0), hangul);
  EXPECT_EQ(form->lvFiles->ItemTextW(1, 1), root + L"Fix_" + kEmojiName + L".RMVB");
}

TEST_F(AnyFile, ADroppedFolderAddsItsMediaTreeSortedAndCountsTheRest) {
  Folder(L"films");
  Folder(L"films\\Sub");
  Folder(L"films\\Tub");
  Folder(L"films\\empty");
  Make(L"films\\b.RM");
  Make(L"films\\A.rmvb");
  Make(L"films\\cover.jpg");
  Make(L"films\\Sub\\" + kHangulName + L".ra");
  Make(L"films\\Sub\\notes.txt");
  Make(L"films\\Tub\\" + kEmojiName + L".Rm");
  Make(L"films\\Tub\\c.rmvb2");
  Make(L"films\\a.rm");
  const std::wstring films = root + L"films";
  Drop({films, root + L"lonely.avi"});
  // Case-insensitive by full path: "a.rm" < "A.rmvb" < "b.RM" < "Sub\..." < "Tub\...".
  EXPECT_EQ(Inputs(), (std::vector<std::wstring>{films + L"\\a.rm", films + L"\\A.rmvb", films + L"\\b.RM",
                                                 films + L"\\Sub\\" + kHangulName + L".ra",
                                                 films + L"\\Tub\\" + kEmojiName + L".Rm"}));
  EXPECT_EQ(form->Jobs->Files(3).Output, films + L"\\Sub\\Fix_" + kHangulName + L".ra");
  // One line for the folder's other files; the lone .avi is dropped without a word.
  const std::wstring log = form->logMemo->TextW();
  const std::wstring line = L"文件夹“" + films + L"”中有 3 个非RM/RMVB/RA格式的文件，已跳过。\r\n";
  EXPECT_NE(log.find(line), std::wstring::npos) << WideToAnsi(log);
  EXPECT_EQ(log.find(L"lonely"), std::wstring::npos);
  EXPECT_EQ(log.find(L"文件夹"), log.rfind(L"文件夹")) << "one line for one folder";
}

TEST_F(AnyFile, AFolderOfMediaOnlyAddsWithoutALineAndAFolderNamedLikeMediaIsLookedInto) {
  Folder(L"clips.rm");
  Make(L"clips.rm\\x.ra");
  const std::string before = form->logMemo->Text();
  EXPECT_TRUE(form->AddFile(dir / "clips.rm"));  // the ANSI entry, as the crash tours use it
  EXPECT_EQ(Inputs(), std::vector<std::wstring>{root + L"clips.rm\\x.ra"});
  EXPECT_EQ(form->logMemo->Text(), before);
}

TEST_F(AnyFile, TheAddDialogTakesANameOutsideTheCodePage) {
  const std::wstring picked = Make(kEmojiName + L".rm");
  BoxWatcher dialogs([&](HWND box, const SeenBox&) {
    ::SetDlgItemTextW(box, cmb13, picked.c_str());
    ::SetDlgItemTextW(box, edt1, picked.c_str());
    testing::PressButton(box, IDOK);
    return true;
  });
  ::SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(kCmdAddFilesItem, 0), 0);
  ASSERT_TRUE(PumpUntil([&] { return form->Jobs->Count() == 1; }, 15s));
  EXPECT_EQ(Inputs(), std::vector<std::wstring>{picked});
}

TEST_F(AnyFile, TheResultColumnShowsItsTextWholeAtTheDefaultSize) {
  HWND list = form->lvFiles->Handle();
  RECT client{};
  ::GetClientRect(list, &client);
  auto textWidth = [&](const std::string& text) {
    return static_cast<int>(::SendMessageW(list, LVM_GETSTRINGWIDTHW, 0,
                                           reinterpret_cast<LPARAM>(AnsiToWide(text).c_str())));
  };
  auto columnsFitTheList = [&] {
    int sum = 0;
    for (int c = 0; c < 3; ++c) sum += form->lvFiles->ColumnWidth(c);
    return sum <= client.right;
  };
  // Long paths in both path columns, and the longest result there is.
  const std::string folder = "C:\\" + std::string(60, 'f') + "\\" + std::string(40, 'g') + "\\";
  ASSERT_TRUE(form->AddFile(folder + "movie.rmvb"));
  ASSERT_TRUE(form->AddFile("C:\\short.rm"));
  EXPECT_TRUE(columnsFitTheList());
  const std::string done = std::string(kStatusDonePrefix) + "-2147483648000";
  form->Jobs->SetStatus(1, done);
  // The list view pads a column's text by 6 pixels on each side.
  EXPECT_GE(form->lvFiles->ColumnWidth(2), textWidth(done) + 12);
  EXPECT_TRUE(columnsFitTheList()) << "the result column is within the list, no scrolling needed";
  EXPECT_GE(form->lvFiles->ColumnWidth(0), 60);

  // A narrower text in its place gives the room back; an empty list has the first layout.
  form->Jobs->SetStatus(1, kStatusWorking);
  EXPECT_LT(form->lvFiles->ColumnWidth(2), textWidth(done) + 12);
  EXPECT_GE(form->lvFiles->ColumnWidth(2), textWidth(kStatusWorking) + 12);
  form->Jobs->Clear();
  EXPECT_EQ(form->lvFiles->ColumnWidth(1), 320);
  EXPECT_EQ(form->lvFiles->ColumnWidth(2), 100);
}

}  // namespace
}  // namespace pelloran
