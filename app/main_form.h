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
  kCmdBitBtn4 = 1001,  // add file
  kCmdBitBtn3,         // modify
  kCmdBitBtn2,         // delete
  kCmdBitBtn1,         // clear list
  kCmdN2 = 2001,       // add file
  kCmdN5,              // modify
  kCmdN3,              // delete
  kCmdN4,              // separator
  kCmdN1,              // clear list
};

// The filter of the add-file dialog, "|" between descriptions and patterns.
inline constexpr char kAddFileFilter[] =
    "所有文件 (*.*)|*.*|RM文件(*.rm)|*.RM|RMVB(*.rmvb)|*.RMVB|RA(*.ra)|*.RA";

std::string MainWindowCaption();

class TForm1 : public TForm {
 public:
  TForm1();
  ~TForm1() override;

  // Creates the window and its components (FormCreate runs at the end).
  void Create();

  // Commands.
  void BitBtn3Click();  // add file
  void ShowFrmEdt();    // modify the selected row
  void BitBtn2Click();  // delete the selected row
  void N1Click();       // clear the list
  void btnStartClick();
  // A media file becomes a row; a folder adds the media files of its tree, with one line in the
  // log pane counting the other files left out. True when rows were added.
  bool AddFile(const std::string& path);
  bool AddFile(const std::wstring& path);
  // Several at once (a drop, the command line): the list is drawn and fitted once.
  void AddPaths(const std::vector<std::wstring>& paths);

  // Window events.
  void FormCreate();
  void PageControl1Change();
  void RzMarqueeStatus1Click();
  void WMDropFiles(HDROP drop);

  // Components, named as on the form.
  std::unique_ptr<TPanel> Panel2;
  std::unique_ptr<TBanner> img1;
  std::unique_ptr<TPageControl> PageControl1;
  TPanel* TabSheet1 = nullptr;
  TPanel* TabSheet2 = nullptr;
  TPanel* TabSheet3 = nullptr;
  std::unique_ptr<TPanel> Panel4, Panel5, Panel6, Panel7, Panel8;
  std::unique_ptr<TToolBar> ToolBar1;
  std::unique_ptr<TListView> lvFiles;
  std::unique_ptr<TLabel> Label1;
  std::unique_ptr<TMemo> Memo1;
  std::unique_ptr<TMemo> Memo2;
  std::unique_ptr<TGauge> ggProgress;
  std::unique_ptr<TButton> btnStart;
  std::unique_ptr<TTimer> Timer1;
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
