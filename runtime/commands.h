#pragma once
// Command sources that report through WM_COMMAND with a command id: toolbar buttons and
// pop-up menu items. The form hands such ids to DispatchCommand.

#include <functional>
#include <map>
#include <string>

#include <windows.h>
#include <commctrl.h>

#include "runtime/controls.h"

namespace pelloran {

// Maps command ids to handlers.
class TCommandMap {
 public:
  void Add(int id, std::function<void()> handler) { handlers_[id] = std::move(handler); }
  // Runs the handler of `id` through the application's exception handling; false if unknown.
  bool DispatchCommand(TObject* sender, int id);

 private:
  std::map<int, std::function<void()>> handlers_;
};

// A flat toolbar whose buttons show a caption and an image from an image list.
class TToolBar : public TControl {
 public:
  TToolBar(TForm& owner, HWND parent);
  ~TToolBar() override;
  // Images (a strip of 16 x 16 pictures) from a bitmap resource; transparent colour is magenta.
  void SetImages(const char* bitmapResource, int count);
  void AddButton(int commandId, const std::string& caption, int image);
  void SetButtonSize(int width, int height);
  RECT ButtonRect(int index) const;

 private:
  HIMAGELIST images_ = nullptr;
};

class TPopupMenu {
 public:
  TPopupMenu();
  TPopupMenu(const TPopupMenu&) = delete;
  TPopupMenu& operator=(const TPopupMenu&) = delete;
  ~TPopupMenu();
  void AddItem(int commandId, const std::string& caption);  // caption "-" is a separator
  HMENU Handle() const noexcept { return menu_; }
  // Shows the menu at a screen point; the chosen item's command reaches `window`.
  void Popup(HWND window, POINT screen);

 private:
  HMENU menu_;
};

}  // namespace pelloran
