#pragma once
// A small set of window components over the Win32 controls: a form that owns its components and
// routes their notifications, and the components the program uses. Every event handler is called
// through CallEventHandler, so an exception escaping it reaches Application().HandleException.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "runtime/application.h"
#include "runtime/scoped_handle.h"

namespace pelloran {

class TForm;

class TControl : public TObject {
 public:
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;
  ~TControl() override;

  HWND Handle() const noexcept { return handle_; }
  int Id() const noexcept { return id_; }
  TForm& Owner() const noexcept { return owner_; }

  void SetBounds(int left, int top, int width, int height);
  RECT BoundsRect() const;  // in the parent's client coordinates
  bool Enabled() const;
  void SetEnabled(bool enabled);
  bool Visible() const;
  void SetVisible(bool visible);
  std::string Text() const;
  void SetText(const std::string& text);
  void SetFont(HFONT font);

  // Text colour for WM_CTLCOLOR*; CLR_INVALID keeps the system's.
  void SetTextColor(COLORREF color) noexcept { textColor_ = color; }
  COLORREF TextColor() const noexcept { return textColor_; }

  // Routed here by the form: return true when handled.
  virtual bool OnCommand(WORD /*code*/) { return false; }
  virtual bool OnNotify(NMHDR* /*header*/, LRESULT& /*result*/) { return false; }
  virtual HBRUSH OnControlColor(HDC dc);
  virtual bool OnDrawItem(const DRAWITEMSTRUCT& /*item*/) { return false; }

 protected:
  // A control made with `unicode` is a UTF-16 window: text sent to it in UTF-16 keeps every
  // character (an ANSI window gets such text through the ANSI code page).
  TControl(TForm& owner, HWND parent, const char* windowClass, DWORD style, DWORD exStyle,
           const std::string& text, bool unicode = false);

 private:
  TForm& owner_;
  HWND handle_ = nullptr;
  int id_ = 0;
  COLORREF textColor_ = CLR_INVALID;
};

// A plain container window; notifications of its children go to the form.
class TPanel : public TControl {
 public:
  TPanel(TForm& owner, HWND parent, DWORD extraStyle = 0);
};

class TLabel : public TControl {
 public:
  TLabel(TForm& owner, HWND parent, const std::string& text, DWORD extraStyle = SS_LEFT);
};

// A push button. A button given a text colour draws itself (push buttons ignore the colours
// of WM_CTLCOLORBTN).
class TButton : public TControl {
 public:
  TButton(TForm& owner, HWND parent, const std::string& caption, DWORD extraStyle = 0);
  std::function<void()> OnClick;
  void Click();  // as if the user pressed it
  void SetCaptionColor(COLORREF color);
  bool OnCommand(WORD code) override;
  bool OnDrawItem(const DRAWITEMSTRUCT& item) override;
};

// Multi-line text pane; a UTF-16 window, so that it can show any file name.
class TMemo : public TControl {
 public:
  TMemo(TForm& owner, HWND parent, DWORD extraStyle = 0);
  void Clear();
  // Appends text at the end (line ends are the caller's).
  void Append(const std::string& text);
  void Append(const std::wstring& text);
  std::wstring TextW() const;
};

// Progress gauge. MaxValue and Progress are exact 64-bit byte counts; the bar shows them scaled
// into the control's 32-bit range.
class TGauge : public TControl {
 public:
  TGauge(TForm& owner, HWND parent);
  int64_t MaxValue() const noexcept { return max_; }
  int64_t Progress() const noexcept { return progress_; }
  // A new maximum keeps Progress within 0..MaxValue (a maximum of 0 empties the gauge).
  void SetMaxValue(int64_t value);
  void SetProgress(int64_t value);
  void SetBarColor(COLORREF color);
  int ShownPosition() const;  // the control's own position, 0..ShownRange()
  int ShownRange() const;

 private:
  void Update();
  int64_t max_ = 0;
  int64_t progress_ = 0;
};

// Report-style list view with whole-row selection and one selected row.
class TListView : public TControl {
 public:
  TListView(TForm& owner, HWND parent, DWORD extraStyle = 0);
  struct Column {
    std::string Title;
    int Width;   // pixels
    int Format;  // LVCFMT_LEFT, LVCFMT_CENTER ...
  };
  void AddColumn(const Column& column);
  void SetColumnWidth(int column, int width);
  int ColumnWidth(int column) const;
  int Count() const;
  // Texts in the ANSI code page, or in UTF-16 (the control keeps UTF-16: any file name).
  int AddItem(const std::string& caption, const std::vector<std::string>& subItems);
  int AddItem(const std::wstring& caption, const std::vector<std::wstring>& subItems);
  std::string ItemText(int row, int column) const;  // column 0 is the caption
  std::wstring ItemTextW(int row, int column) const;
  void SetItemText(int row, int column, const std::string& text);
  void SetItemText(int row, int column, const std::wstring& text);
  // Width in pixels of a text in the list's font.
  int StringWidth(const std::wstring& text) const;
  // Off while many rows change at once.
  void SetRedraw(bool redraw);
  void Delete(int row);
  void Clear();
  int Selected() const;  // -1 when no row is selected
  void Select(int row);

  std::function<void()> OnDblClick;
  std::function<void(POINT screen)> OnContextPopup;
  bool OnNotify(NMHDR* header, LRESULT& result) override;

 private:
  int columns_ = 0;
};

// A timer in the manner of the framework's: the system timer runs only while the timer is enabled
// and has a handler; changing either starts it afresh.
class TTimer : public TObject {
 public:
  explicit TTimer(TForm& owner, UINT interval = 1000);
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;
  ~TTimer() override;

  bool Enabled() const noexcept { return enabled_; }
  void SetEnabled(bool enabled);
  UINT Interval() const noexcept { return interval_; }
  void SetInterval(UINT interval);
  bool HasHandler() const noexcept { return static_cast<bool>(onTimer_); }
  void SetOnTimer(std::function<void()> handler);
  // True while the system timer is set.
  bool Running() const noexcept { return running_; }

  void Fire();  // called by the form on WM_TIMER

 private:
  void UpdateTimer();
  TForm& owner_;
  UINT_PTR id_;
  UINT interval_;
  bool enabled_ = false;
  bool running_ = false;
  std::function<void()> onTimer_;
};

class TForm : public TObject {
 public:
  TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;
  ~TForm() override;

  // Creates the window with the given client size; centred on the desktop.
  void CreateHandle(const std::string& caption, DWORD style, DWORD exStyle, int clientWidth,
                    int clientHeight, HWND owner = nullptr);
  HWND Handle() const noexcept { return handle_; }
  void Show();
  void Close();

  // Components register themselves; ids route WM_COMMAND / WM_NOTIFY / WM_TIMER.
  int RegisterControl(TControl* control);
  void UnregisterControl(int id);
  UINT_PTR RegisterTimer(TTimer* timer);
  void UnregisterTimer(UINT_PTR id);

  // The window procedure of every form and panel of the framework.
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  // Messages not handled by the routing below; return true when handled.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  virtual void FormShow() {}
  virtual void FormClose() {}

 private:
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  TControl* FindControl(HWND child) const;

  HWND handle_ = nullptr;
  std::map<int, TControl*> controls_;
  std::map<UINT_PTR, TTimer*> timers_;
  int nextId_ = 100;
  UINT_PTR nextTimerId_ = 1;
  bool closed_ = false;
};

// Window class of forms and panels (registered once by TApplication::Initialize or on first use).
const char* FormWindowClass();

}  // namespace pelloran
