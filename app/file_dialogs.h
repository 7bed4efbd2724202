#pragma once
// The standard open and save dialogs. Filters are written "description|pattern|...".

#include <windows.h>

#include <string>

namespace pelloran {

// The filter with its "|" separators turned into the zero bytes the dialogs expect ("|" bytes
// that are the second half of a double-byte character stay as they are).
std::string DialogFilter(const std::string& filter);

// One file, read-only box hidden, no initial folder, default extension or title. The path comes
// in UTF-16: any name the file system allows.
bool ChooseFileToOpen(HWND owner, const std::string& filter, std::wstring& path);
// Same for saving; an existing file is taken without asking.
bool ChooseFileToSave(HWND owner, const std::string& filter, std::wstring& path);

}  // namespace pelloran
