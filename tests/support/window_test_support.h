#pragma once
// Helpers for tests that drive real windows under Wine: pumping the message loop until a
// condition holds, answering message boxes the way a user would, temporary folders and files.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelloran::testing {

// Runs the application's message loop until `done` is true or `timeout` passes.
// Returns whether `done` became true. The timeout only keeps a broken test from hanging.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));
// Runs the message loop for a while.
void PumpFor(std::chrono::milliseconds duration);
// Removes whatever is left in this thread's queue (WM_QUIT included).
void DrainMessages();

struct SeenBox {
  std::string Caption;
  std::string Text;
  UINT Icon;  // MB_ICONEXCLAMATION, MB_ICONSTOP ... as far as it can be told (0 if not)
};

// Watches, on a thread of its own, for dialog boxes of this process (message boxes and other
// "#32770" windows; with `menusOnly`, pop-up menus "#32768" instead), records their caption and
// text, and presses their OK button (or lets `answer` deal with them).
class BoxWatcher {
 public:
  // `answer` is called on the watcher's thread for every new box; return true when it has dealt
  // with the box. Without it (or when it returns false) the box's default button is pressed.
  explicit BoxWatcher(std::function<bool(HWND box, const SeenBox& seen)> answer = nullptr,
                      bool menusOnly = false);
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  std::vector<SeenBox> Seen() const;
  size_t Count() const;
  size_t CountText(const std::string& text) const;

 private:
  void Run();
  std::function<bool(HWND, const SeenBox&)> answer_;
  bool menusOnly_;
  mutable std::mutex mutex_;
  std::vector<SeenBox> seen_;
  std::vector<HWND> handled_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Text of a window (GBK bytes).
std::string WindowText(HWND window);
// The message text of a message box.
std::string MessageBoxText(HWND box);
// Presses a dialog's button by its id, as a click would.
void PressButton(HWND dialog, int id);
// Posts a key press (down and up) to a window, as the keyboard would.
void PostKey(HWND window, UINT key);
// Clicks with the left button at a point of a window's client area.
void ClickAt(HWND window, POINT client);
// The second click of a double click (the controls act on this message).
void DoubleClickAt(HWND window, POINT client);
// The items of a combo box (for example a file dialog's type list).
std::vector<std::string> ComboItems(HWND combo);

// For a "user" thread inside a program whose dialogs it drives: the dialog of this caption once
// it is visible and has painted, or nullptr after 30 s. Nothing is sent to the dialog's thread
// before it is ready, so the user cannot deadlock it.
HWND WaitForDialog(const char* caption);
void WaitUntilGone(HWND window);
// Clicks in the middle of a dialog's control.
void ClickControl(HWND dialog, int id);
// The top-level window of that process with that caption, or nullptr after `timeout`.
HWND WaitForProcessWindow(DWORD process, const std::string& caption,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A folder of its own under the temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }  // ends in "\"
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// A file of `size` bytes that starts with `head` (the rest is zeros, sparse where it can be).
void MakeFile(const std::string& path, const std::string& head, long long size);
// Removes a file or an empty folder.
void Remove(const std::string& path);

}  // namespace pelloran::testing
