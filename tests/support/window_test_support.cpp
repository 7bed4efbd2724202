#include "tests/support/window_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "runtime/application.h"
#include "runtime/wide_text.h"

namespace pelloran::testing {

namespace {

// ctest tells each test program whether it holds the display lock (PELLORAN_DISPLAY_LOCK, set by
// pelloran_add_test). A window test without it would share the display and the foreground with
// the next window test and fail now and then; stop it at once instead, saying why.
void RequireDisplayLock() {
  static const bool checked = [] {
    const char* lock = std::getenv("PELLORAN_DISPLAY_LOCK");
    if (lock != nullptr && std::string(lock) == "0") {
      std::fprintf(stderr, "This test opens windows: add it with USES_DISPLAY "
                           "(pelloran_add_test in cmake/PelloranTargets.cmake).\n");
      std::fflush(stderr);
      ::ExitProcess(3);
    }
    return true;
  }();
  (void)checked;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  RequireDisplayLock();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Application().ProcessMessages();
  }
  return true;
}

void PumpFor(std::chrono::milliseconds duration) {
  const auto until = std::chrono::steady_clock::now() + duration;
  PumpUntil([&] { return std::chrono::steady_clock::now() >= until; }, duration * 2);
}

void DrainMessages() {
  RequireDisplayLock();
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) ::DispatchMessageA(&msg);
  }
}

std::string WindowText(HWND window) {
  char buffer[4096] = {};
  ::GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

std::string MessageBoxText(HWND box) {
  // The text is the message box's static with id 0xFFFF; otherwise take the longest static.
  if (HWND text = ::GetDlgItem(box, 0xFFFF)) return WindowText(text);
  std::string best;
  for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    char cls[32] = {};
    ::GetClassNameA(child, cls, sizeof cls);
    if (std::string(cls) == "Static") {
      std::string t = WindowText(child);
      if (t.size() > best.size()) best = t;
    }
  }
  return best;
}

void PressButton(HWND dialog, int id) {
  HWND button = ::GetDlgItem(dialog, id);
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void PostKey(HWND window, UINT key) {
  ::PostMessageA(window, WM_KEYDOWN, key, 1);
  ::PostMessageA(window, WM_KEYUP, key, 0xC0000001);
}

void ClickAt(HWND window, POINT client) {
  LPARAM at = MAKELPARAM(client.x, client.y);
  ::SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageA(window, WM_LBUTTONUP, 0, at);
}

void ClickControl(HWND dialog, int id) {
  HWND control = ::GetDlgItem(dialog, id);
  RECT r{};
  ::GetClientRect(control, &r);
  ClickAt(control, {r.right / 2, r.bottom / 2});
}

HWND WaitForDialog(const char* caption) {
  for (int i = 0; i < 1500; ++i) {
    // The caption is matched without a message to the dialog's thread.
    if (HWND window = ::FindWindowA("#32770", caption)) {
      RECT pending{};
      if (::IsWindowVisible(window) && !::GetUpdateRect(window, &pending, FALSE)) return window;
    }
    ::Sleep(20);
  }
  return nullptr;
}

void WaitUntilGone(HWND window) {
  for (int i = 0; i < 1500 && ::IsWindow(window); ++i) ::Sleep(20);
}

namespace {

struct TProcessWindowSearch {
  DWORD process;
  const std::string& caption;
  HWND found = nullptr;
};

BOOL CALLBACK MatchProcessWindow(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<TProcessWindowSearch*>(lParam);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == search->process && WindowText(window) == search->caption) search->found = window;
  return search->found == nullptr;
}

}  // namespace

HWND WaitForProcessWindow(DWORD process, const std::string& caption, std::chrono::milliseconds timeout) {
  TProcessWindowSearch search{process, caption};
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ::EnumWindows(&MatchProcessWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found || std::chrono::steady_clock::now() >= until) return search.found;
    ::Sleep(50);
  }
}

void DoubleClickAt(HWND window, POINT client) {
  LPARAM at = MAKELPARAM(client.x, client.y);
  ::SendMessageA(window, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  ::SendMessageA(window, WM_LBUTTONUP, 0, at);
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  int count = static_cast<int>(::SendMessageA(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[1024] = {};
    ::SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items.emplace_back(text);
  }
  return items;
}

namespace {

struct FindBoxes {
  DWORD process;
  bool menus;
  std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM lParam) {
  auto* find = reinterpret_cast<FindBoxes*>(lParam);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid != find->process || !::IsWindowVisible(window)) return TRUE;
  char cls[16] = {};
  ::GetClassNameA(window, cls, sizeof cls);
  if (std::string(cls) == (find->menus ? "#32768" : "#32770")) find->boxes.push_back(window);
  return TRUE;
}

UINT IconOf(HWND box) {
  // The box shows the system's shared icon in a static picture control.
  HICON shown = nullptr;
  for (HWND child = ::GetWindow(box, GW_CHILD); child && !shown; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if ((::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      shown = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
  }
  if (!shown) return 0;
  if (shown == ::LoadIconA(nullptr, IDI_EXCLAMATION)) return MB_ICONEXCLAMATION;
  if (shown == ::LoadIconA(nullptr, IDI_HAND)) return MB_ICONSTOP;
  if (shown == ::LoadIconA(nullptr, IDI_ASTERISK)) return MB_ICONINFORMATION;
  if (shown == ::LoadIconA(nullptr, IDI_QUESTION)) return MB_ICONQUESTION;
  return 0;
}

}  // namespace

BoxWatcher::BoxWatcher(std::function<bool(HWND, const SeenBox&)> answer, bool menusOnly)
    : answer_(std::move(answer)), menusOnly_(menusOnly), thread_([this] { Run(); }) {
  RequireDisplayLock();
}

BoxWatcher::~BoxWatcher() {
  stop_ = true;
  thread_.join();
}

void BoxWatcher::Run() {
  while (!stop_) {
    FindBoxes find{::GetCurrentProcessId(), menusOnly_, {}};
    ::EnumWindows(&CollectBox, reinterpret_cast<LPARAM>(&find));
    for (HWND box : find.boxes) {
      {
        std::lock_guard lock(mutex_);
        if (std::find(handled_.begin(), handled_.end(), box) != handled_.end()) continue;
      }
      // Let the box finish painting its text before it is read.
      ::Sleep(50);
      SeenBox seen{WindowText(box), MessageBoxText(box), IconOf(box)};
      {
        std::lock_guard lock(mutex_);
        handled_.push_back(box);
        seen_.push_back(seen);
      }
      if (!answer_ || !answer_(box, seen)) {
        int id = ::GetDlgItem(box, IDOK) ? IDOK : IDCANCEL;
        PressButton(box, id);
      }
    }
    // A window handle can be reused once its box is gone.
    {
      std::lock_guard lock(mutex_);
      std::erase_if(handled_, [](HWND h) { return !::IsWindow(h); });
    }
    ::Sleep(20);
  }
}

std::vector<SeenBox> BoxWatcher::Seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

size_t BoxWatcher::Count() const {
  std::lock_guard lock(mutex_);
  return seen_.size();
}

size_t BoxWatcher::CountText(const std::string& text) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const SeenBox& s : seen_) n += s.Text == text;
  return n;
}

TempFolder::TempFolder() {
  char base[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, base);
  static int counter = 0;
  for (;;) {
    path_ = std::string(base) + "pelloran-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++counter) + "\\";
    if (::CreateDirectoryA(path_.c_str(), nullptr)) break;
  }
}

namespace {

// In UTF-16: tests make files named outside the ANSI code page too.
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path + L"\\");
      else
        ::DeleteFileW(path.c_str());
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

TempFolder::~TempFolder() { RemoveTree(AnsiToWide(path_)); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string ReadBytes(const std::string& path) {
  std::string data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  std::fclose(f);
  return data;
}

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFile(const std::string& path, const std::string& head, long long size) {
  HANDLE f = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  std::string bytes = head;
  if (static_cast<long long>(bytes.size()) < size && size <= (1 << 20))
    bytes.resize(static_cast<size_t>(size), '.');
  ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  LARGE_INTEGER at;
  at.QuadPart = size;
  ::SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
  ::SetEndOfFile(f);
  ::CloseHandle(f);
}

void Remove(const std::string& path) {
  if (!::DeleteFileA(path.c_str())) ::RemoveDirectoryA(path.c_str());
}

}  // namespace pelloran::testing
