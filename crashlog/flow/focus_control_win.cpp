// The focused control's class name and text for a report (ExceptNotify's params).

#include <windows.h>

#include <cstring>
#include <string>

#include "base/ansi_path.h"
#include "crashlog/capture/freeze.h"
#include "crashlog/flow/pipeline.h"
#include "crashlog/machine/own_foreground_window.h"

namespace pelloran::crashlog {

namespace {

bool ClassNameHoldsEdit(const std::string& className) {
  return AsciiUpper(className).find("EDIT") != std::string::npos;
}

}  // namespace

void CaptureFocusControl(std::string& className, std::string& text) {
  className.clear();
  text.clear();
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  // Only this program's own window: another program's focused text is not ours to report.
  HWND foreground = OwnForegroundWindow();
  const DWORD owner = foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
  if (owner == 0 || !::GetGUIThreadInfo(owner, &info) || info.hwndFocus == nullptr) return;
  char name[257] = {};
  ::GetClassNameA(info.hwndFocus, name, sizeof name);
  className = name;
  char buffer[257] = {};
  // A window of another thread is asked with a time limit (it may not answer); one of the thread
  // that a freeze report holds stopped is not asked at all.
  DWORD_PTR length = 0;
  if (owner == ::GetCurrentThreadId())
    length = static_cast<DWORD_PTR>(::GetWindowTextA(info.hwndFocus, buffer, sizeof buffer));
  else if (BelongsToFrozenThread(info.hwndFocus) ||
           !::SendMessageTimeoutA(info.hwndFocus, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                                  SMTO_BLOCK | SMTO_ABORTIFHUNG, 200, &length))
    length = 0;
  text.assign(buffer, std::strlen(buffer));
  const bool password = ClassNameHoldsEdit(className) &&
                        (::GetWindowLongA(info.hwndFocus, GWL_STYLE) & ES_PASSWORD) != 0;
  if (password) text.assign(text.size(), '*');
}

}  // namespace pelloran::crashlog
