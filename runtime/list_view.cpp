#include "runtime/controls.h"

#include <commctrl.h>

#include <algorithm>

#include "base/exceptions.h"
#include "runtime/wide_text.h"

namespace pelloran {

TListView::TListView(TForm& owner, HWND parent, DWORD extraStyle)
    : TControl(owner, parent, WC_LISTVIEWA,
               WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | extraStyle,
               WS_EX_CLIENTEDGE, "") {
  ListView_SetExtendedListViewStyle(Handle(), LVS_EX_FULLROWSELECT);
}

void TListView::AddColumn(const Column& column) {
  LVCOLUMNA c{};
  c.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
  c.fmt = column.Format;
  c.cx = column.Width;
  std::string title = column.Title;
  c.pszText = title.data();
  ::SendMessageA(Handle(), LVM_INSERTCOLUMNA, columns_, reinterpret_cast<LPARAM>(&c));
  ++columns_;
}

void TListView::SetColumnWidth(int column, int width) {
  ::SendMessageA(Handle(), LVM_SETCOLUMNWIDTH, column, width);
}

int TListView::ColumnWidth(int column) const {
  return static_cast<int>(::SendMessageA(Handle(), LVM_GETCOLUMNWIDTH, column, 0));
}

int TListView::Count() const {
  return static_cast<int>(::SendMessageA(Handle(), LVM_GETITEMCOUNT, 0, 0));
}

int TListView::AddItem(const std::string& caption, const std::vector<std::string>& subItems) {
  std::vector<std::wstring> wide;
  for (const std::string& s : subItems) wide.push_back(AnsiToWide(s));
  return AddItem(AnsiToWide(caption), wide);
}

int TListView::AddItem(const std::wstring& caption, const std::vector<std::wstring>& subItems) {
  // The control keeps its texts in UTF-16 whatever the window's kind: the W messages carry any
  // name as it is, where the A messages would turn what GBK lacks into "?".
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = Count();
  std::wstring text = caption;
  item.pszText = text.data();
  int row = static_cast<int>(::SendMessageW(Handle(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) throw Exception("Cannot add a row to the list");
  for (size_t i = 0; i < subItems.size(); ++i) SetItemText(row, static_cast<int>(i) + 1, subItems[i]);
  return row;
}

std::string TListView::ItemText(int row, int column) const { return WideToAnsi(ItemTextW(row, column)); }

std::wstring TListView::ItemTextW(int row, int column) const {
  // LVM_GETITEMTEXT returns the length copied; grow until the text fits with room to spare.
  for (int size = 512;; size *= 2) {
    std::wstring buffer(static_cast<size_t>(size), L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = size;
    int length = static_cast<int>(
        ::SendMessageW(Handle(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    if (length < size - 1 || size >= (1 << 20)) {
      buffer.resize(static_cast<size_t>(std::max(length, 0)));
      return buffer;
    }
  }
}

void TListView::SetItemText(int row, int column, const std::string& text) {
  SetItemText(row, column, AnsiToWide(text));
}

void TListView::SetItemText(int row, int column, const std::wstring& text) {
  LVITEMW item{};
  item.iSubItem = column;
  std::wstring copy = text;
  item.pszText = copy.data();
  ::SendMessageW(Handle(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

int TListView::StringWidth(const std::wstring& text) const {
  return static_cast<int>(::SendMessageW(Handle(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

void TListView::SetRedraw(bool redraw) {
  ::SendMessageW(Handle(), WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
  if (redraw) ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TListView::Delete(int row) { ::SendMessageA(Handle(), LVM_DELETEITEM, row, 0); }
void TListView::Clear() { ::SendMessageA(Handle(), LVM_DELETEALLITEMS, 0, 0); }

int TListView::Selected() const {
  return static_cast<int>(::SendMessageA(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TListView::Select(int row) {
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageA(Handle(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

bool TListView::OnNotify(NMHDR* header, LRESULT& result) {
  switch (header->code) {
    case NM_DBLCLK:
      if (OnDblClick) CallEventHandler(this, [this] { OnDblClick(); });
      result = 0;
      return true;
    case NM_RCLICK:
      if (OnContextPopup) {
        POINT p;
        ::GetCursorPos(&p);
        CallEventHandler(this, [this, p] { OnContextPopup(p); });
      }
      result = 0;
      return true;
    default:
      return false;
  }
}

}  // namespace pelloran
