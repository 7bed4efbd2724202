#include "runtime/controls.h"

#include <commctrl.h>

#include <algorithm>

#include "base/exceptions.h"
#include "runtime/wide_text.h"

namespace pelloran {

namespace {

constexpr char kFormClass[] = "PelloranForm";

HFONT DefaultGuiFont() { return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)); }

std::string WindowText(HWND window) {
  int length = ::GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int got = ::GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

}  // namespace

const char* FormWindowClass() {
  static const bool registered = [] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &TForm::WindowProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = ::LoadIconA(::GetModuleHandleA(nullptr), "MAINICON");
    wc.lpszClassName = kFormClass;
    return ::RegisterClassExA(&wc) != 0;
  }();
  (void)registered;
  return kFormClass;
}

// ---- TControl ----

TControl::TControl(TForm& owner, HWND parent, const char* windowClass, DWORD style, DWORD exStyle,
                   const std::string& text, bool unicode)
    : owner_(owner) {
  id_ = owner.RegisterControl(this);
  HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_));
  style |= WS_CHILD | WS_VISIBLE;
  handle_ = unicode ? ::CreateWindowExW(exStyle, AnsiToWide(windowClass).c_str(), AnsiToWide(text).c_str(),
                                        style, 0, 0, 10, 10, parent, id, ::GetModuleHandleW(nullptr), nullptr)
                    : ::CreateWindowExA(exStyle, windowClass, text.c_str(), style, 0, 0, 10, 10, parent,
                                        id, ::GetModuleHandleA(nullptr), nullptr);
  if (!handle_) {
    owner.UnregisterControl(id_);
    throw Exception("Cannot create a window of class " + std::string(windowClass));
  }
  if (std::string_view(windowClass) == kFormClass)
    ::SetWindowLongPtrA(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&owner));
  SetFont(DefaultGuiFont());
}

TControl::~TControl() {
  owner_.UnregisterControl(id_);
  if (handle_ && ::IsWindow(handle_)) ::DestroyWindow(handle_);
}

void TControl::SetBounds(int left, int top, int width, int height) {
  ::MoveWindow(handle_, left, top, width, height, TRUE);
}

RECT TControl::BoundsRect() const {
  RECT r{};
  ::GetWindowRect(handle_, &r);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(handle_), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool TControl::Enabled() const { return ::IsWindowEnabled(handle_) != FALSE; }
void TControl::SetEnabled(bool enabled) { ::EnableWindow(handle_, enabled ? TRUE : FALSE); }
bool TControl::Visible() const { return ::IsWindowVisible(handle_) != FALSE; }
void TControl::SetVisible(bool visible) { ::ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE); }
std::string TControl::Text() const { return WindowText(handle_); }
void TControl::SetText(const std::string& text) { ::SetWindowTextA(handle_, text.c_str()); }
void TControl::SetFont(HFONT font) {
  ::SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

HBRUSH TControl::OnControlColor(HDC dc) {
  if (textColor_ == CLR_INVALID) return nullptr;
  ::SetTextColor(dc, textColor_);
  return nullptr;
}

// ---- simple components ----

TPanel::TPanel(TForm& owner, HWND parent, DWORD extraStyle)
    : TControl(owner, parent, FormWindowClass(), WS_CLIPCHILDREN | extraStyle, WS_EX_CONTROLPARENT,
               "") {}

TLabel::TLabel(TForm& owner, HWND parent, const std::string& text, DWORD extraStyle)
    : TControl(owner, parent, "STATIC", extraStyle | SS_NOPREFIX, 0, text) {}

TButton::TButton(TForm& owner, HWND parent, const std::string& caption, DWORD extraStyle)
    : TControl(owner, parent, "BUTTON", WS_TABSTOP | BS_PUSHBUTTON | extraStyle, 0, caption) {}

void TButton::Click() {
  if (OnClick) OnClick();
}

void TButton::SetCaptionColor(COLORREF color) {
  SetTextColor(color);
  LONG style = ::GetWindowLongA(Handle(), GWL_STYLE);
  ::SetWindowLongA(Handle(), GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);
  ::InvalidateRect(Handle(), nullptr, TRUE);
}

bool TButton::OnDrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pressed = item.itemState & ODS_SELECTED;
  const bool disabled = item.itemState & ODS_DISABLED;
  ::FillRect(dc, &r, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  ::DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  std::string caption = Text();
  RECT text = r;
  if (pressed) ::OffsetRect(&text, 1, 1);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, disabled ? ::GetSysColor(COLOR_GRAYTEXT) : TextColor());
  ::DrawTextA(dc, caption.c_str(), -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (item.itemState & ODS_FOCUS) {
    ::InflateRect(&r, -4, -4);
    ::DrawFocusRect(dc, &r);
  }
  return true;
}

bool TButton::OnCommand(WORD code) {
  if (code != BN_CLICKED) return false;
  CallEventHandler(this, [this] { Click(); });
  return true;
}

TMemo::TMemo(TForm& owner, HWND parent, DWORD extraStyle)
    : TControl(owner, parent, "EDIT",
               WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN |
                   extraStyle,
               WS_EX_CLIENTEDGE, "", /*unicode=*/true) {
  // The default limit of an edit control (32 K characters) is far too small for a batch log.
  ::SendMessageA(Handle(), EM_SETLIMITTEXT, 0, 0);
}

void TMemo::Clear() { SetText(""); }

void TMemo::Append(const std::string& text) {
  int end = ::GetWindowTextLengthA(Handle());
  ::SendMessageA(Handle(), EM_SETSEL, end, end);
  ::SendMessageA(Handle(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TMemo::Append(const std::wstring& text) {
  int end = ::GetWindowTextLengthW(Handle());
  ::SendMessageW(Handle(), EM_SETSEL, end, end);
  ::SendMessageW(Handle(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring TMemo::TextW() const {
  int length = ::GetWindowTextLengthW(Handle());
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = ::GetWindowTextW(Handle(), text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

// ---- TGauge ----

TGauge::TGauge(TForm& owner, HWND parent) : TControl(owner, parent, PROGRESS_CLASSA, 0, 0, "") {
  Update();
}

void TGauge::SetMaxValue(int64_t value) {
  max_ = std::max<int64_t>(value, 0);
  progress_ = std::clamp<int64_t>(progress_, 0, max_);
  Update();
}

void TGauge::SetProgress(int64_t value) {
  progress_ = std::clamp<int64_t>(value, 0, max_);
  Update();
}

void TGauge::SetBarColor(COLORREF color) { ::SendMessageA(Handle(), PBM_SETBARCOLOR, 0, color); }

void TGauge::Update() {
  // Halve both figures until the maximum fits the control's signed 32-bit range.
  int64_t range = max_, position = progress_;
  while (range > 0x7FFFFFFF) {
    range >>= 1;
    position >>= 1;
  }
  ::SendMessageA(Handle(), PBM_SETRANGE32, 0, static_cast<LPARAM>(range));
  ::SendMessageA(Handle(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int TGauge::ShownPosition() const {
  return static_cast<int>(::SendMessageA(Handle(), PBM_GETPOS, 0, 0));
}

int TGauge::ShownRange() const {
  return static_cast<int>(::SendMessageA(Handle(), PBM_GETRANGE, FALSE, 0));
}

// ---- TTimer ----

TTimer::TTimer(TForm& owner, UINT interval)
    : owner_(owner), id_(owner.RegisterTimer(this)), interval_(interval) {}

TTimer::~TTimer() {
  if (running_) ::KillTimer(owner_.Handle(), id_);
  owner_.UnregisterTimer(id_);
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  UpdateTimer();
}

void TTimer::SetInterval(UINT interval) {
  if (interval == interval_) return;
  interval_ = interval;
  UpdateTimer();
}

void TTimer::SetOnTimer(std::function<void()> handler) {
  onTimer_ = std::move(handler);
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  if (running_) ::KillTimer(owner_.Handle(), id_);
  running_ = false;
  if (enabled_ && interval_ > 0 && onTimer_ && owner_.Handle())
    running_ = ::SetTimer(owner_.Handle(), id_, interval_, nullptr) != 0;
}

void TTimer::Fire() {
  if (!enabled_ || !onTimer_) return;
  // Call a copy: the handler may detach or replace itself while it runs.
  std::function<void()> handler = onTimer_;
  CallEventHandler(this, handler);
}

// ---- TForm ----

TForm::TForm() = default;

TForm::~TForm() {
  if (handle_ && ::IsWindow(handle_)) {
    ::SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
    ::DestroyWindow(handle_);
  }
}

void TForm::CreateHandle(const std::string& caption, DWORD style, DWORD exStyle, int clientWidth,
                         int clientHeight, HWND owner) {
  RECT r{0, 0, clientWidth, clientHeight};
  ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
  int width = r.right - r.left, height = r.bottom - r.top;
  // Centred on the whole screen (not the work area), as the framework's poDesktopCenter does.
  int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  // Forms belong to the application window, which carries the taskbar button.
  if (!owner) owner = Application().Handle();
  handle_ = ::CreateWindowExA(exStyle | WS_EX_CONTROLPARENT, FormWindowClass(), caption.c_str(),
                              style | WS_CLIPCHILDREN, left, top, width, height, owner, nullptr,
                              ::GetModuleHandleA(nullptr), nullptr);
  if (!handle_) throw Exception("Cannot create the window \"" + caption + "\"");
  ::SetWindowLongPtrA(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  if (!Application().MainFormHandle()) Application().SetMainFormHandle(handle_);
}

void TForm::Show() {
  HWND app = Application().Handle();
  if (app && handle_ == Application().MainFormHandle() && !::IsWindowVisible(app))
    ::ShowWindow(app, SW_SHOWNOACTIVATE);
  ::ShowWindow(handle_, SW_SHOW);
  ::UpdateWindow(handle_);
  CallEventHandler(this, [this] { FormShow(); });
}

void TForm::Close() { ::SendMessageA(handle_, WM_CLOSE, 0, 0); }

int TForm::RegisterControl(TControl* control) {
  int id = nextId_++;
  controls_[id] = control;
  return id;
}

void TForm::UnregisterControl(int id) { controls_.erase(id); }

UINT_PTR TForm::RegisterTimer(TTimer* timer) {
  UINT_PTR id = nextTimerId_++;
  timers_[id] = timer;
  return id;
}

void TForm::UnregisterTimer(UINT_PTR id) { timers_.erase(id); }

TControl* TForm::FindControl(HWND child) const {
  if (!child) return nullptr;
  auto it = controls_.find(::GetDlgCtrlID(child));
  return it != controls_.end() && it->second->Handle() == child ? it->second : nullptr;
}

bool TForm::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT TForm::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  bool handled = false;
  CallEventHandler(this, [&] { handled = HandleMessage(message, wParam, lParam, result); });
  if (handled) return result;

  switch (message) {
    case WM_COMMAND:
      if (TControl* c = FindControl(reinterpret_cast<HWND>(lParam)))
        if (c->OnCommand(HIWORD(wParam))) return 0;
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (TControl* c = FindControl(header->hwndFrom))
        if (c->OnNotify(header, result)) return result;
      break;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (TControl* c = FindControl(item->hwndItem))
        if (c->OnDrawItem(*item)) return TRUE;
      break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
      if (TControl* c = FindControl(reinterpret_cast<HWND>(lParam))) {
        LRESULT def = ::DefWindowProcA(handle_, message, wParam, lParam);
        c->OnControlColor(reinterpret_cast<HDC>(wParam));
        return def;
      }
      break;
    case WM_TIMER: {
      auto it = timers_.find(wParam);
      if (it != timers_.end()) {
        it->second->Fire();
        return 0;
      }
      break;
    }
    case WM_SYSCOMMAND:
      // The main form minimises the application: its window takes the taskbar button.
      if ((wParam & 0xFFF0) == SC_MINIMIZE && handle_ == Application().MainFormHandle() &&
          Application().Handle()) {
        Application().Minimize();
        return 0;
      }
      break;
    case WM_CLOSE:
      if (!closed_) {
        closed_ = true;
        CallEventHandler(this, [this] { FormClose(); });
      }
      ::DestroyWindow(handle_);
      return 0;
    case WM_DESTROY:
      if (Application().MainFormHandle() == handle_) {
        Application().SetMainFormHandle(nullptr);
        ::PostQuitMessage(0);
      }
      break;
    case WM_NCDESTROY:
      ::SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
      handle_ = nullptr;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(handle_, message, wParam, lParam);
}

LRESULT CALLBACK TForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = reinterpret_cast<TForm*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!form) return ::DefWindowProcA(window, message, wParam, lParam);
  if (form->handle_ == window) return form->Dispatch(message, wParam, lParam);
  // A panel: its children's notifications belong to the form.
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CONTEXTMENU:
    case WM_DRAWITEM:
      return form->Dispatch(message, wParam, lParam);
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace pelloran
