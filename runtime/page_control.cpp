#include "runtime/page_control.h"

#include <commctrl.h>

namespace pelloran {

TPageControl::TPageControl(TForm& owner, HWND parent)
    : TControl(owner, parent, WC_TABCONTROLA, WS_TABSTOP | WS_CLIPSIBLINGS, 0, "") {}

TPanel& TPageControl::AddPage(const std::string& caption) {
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  std::string text = caption;
  item.pszText = text.data();
  ::SendMessageA(Handle(), TCM_INSERTITEMA, pages_.size(), reinterpret_cast<LPARAM>(&item));
  pages_.push_back(std::make_unique<TPanel>(Owner(), ::GetParent(Handle())));
  Realign();
  ShowOnly(ActivePageIndex());
  return *pages_.back();
}

int TPageControl::ActivePageIndex() const {
  return static_cast<int>(::SendMessageA(Handle(), TCM_GETCURSEL, 0, 0));
}

void TPageControl::SetActivePageIndex(int index) {
  ::SendMessageA(Handle(), TCM_SETCURSEL, index, 0);
  ShowOnly(index);
}

RECT TPageControl::DisplayRect() const {
  RECT r = BoundsRect();
  ::SendMessageA(Handle(), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  return r;
}

void TPageControl::Realign() {
  RECT r = DisplayRect();
  for (auto& page : pages_) {
    ::SetWindowPos(page->Handle(), HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOACTIVATE);
  }
}

void TPageControl::ShowOnly(int index) {
  for (size_t i = 0; i < pages_.size(); ++i)
    pages_[i]->SetVisible(static_cast<int>(i) == index);
}

bool TPageControl::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->code != TCN_SELCHANGE) return false;
  ShowOnly(ActivePageIndex());
  if (OnChange) CallEventHandler(this, [this] { OnChange(); });
  result = 0;
  return true;
}

}  // namespace pelloran
