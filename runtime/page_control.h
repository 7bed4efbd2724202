#pragma once
// Tab control with one panel per page. The pages are siblings laid over the tab control's
// display area (children of the same parent), so their components notify the form directly.

#include <memory>
#include <string>
#include <vector>

#include "runtime/controls.h"

namespace pelloran {

class TPageControl : public TControl {
 public:
  TPageControl(TForm& owner, HWND parent);

  // Adds a page; its panel is placed over the display area.
  TPanel& AddPage(const std::string& caption);
  int PageCount() const noexcept { return static_cast<int>(pages_.size()); }
  TPanel& Page(int index) { return *pages_.at(static_cast<size_t>(index)); }
  int ActivePageIndex() const;
  // Shows the page (without OnChange, as the framework does for programmatic changes).
  void SetActivePageIndex(int index);
  // Lays the pages out again after the control moved.
  void Realign();
  RECT DisplayRect() const;  // in the parent's coordinates

  std::function<void()> OnChange;
  bool OnNotify(NMHDR* header, LRESULT& result) override;

 private:
  void ShowOnly(int index);
  std::vector<std::unique_ptr<TPanel>> pages_;
};

}  // namespace pelloran
