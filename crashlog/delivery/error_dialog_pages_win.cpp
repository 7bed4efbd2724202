// The detail pages of the error dialog: the general and processor texts in read-only memos, the
// call stack and the module list in list views whose column widths live in "CrashLog.ini".


#include <algorithm>
#include <memory>

#include <windows.h>
#include <commctrl.h>

#include "crashlog/delivery/error_dialog_parts.h"
#include "crashlog/delivery/error_dialog_rules.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/options/option_texts.h"

namespace pelloran::crashlog {

namespace {

constexpr const char* kPageTemplates[kPageCount] = {"TAB_MEMO", "TAB_LIST", "TAB_LIST1", "TAB_MEMO1"};
constexpr TCrashText kPageHeaderTexts[kPageCount] = {TCrashText::GeneralHeader, TCrashText::CallStackHeader,
                                                    TCrashText::ModulesHeader, TCrashText::CpuHeader};
constexpr const char* kListIconNames[4] = {"DLL", "BPL", "VCL", "PAS"};
constexpr int kCellBuffer = 256;
constexpr int kMostFittedWidth = 240;  // a long name ends in "..." rather than push the others away
constexpr int kHeaderMargin = 24;     // header text inset and room for its divider
constexpr int kCellMargin = 16;
constexpr int kIconWidth = 20;        // 16-pixel icon and its gap

enum : int { kGeneralPage = 0, kCallStackPage = 1, kModulesPage = 2, kCpuPage = 3 };

bool IsListPage(int index) { return index == kCallStackPage || index == kModulesPage; }

struct TPageSession {
  TPageContext Context;
  int Index = 0;
};

struct TColumn {
  TCrashText Title;
  int Format;
};
using enum TCrashText;
constexpr TColumn kCallStackColumns[6] = {{StackAddressColumn, LVCFMT_LEFT}, {StackModuleColumn, LVCFMT_LEFT},
                                          {StackUnitColumn, LVCFMT_LEFT},    {StackClassColumn, LVCFMT_LEFT},
                                          {StackProcedureColumn, LVCFMT_LEFT}, {StackLineColumn, LVCFMT_RIGHT}};
constexpr TColumn kModuleColumns[6] = {{ModuleHandleColumn, LVCFMT_LEFT},   {ModuleNameColumn, LVCFMT_LEFT},
                                       {ModuleDescriptionColumn, LVCFMT_LEFT}, {ModuleVersionColumn, LVCFMT_RIGHT},
                                       {ModuleSizeColumn, LVCFMT_RIGHT},   {ModulePathColumn, LVCFMT_LEFT}};

std::string ColumnKey(int page, int column) {
  return page == kCallStackPage ? CallStackColumnKey(column) : ModuleColumnKey(column);
}

// 16 by 16 icons with magenta as the transparent colour. Each page loads its own copies: adding a
// bitmap with a mask colour blackens those pixels in the bitmap itself.
HIMAGELIST MakeListIcons(HINSTANCE resources) {
  HIMAGELIST images = ::ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 4, 0);
  if (!images) return nullptr;
  for (const char* name : kListIconNames) {
    ScopedGdiObject bitmap(::LoadImageA(resources, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap || ::ImageList_AddMasked(images, static_cast<HBITMAP>(bitmap.get()), RGB(255, 0, 255)) < 0) {
      ::ImageList_Destroy(images);
      return nullptr;
    }
  }
  return images;
}

void AddRow(HWND list, int row, int icon, const std::array<std::string, 6>& cells) {
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = row;
  item.iImage = icon;
  item.pszText = const_cast<char*>(cells[0].c_str());
  const int index = static_cast<int>(::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  for (int column = 1; column < 6; ++column) {
    LVITEMA sub{};
    sub.iSubItem = column;
    sub.pszText = const_cast<char*>(cells[static_cast<std::size_t>(column)].c_str());
    ::SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&sub));
  }
}

void FillRows(HWND list, const TPageSession& session);

std::string CellText(HWND list, int row, int column) {
  char buffer[kCellBuffer] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = kCellBuffer;
  ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return buffer;
}

int StringWidth(HWND list, const char* text) {
  return static_cast<int>(::SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
}

// The width that shows a column's title and every cell whole: the text, the margins the list and
// its header draw around it, and the icon in the first column.
int FittedWidth(HWND list, int column) {
  char title[kCellBuffer] = {};
  LVCOLUMNA header{};
  header.mask = LVCF_TEXT;
  header.pszText = title;
  header.cchTextMax = kCellBuffer;
  ::SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&header));
  int width = StringWidth(list, title) + kHeaderMargin;
  const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    const int cell = StringWidth(list, CellText(list, row, column).c_str()) + kCellMargin + (column == 0 ? kIconWidth : 0);
    width = std::max(width, cell);
  }
  return width;
}

void FillList(HWND list, const TPageSession& session) {
  const TErrorDialogData& data = *session.Context.Data;
  ::SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  ::SendMessageA(list, LVM_SETBKCOLOR, 0, RGB(255, 255, 255));
  ::SendMessageA(list, LVM_SETTEXTBKCOLOR, 0, RGB(255, 255, 255));
  ::SendMessageA(list, LVM_SETTEXTCOLOR, 0, RGB(0, 0, 0));
  if (HIMAGELIST icons = MakeListIcons(session.Context.Resources))
    ::SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons));  // the list frees it

  const bool stack = session.Index == kCallStackPage;
  const TColumn* columns = stack ? kCallStackColumns : kModuleColumns;
  const std::array<int, 6>& widths = stack ? kCallStackColumnWidths : kModuleColumnWidths;
  for (int i = 0; i < 6; ++i) {
    const std::string& title = WindowTextOf(data.Options, columns[i].Title);
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = columns[i].Format;
    column.cx = widths[static_cast<std::size_t>(i)];
    column.pszText = const_cast<char*>(title.c_str());
    column.iSubItem = i;
    ::SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }

  FillRows(list, session);
  // Widths the user left are kept. The defaults suit an 8-point font; with the larger fixed font
  // of other charsets they would cut addresses and names short, so a column without a stored
  // width grows to fit its title and cells.
  for (int i = 0; i < 6; ++i) {
    const int stored = ReadPlacementInt(ColumnKey(session.Index, i), -1);
    const int width = stored >= 0 ? stored : std::min(FittedWidth(list, i), kMostFittedWidth);
    ::SendMessageA(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i),
                   MAKELPARAM(std::max(width, stored >= 0 ? 0 : widths[static_cast<std::size_t>(i)]), 0));
  }
}

void FillRows(HWND list, const TPageSession& session) {
  const TErrorDialogData& data = *session.Context.Data;
  int row = 0;
  if (session.Index == kCallStackPage) {
    for (const TCrashDebugInfo& entry : data.CallStack)
      if (ShowsInCallStackList(entry)) AddRow(list, row++, CallStackIcon(entry), CallStackCells(entry));
  } else {
    for (const TModuleRow& module : data.Modules)
      AddRow(list, row++, ModuleIcon(module.Name),
             {Hex8(static_cast<std::uint32_t>(module.Handle)), module.Name, module.Description,
              ShortVersion(module.Version), SizeInKb(module.FileSize), module.Folder});
  }
}

void SaveColumnWidths(HWND list, int page) {
  for (int i = 0; i < 6; ++i)
    WritePlacementInt(ColumnKey(page, i),
                      static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0)));
}


// The activated call stack row names a unit and line: a development environment may open it.
void ActivateStackRow(HWND list) {
  const int row = static_cast<int>(::SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0) return;
  const std::string line = CellText(list, row, 5);
  if (line.empty()) return;
  SendSourceLocationToIde(CellText(list, row, 2), ProfileInt(line, 0));
}

void InitPage(HWND page, TPageSession& session) {
  const TPageContext& context = session.Context;
  const TErrorDialogData& data = *context.Data;
  HWND header = ::GetDlgItem(page, kIdPageHeader);
  HWND content = ::GetDlgItem(page, kIdPageContent);
  ::SetWindowTextA(header, WindowTextOf(data.Options, kPageHeaderTexts[session.Index]).c_str());
  if (HFONT font = context.Fonts->DialogFont()) ::SendMessageA(header, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (HFONT font = context.Fonts->FixedFont()) ::SendMessageA(content, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (IsListPage(session.Index))
    FillList(content, session);
  else
    ::SetWindowTextA(content, (session.Index == kGeneralPage ? data.GeneralText : data.CpuText).c_str());
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* session = reinterpret_cast<TPageSession*>(::GetWindowLongPtrA(page, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      session = reinterpret_cast<TPageSession*>(lParam);
      ::SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(session));
      InitPage(page, *session);
      return FALSE;
    case WM_CTLCOLORSTATIC: {
      if (!session) return FALSE;
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, RGB(0, 0, 0));
      if (reinterpret_cast<HWND>(lParam) == ::GetDlgItem(page, kIdPageContent)) {
        ::SetBkMode(dc, OPAQUE);
        ::SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(session->Context.Brushes->WhiteBrush());
      }
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(session->Context.CustomLook ? session->Context.Brushes->GreyBrush()
                                                                     : ::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_CTLCOLORDLG:
      if (!session || !session->Context.CustomLook) return FALSE;
      return reinterpret_cast<INT_PTR>(session->Context.Brushes->GreyBrush());
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (session && session->Index == kCallStackPage && header->idFrom == kIdPageContent &&
          header->code == LVN_ITEMACTIVATE)
        ActivateStackRow(header->hwndFrom);
      return FALSE;
    }
    case WM_CLOSE:  // Esc in the memo closes its page's window: the dialog takes it as OK
    case WM_COMMAND:
      if (session && (message == WM_CLOSE || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)) {
        ::PostMessageA(session->Context.Dialog, WM_COMMAND, kIdOk, 0);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (session && IsListPage(session->Index)) SaveColumnWidths(::GetDlgItem(page, kIdPageContent), session->Index);
      return FALSE;
    case WM_NCDESTROY:
      delete session;
      ::SetWindowLongPtrA(page, DWLP_USER, 0);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

HWND CreateDetailsPage(HWND tabs, int index, const TPageContext& context) {
  if (index < 0 || index >= kPageCount) return nullptr;
  auto session = std::make_unique<TPageSession>(TPageSession{context, index});
  HWND page = ::CreateDialogParamA(context.Resources, kPageTemplates[index], tabs, PageProc,
                                   reinterpret_cast<LPARAM>(session.get()));
  if (!page) return nullptr;  // WM_NCDESTROY has not run: the session is still ours to free
  session.release();
  FitDetailsPage(tabs, page);
  ::ShowWindow(page, SW_SHOW);
  return page;
}

void FitDetailsPage(HWND tabs, HWND page) {
  if (!tabs || !page) return;
  RECT area{};
  ::GetWindowRect(tabs, &area);
  ::OffsetRect(&area, -area.left, -area.top);
  ::SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  area.left -= 3;
  area.top -= 1;
  ::MoveWindow(page, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
  ::MoveWindow(::GetDlgItem(page, kIdPageContent), area.left + 3, 20, area.right - area.left - 8,
               area.bottom - area.top - 24, TRUE);
}

int ReadPlacementInt(const std::string& key, int fallback) {
  return ProfileInt(ReadIniString(std::string(kPlacementFile), std::string(kPlacementSection), key,
                                  std::to_string(fallback)),
                    fallback);
}

void WritePlacementInt(const std::string& key, int value) {
  WriteIniString(std::string(kPlacementFile), std::string(kPlacementSection), key, std::to_string(value));
}

}  // namespace pelloran::crashlog
