#include "app/main_form.h"

#include <commctrl.h>
#include <commdlg.h>

#include "app/banner.h"
#include "app/edit_dialog.h"
#include "app/file_dialogs.h"
#include "app/help_text.h"
#include "batch/batch_io.h"
#include "batch/job_messages.h"
#include "batch/vendor.h"
#include "resources/main_window_layout.h"
#include "resources/resource_ids.h"
#include "runtime/wide_text.h"

namespace pelloran {

namespace L = layout;

namespace {

constexpr COLORREF kTeal = RGB(0, 128, 128);
constexpr COLORREF kMaroon = RGB(128, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

HFONT MakeFont(const char* face, int points, int weight) {
  ScopedGetDC screen(nullptr);
  int height = -::MulDiv(points, ::GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
  return ::CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

int ClientWidth(HWND window) {
  RECT r{};
  ::GetClientRect(window, &r);
  return r.right - r.left;
}

int ClientHeight(HWND window) {
  RECT r{};
  ::GetClientRect(window, &r);
  return r.bottom - r.top;
}

}  // namespace

std::string MainWindowCaption() {
  return std::string("Pelloran v2.10 批量处理版 - ") + kVendorHostUpper;
}

TForm1::TForm1() = default;
TForm1::~TForm1() = default;

void TForm1::CreateFonts() {
  font_.reset(MakeFont("MS Sans Serif", 8, FW_NORMAL));
  startFont_.reset(MakeFont("宋体", 11, FW_BOLD));
}

void TForm1::Create() {
  CreateFonts();
  CreateHandle(MainWindowCaption(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0,
               L::kClientWidth, L::kClientHeight);
  CreateBannerPanel();

  PageControl1 = std::make_unique<TPageControl>(*this, Handle());
  PageControl1->SetFont(static_cast<HFONT>(font_.get()));
  PageControl1->SetBounds(0, L::kBannerHeight, L::kClientWidth, L::kClientHeight - L::kBannerHeight);
  TabSheet1 = &PageControl1->AddPage(" 广告清除 ");
  TabSheet2 = &PageControl1->AddPage(" 使用说明 ");
  TabSheet3 = &PageControl1->AddPage(" 软件主页 ");
  PageControl1->OnChange = [this] { PageControl1Change(); };

  CreateCleaningPage();
  CreateHelpPage();

  Timer1 = std::make_unique<TTimer>(*this, kMonitorInterval);
  Jobs = std::make_unique<TJobList>(*lvFiles);
  Jobs->CreateColumns();
  Runner = std::make_unique<TBatchRunner>(*Jobs, *ggProgress, *Memo2, *btnStart, *Timer1);
  Jobs->OnRowsRemoving = [this](int row) { Runner->RowsRemoving(row); };

  commands_.Add(kCmdBitBtn4, [this] { BitBtn3Click(); });
  commands_.Add(kCmdBitBtn3, [this] { ShowFrmEdt(); });
  commands_.Add(kCmdBitBtn2, [this] { BitBtn2Click(); });
  commands_.Add(kCmdBitBtn1, [this] { N1Click(); });
  commands_.Add(kCmdN2, [this] { BitBtn3Click(); });
  commands_.Add(kCmdN5, [this] { ShowFrmEdt(); });
  commands_.Add(kCmdN3, [this] { BitBtn2Click(); });
  commands_.Add(kCmdN1, [this] { N1Click(); });

  CallEventHandler(this, [this] { FormCreate(); });
}

void TForm1::CreateBannerPanel() {
  Panel2 = std::make_unique<TPanel>(*this, Handle());
  Panel2->SetBounds(0, 0, L::kClientWidth, L::kBannerHeight);
  img1 = std::make_unique<TBanner>(*this, Panel2->Handle(), kResBannerGif);
  img1->SetBounds(L::kBannerImage.Left, L::kBannerImage.Top, L::kBannerImage.Width,
                  L::kBannerImage.Height);
  img1->OnClick = [this] { RzMarqueeStatus1Click(); };
}

void TForm1::CreateCleaningPage() {
  HWND page = TabSheet1->Handle();
  const int width = ClientWidth(page);
  const int height = ClientHeight(page);
  HFONT font = static_cast<HFONT>(font_.get());

  // Upper block: toolbar, job list, tip.
  Panel4 = std::make_unique<TPanel>(*this, page);
  Panel4->SetBounds(0, 0, width, L::kUpperBlockHeight);
  Panel7 = std::make_unique<TPanel>(*this, Panel4->Handle());
  Panel7->SetBounds(0, 0, width, L::kToolBarHeight);
  ToolBar1 = std::make_unique<TToolBar>(*this, Panel7->Handle());
  ToolBar1->SetFont(font);
  ToolBar1->SetImages(kResToolbarImages, 4);
  ToolBar1->AddButton(kCmdBitBtn4, "添加文件 ", 0);
  ToolBar1->AddButton(kCmdBitBtn3, "修改文件 ", 1);
  ToolBar1->AddButton(kCmdBitBtn2, "删除文件 ", 2);
  ToolBar1->AddButton(kCmdBitBtn1, "清空列表 ", 3);
  ToolBar1->SetBounds(0, 0, width, L::kToolBarHeight);
  ToolBar1->SetButtonSize(L::kToolButtonWidth, L::kToolButtonHeight);

  const int listHeight = L::kUpperBlockHeight - L::kToolBarHeight - L::kTipLabelHeight;
  lvFiles = std::make_unique<TListView>(*this, Panel4->Handle());
  lvFiles->SetFont(font);
  lvFiles->SetBounds(0, L::kToolBarHeight, width, listHeight);
  lvFiles->OnDblClick = [this] { ShowFrmEdt(); };

  Label1 = std::make_unique<TLabel>(*this, Panel4->Handle(), DropTipText());
  Label1->SetFont(font);
  Label1->SetTextColor(kTeal);
  Label1->SetBounds(0, L::kToolBarHeight + listHeight, width, L::kTipLabelHeight);

  pmFiles = std::make_unique<TPopupMenu>();
  pmFiles->AddItem(kCmdN2, "添加文件");
  pmFiles->AddItem(kCmdN5, "修改文件");
  pmFiles->AddItem(kCmdN3, "删除文件");
  pmFiles->AddItem(kCmdN4, "-");
  pmFiles->AddItem(kCmdN1, "清空列表");

  // Middle block: the batch log and the gauge.
  const int middleHeight = height - L::kUpperBlockHeight - L::kLowerBlockHeight;
  Panel5 = std::make_unique<TPanel>(*this, page);
  Panel5->SetBounds(0, L::kUpperBlockHeight, width, middleHeight);
  Memo2 = std::make_unique<TMemo>(*this, Panel5->Handle(), WS_VSCROLL | WS_HSCROLL);
  Memo2->SetFont(font);
  Memo2->SetTextColor(kMaroon);
  Memo2->SetBounds(0, 0, width, middleHeight - L::kGaugeHeight);
  Memo2->SetText(WelcomeLogText());
  ggProgress = std::make_unique<TGauge>(*this, Panel5->Handle());
  ggProgress->SetBounds(0, middleHeight - L::kGaugeHeight, width, L::kGaugeHeight);
  ggProgress->SetBarColor(kBlue);

  // Lower block: the start button.
  Panel6 = std::make_unique<TPanel>(*this, page);
  Panel6->SetBounds(0, L::kUpperBlockHeight + middleHeight, width, L::kLowerBlockHeight);
  btnStart = std::make_unique<TButton>(*this, Panel6->Handle(), "==> 开始清除广告 <==");
  btnStart->SetFont(static_cast<HFONT>(startFont_.get()));
  btnStart->SetCaptionColor(kMaroon);
  btnStart->SetBounds(L::kStartButton.Left, L::kStartButton.Top, L::kStartButton.Width,
                      L::kStartButton.Height);
  btnStart->OnClick = [this] { btnStartClick(); };
}

void TForm1::CreateHelpPage() {
  HWND page = TabSheet2->Handle();
  const int width = ClientWidth(page);
  Panel8 = std::make_unique<TPanel>(*this, page);
  Panel8->SetBounds(0, 0, width, L::kHelpBarHeight);
  Memo1 = std::make_unique<TMemo>(*this, page, WS_VSCROLL | ES_READONLY);
  Memo1->SetFont(static_cast<HFONT>(font_.get()));
  Memo1->SetBounds(0, L::kHelpBarHeight, width, ClientHeight(page) - L::kHelpBarHeight);
  Memo1->SetText(HelpText());
}

void TForm1::FormCreate() { ::DragAcceptFiles(Handle(), TRUE); }

void TForm1::FormShow() { PageControl1->SetActivePageIndex(0); }

void TForm1::FormClose() { Runner->LogText.clear(); }

void TForm1::BitBtn3Click() {
  std::wstring path;
  if (ChooseFileToOpen(Handle(), kAddFileFilter, path)) AddFile(path);
}

bool TForm1::AddFile(const std::string& path) {
  // An ANSI name that is a file keeps the code page's own rules for naming its output.
  const std::wstring wide = AnsiToWide(path);
  if (FolderExists(wide)) return AddFolder(wide);
  return Jobs->AddFile(path);
}

bool TForm1::AddFile(const std::wstring& path) {
  if (FolderExists(path)) return AddFolder(path);
  return Jobs->AddFile(path);
}

void TForm1::AddPaths(const std::vector<std::wstring>& paths) {
  JobListUpdate update(*Jobs);
  for (const std::wstring& path : paths) AddFile(path);
}

bool TForm1::AddFolder(const std::wstring& folder) {
  FolderAdded added = Jobs->AddFolder(folder);
  if (added.OtherFiles > 0)
    AppendLogLine(LogLine(kMsgFolderOthersSkipped, {folder, std::to_wstring(added.OtherFiles)}));
  return added.Added > 0;
}

void TForm1::AppendLogLine(const std::wstring& line) {
  const std::wstring text = Memo2->TextW();
  if (!text.empty() && text.back() != L'\n') Memo2->Append(std::wstring(L"\r\n"));
  Memo2->Append(line);
}

void TForm1::ShowFrmEdt() {
  if (lvFiles->Selected() < 0) return;
  TEditFileForm dialog(*this);
  dialog.ShowModal();
}

void TForm1::BitBtn2Click() { Jobs->DeleteSelected(); }

void TForm1::N1Click() { Jobs->Clear(); }

void TForm1::btnStartClick() { Runner->btnStartClick(); }

void TForm1::PageControl1Change() {
  if (PageControl1->ActivePageIndex() != 2) return;
  PageControl1->SetActivePageIndex(0);
  ShellOpen(kHomePageUrl);
}

void TForm1::RzMarqueeStatus1Click() { ShellOpen(kBannerSiteUrl); }

void TForm1::WMDropFiles(HDROP drop) {
  // The shell's drop handle is released however the loop ends.
  struct DropOwner {
    HDROP handle;
    ~DropOwner() { ::DragFinish(handle); }
  } owner{drop};
  // UTF-16 names, each fetched whole: any name and any length the file system allows.
  std::vector<std::wstring> paths;
  UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    if (length == 0) continue;
    std::wstring path(length + 1, L'\0');
    path.resize(::DragQueryFileW(drop, i, path.data(), length + 1));
    paths.push_back(std::move(path));
  }
  AddPaths(paths);
}

bool TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_DROPFILES:
      WMDropFiles(reinterpret_cast<HDROP>(wParam));
      result = 0;
      return true;
    case WM_COMMAND:
      // Toolbar buttons and menu items carry command ids of their own.
      if (HIWORD(wParam) == 0 || HIWORD(wParam) == BN_CLICKED) {
        if (commands_.DispatchCommand(this, LOWORD(wParam))) {
          result = 0;
          return true;
        }
      }
      return false;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == lvFiles->Handle()) {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (p.x == -1 && p.y == -1) ::GetCursorPos(&p);
        pmFiles->Popup(Handle(), p);
        result = 0;
        return true;
      }
      return false;
    default:
      return false;
  }
}

}  // namespace pelloran
