#pragma once
// Copying the report to the clipboard without waiting on a frozen main thread.

#include <windows.h>

#include <string>

namespace pelloran::crashlog {

// Copies `text` as plain text (CF_TEXT), with `owner` (the process's main window) as the
// clipboard's owner. While a freeze report holds the main thread stopped, a window of that thread
// cannot own it: a window of the calling thread does. And when the clipboard's present owner
// belongs to the stopped thread, emptying the clipboard would send that window a message and wait
// for it: nothing is copied then. False when nothing was copied.
bool CopyReportToClipboard(const std::string& text, HWND owner);

}  // namespace pelloran::crashlog
