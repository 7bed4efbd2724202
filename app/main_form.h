#pragma once
// The main window: the job list, the batch log, the gauge and the start button of the cleaning
// batch, the help page and the link to the vendor's site.

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/job_list.h"
#include "runtime/commands.h"
#include "runtime/controls.h"
#include "runtime/page_control.h"

namespace pelloran {

class TBanner;

// Command ids of the toolbar buttons and the context menu's items.
enum CommandId : int {
  kCmdAddFilesButton = 1001,
  kCmdEditFileButton,
  kCmdDeleteFileButton,
  kCmdClearListButton,
  kCmdAddFilesItem = 2001,
  kCmdEditFileItem,
  kCmdDeleteFileItem,
  kCmdMenuSeparator,
  kCmdClearListItem,
};

// The filter of the add-file dialog, "|" between descriptions and patterns.
inline constexpr char kAddFileFilter[] =
    "所有文件 (*.*)|*.*|RM文件(*.rm)|*.RM|RMVB(*.rmvb)|*.RMVB|RA(*.ra)|*.RA";

std::string MainWindowCaption();

class TMainForm : public TForm {
 public:
  TMainForm();
  ~TMainForm() override;

  // Creates the window and its components (FormCreate runs at the end).
  void Create();

  // Commands.
  void AddFilesClick();    // a file chosen in the open dialog becomes a row
  void EditFileClick();    // the edit-entry dialog for the selected row
  void DeleteFileClick();  // deletes the selected row
  void ClearListClick();   // deletes every row
  void btnStartClick();
  // A media file becomes a row; a folder adds the media files of its tree, with one line in the
  // log pane counting the other files left out. True when rows were added.
  bool AddFile(const std::string& path);
  bool AddFile(const std::wstring& path);
  // Several at once (a drop, the command line): the list is drawn and fitted once.
  void AddPaths(const std::vector<std::wstring>& paths);

  // Window events.
  void FormCreate();
  void PageControlChange();
  void BannerClick();
  void WMDropFiles(HDROP drop);

  // Components.
  std::unique_ptr<TPanel> bannerPanel;
  std::unique_ptr<TBanner> bannerImage;
  std::unique_ptr<TPageControl> pageControl;
  TPanel* cleaningPage = nullptr;
  TPanel* helpPage = nullptr;
  TPanel* homePage = nullptr;
  std::unique_ptr<TPanel> jobListPanel, logPanel, startPanel, toolBarPanel, helpBarPanel;
  std::unique_ptr<TToolBar> toolBar;
  std::unique_ptr<TListView> lvFiles;
  std::unique_ptr<TLabel> dropTipLabel;
  std::unique_ptr<TMemo> helpMemo;
  std::unique_ptr<TMemo> logMemo;
  std::unique_ptr<TGauge> ggProgress;
  std::unique_ptr<TButton> btnStart;
  std::unique_ptr<TTimer> monitorTimer;
  std::unique_ptr<TPopupMenu> pmFiles;

  std::unique_ptr<TJobList> Jobs;
  std::unique_ptr<TBatchRunner> Runner;

 protected:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void FormShow() override;
  void FormClose() override;

 private:
  void CreateBannerPanel();
  void CreateCleaningPage();
  void CreateHelpPage();
  void CreateFonts();
  bool AddFolder(const std::wstring& folder);
  // A line of the program's own in the log pane, on a line of its own.
  void AppendLogLine(const std::wstring& line);

  TCommandMap commands_;
  ScopedGdiObject font_;       // MS Sans Serif, 8 point
  ScopedGdiObject startFont_;  // 宋体, 11 point, bold
};

}  // namespace pelloran
