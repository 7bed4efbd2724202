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

TMainForm::TMainForm() = default;
TMainForm::~TMainForm() = default;

void TMainForm::CreateFonts() {
  font_.reset(MakeFont("MS Sans Serif", 8, FW_NORMAL));
  startFont_.reset(MakeFont("宋体", 11, FW_BOLD));
}

void TMainForm::Create() {
  CreateFonts();
  CreateHandle(MainWindowCaption(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0,
               L::kClientWidth, L::kClientHeight);
  CreateBannerPanel();

  pageControl = std::make_unique<TPageControl>(*this, Handle());
  pageControl->SetFont(static_cast<HFONT>(font_.get()));
  pageControl->SetBounds(0, L::kBannerHeight, L::kClientWidth, L::kClientHeight - L::kBannerHeight);
  cleaningPage = &pageControl->AddPage(" 广告清除 ");
  helpPage = &pageControl->AddPage(" 使用说明 ");
  homePage = &pageControl->AddPage(" 软件主页 ");
  pageControl->OnChange = [this] { PageControlChange(); };

  CreateCleaningPage();
  CreateHelpPage();

  monitorTimer = std::make_unique<TTimer>(*this, kMonitorInterval);
  Jobs = std::make_unique<TJobList>(*lvFiles);
  Jobs->CreateColumns();
  Runner = std::make_unique<TBatchRunner>(*Jobs, *ggProgress, *logMemo, *btnStart, *monitorTimer);
  Jobs->OnRowsRemoving = [this](int row) { Runner->RowsRemoving(row); };

  commands_.Add(kCmdAddFilesButton, [this] { AddFilesClick(); });
  commands_.Add(kCmdEditFileButton, [this] { EditFileClick(); });
  commands_.Add(kCmdDeleteFileButton, [this] { DeleteFileClick(); });
  commands_.Add(kCmdClearListButton, [this] { ClearListClick(); });
  commands_.Add(kCmdAddFilesItem, [this] { AddFilesClick(); });
  commands_.Add(kCmdEditFileItem, [this] { EditFileClick(); });
  commands_.Add(kCmdDeleteFileItem, [this] { DeleteFileClick(); });
  commands_.Add(kCmdClearListItem, [this] { ClearListClick(); });

  CallEventHandler(this, [this] { FormCreate(); });
}

void TMainForm::CreateBannerPanel() {
  bannerPanel = std::make_unique<TPanel>(*this, Handle());
  bannerPanel->SetBounds(0, 0, L::kClientWidth, L::kBannerHeight);
  bannerImage = std::make_unique<TBanner>(*this, bannerPanel->Handle(), kResBannerGif);
  bannerImage->SetBounds(L::kBannerImage.Left, L::kBannerImage.Top, L::kBannerImage.Width,
                  L::kBannerImage.Height);
  bannerImage->OnClick = [this] { BannerClick(); };
}

void TMainForm::CreateCleaningPage() {
  HWND page = cleaningPage->Handle();
  const int width = ClientWidth(page);
  const int height = ClientHeight(page);
  HFONT font = static_cast<HFONT>(font_.get());

  // Upper block: toolbar, job list, tip.
  jobListPanel = std::make_unique<TPanel>(*this, page);
  jobListPanel->SetBounds(0, 0, width, L::kUpperBlockHeight);
  toolBarPanel = std::make_unique<TPanel>(*this, jobListPanel->Handle());
  toolBarPanel->SetBounds(0, 0, width, L::kToolBarHeight);
  toolBar = std::make_unique<TToolBar>(*this, toolBarPanel->Handle());
  toolBar->SetFont(font);
  toolBar->SetImages(kResToolbarImages, 4);
  toolBar->AddButton(kCmdAddFilesButton, "添加文件 ", 0);
  toolBar->AddButton(kCmdEditFileButton, "修改文件 ", 1);
  toolBar->AddButton(kCmdDeleteFileButton, "删除文件 ", 2);
  toolBar->AddButton(kCmdClearListButton, "清空列表 ", 3);
  toolBar->SetBounds(0, 0, width, L::kToolBarHeight);
  toolBar->SetButtonSize(L::kToolButtonWidth, L::kToolButtonHeight);

  const int listHeight = L::kUpperBlockHeight - L::kToolBarHeight - L::kTipLabelHeight;
  lvFiles = std::make_unique<TListView>(*this, jobListPanel->Handle());
  lvFiles->SetFont(font);
  lvFiles->SetBounds(0, L::kToolBarHeight, width, listHeight);
  lvFiles->OnDblClick = [this] { EditFileClick(); };

  dropTipLabel = std::make_unique<TLabel>(*this, jobListPanel->Handle(), DropTipText());
  dropTipLabel->SetFont(font);
  dropTipLabel->SetTextColor(kTeal);
  dropTipLabel->SetBounds(0, L::kToolBarHeight + listHeight, width, L::kTipLabelHeight);

  pmFiles = std::make_unique<TPopupMenu>();
  pmFiles->AddItem(kCmdAddFilesItem, "添加文件");
  pmFiles->AddItem(kCmdEditFileItem, "修改文件");
  pmFiles->AddItem(kCmdDeleteFileItem, "删除文件");
  pmFiles->AddItem(kCmdMenuSeparator, "-");
  pmFiles->AddItem(kCmdClearListItem, "清空列表");

  // Middle block: the batch log and the gauge.
  const int middleHeight = height - L::kUpperBlockHeight - L::kLowerBlockHeight;
  logPanel = std::make_unique<TPanel>(*this, page);
  logPanel->SetBounds(0, L::kUpperBlockHeight, width, middleHeight);
  logMemo = std::make_unique<TMemo>(*this, logPanel->Handle(), WS_VSCROLL | WS_HSCROLL);
  logMemo->SetFont(font);
  logMemo->SetTextColor(kMaroon);
  logMemo->SetBounds(0, 0, width, middleHeight - L::kGaugeHeight);
  logMemo->SetText(WelcomeLogText());
  ggProgress = std::make_unique<TGauge>(*this, logPanel->Handle());
  ggProgress->SetBounds(0, middleHeight - L::kGaugeHeight, width, L::kGaugeHeight);
  ggProgress->SetBarColor(kBlue);

  // Lower block: the start button.
  startPanel = std::make_unique<TPanel>(*this, page);
  startPanel->SetBounds(0, L::kUpperBlockHeight + middleHeight, width, L::kLowerBlockHeight);
  btnStart = std::make_unique<TButton>(*this, startPanel->Handle(), "==> 开始清除广告 <==");
  btnStart->SetFont(static_cast<HFONT>(startFont_.get()));
  btnStart->SetCaptionColor(kMaroon);
  btnStart->SetBounds(L::kStartButton.Left, L::kStartButton.Top, L::kStartButton.Width,
                      L::kStartButton.Height);
  btnStart->OnClick = [this] { btnStartClick(); };
}

void TMainForm::CreateHelpPage() {
  HWND page = helpPage->Handle();
  const int width = ClientWidth(page);
  helpBarPanel = std::make_unique<TPanel>(*this, page);
  helpBarPanel->SetBounds(0, 0, width, L::kHelpBarHeight);
  helpMemo = std::make_unique<TMemo>(*this, page, WS_VSCROLL | ES_READONLY);
  helpMemo->SetFont(static_cast<HFONT>(font_.get()));
  helpMemo->SetBounds(0, L::kHelpBarHeight, width, ClientHeight(page) - L::kHelpBarHeight);
  helpMemo->SetText(HelpText());
}

void TMainForm::FormCreate() { ::DragAcceptFiles(Handle(), TRUE); }

void TMainForm::FormShow() { pageControl->SetActivePageIndex(0); }

void TMainForm::FormClose() {
  // No tool outlives the window, and no partial output stays behind.
  Runner->WindowClosing();
  Runner->LogText.clear();
}

void TMainForm::AddFilesClick() {
  std::wstring path;
  if (ChooseFileToOpen(Handle(), kAddFileFilter, path)) AddFile(path);
}

bool TMainForm::AddFile(const std::string& path) {
  // An ANSI name that is a file keeps the code page's own rules for naming its output.
  const std::wstring wide = AnsiToWide(path);
  if (FolderExists(wide)) return AddFolder(wide);
  return Jobs->AddFile(path);
}

bool TMainForm::AddFile(const std::wstring& path) {
  if (FolderExists(path)) return AddFolder(path);
  return Jobs->AddFile(path);
}

void TMainForm::AddPaths(const std::vector<std::wstring>& paths) {
  JobListUpdate update(*Jobs);
  for (const std::wstring& path : paths) AddFile(path);
}

bool TMainForm::AddFolder(const std::wstring& folder) {
  FolderAdded added = Jobs->AddFolder(folder);
  if (added.OtherFiles > 0)
    AppendLogLine(LogLine(kMsgFolderOthersSkipped, {folder, std::to_wstring(added.OtherFiles)}));
  return added.Added > 0;
}

void TMainForm::AppendLogLine(const std::wstring& line) {
  const std::wstring text = logMemo->TextW();
  if (!text.empty() && text.back() != L'\n') logMemo->Append(std::wstring(L"\r\n"));
  logMemo->Append(line);
}

void TMainForm::EditFileClick() {
  if (lvFiles->Selected() < 0) return;
  TEditFileForm dialog(*this);
  dialog.ShowModal();
}

void TMainForm::DeleteFileClick() { Jobs->DeleteSelected(); }

void TMainForm::ClearListClick() { Jobs->Clear(); }

void TMainForm::btnStartClick() { Runner->btnStartClick(); }

void TMainForm::PageControlChange() {
  if (pageControl->ActivePageIndex() != 2) return;
  pageControl->SetActivePageIndex(0);
  ShellOpen(kHomePageUrl);
}

void TMainForm::BannerClick() { ShellOpen(kBannerSiteUrl); }

void TMainForm::WMDropFiles(HDROP drop) {
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

bool TMainForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
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
