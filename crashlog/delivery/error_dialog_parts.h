#pragma once
// Pieces of the error dialog shared by its files: the detail pages and the profile access.

#include <windows.h>

#include <string>

#include "crashlog/delivery/dialog_look.h"
#include "crashlog/delivery/error_dialog_window.h"

namespace pelloran::crashlog {

// What a detail page needs of the dialog that shows it (all of it outlives the page).
struct TPageContext {
  const TErrorDialogData* Data = nullptr;
  const TDialogFonts* Fonts = nullptr;
  const TDialogBrushes* Brushes = nullptr;
  bool CustomLook = false;
  HWND Dialog = nullptr;  // the error dialog: Esc on a page goes there
  HINSTANCE Resources = nullptr;
};

// Page index -> template: 0 "TAB_MEMO" general, 1 "TAB_LIST" call stack, 2 "TAB_LIST1" modules,
// 3 "TAB_MEMO1" processor.
inline constexpr int kPageCount = 4;

// Creates the page for `index` as a child dialog of the tab control and fits it; nullptr when
// the template cannot be loaded.
HWND CreateDetailsPage(HWND tabs, int index, const TPageContext& context);
// Puts the page over the tab control's display area and sizes its content to it.
void FitDetailsPage(HWND tabs, HWND page);

// A "Coordinates" key of "CrashLog.ini" as an integer (its default when missing or not a number).
int ReadPlacementInt(const std::string& key, int fallback);
void WritePlacementInt(const std::string& key, int value);

}  // namespace pelloran::crashlog
