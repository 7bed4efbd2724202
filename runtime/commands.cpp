#include "runtime/commands.h"

#include <commctrl.h>

namespace pelloran {

bool TCommandMap::DispatchCommand(TObject* sender, int id) {
  auto it = handlers_.find(id);
  if (it == handlers_.end()) return false;
  CallEventHandler(sender, it->second);
  return true;
}

TToolBar::TToolBar(TForm& owner, HWND parent)
    : TControl(owner, parent, TOOLBARCLASSNAMEA,
               TBSTYLE_FLAT | TBSTYLE_LIST | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN |
                   TBSTYLE_TOOLTIPS,
               0, "") {
  ::SendMessageA(Handle(), TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
}

TToolBar::~TToolBar() {
  if (images_) ImageList_Destroy(images_);
}

void TToolBar::SetImages(const char* bitmapResource, int count) {
  HIMAGELIST list = ImageList_LoadImageA(::GetModuleHandleA(nullptr), bitmapResource, 16, count,
                                         RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
  if (!list) return;
  if (images_) ImageList_Destroy(images_);
  images_ = list;
  ::SendMessageA(Handle(), TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
}

void TToolBar::AddButton(int commandId, const std::string& caption, int image) {
  std::string text = caption;
  text.push_back('\0');
  int stringIndex = static_cast<int>(
      ::SendMessageA(Handle(), TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(text.c_str())));
  TBBUTTON button{};
  button.iBitmap = images_ ? image : I_IMAGENONE;
  button.idCommand = commandId;
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = BTNS_BUTTON;
  button.iString = stringIndex;
  ::SendMessageA(Handle(), TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
}

void TToolBar::SetButtonSize(int width, int height) {
  ::SendMessageA(Handle(), TB_SETBUTTONWIDTH, 0, MAKELPARAM(width, width));
  ::SendMessageA(Handle(), TB_SETBUTTONSIZE, 0, MAKELPARAM(width, height));
  ::SendMessageA(Handle(), TB_AUTOSIZE, 0, 0);
}

RECT TToolBar::ButtonRect(int index) const {
  RECT r{};
  ::SendMessageA(Handle(), TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
  return r;
}

TPopupMenu::TPopupMenu() : menu_(::CreatePopupMenu()) {}

TPopupMenu::~TPopupMenu() {
  if (menu_) ::DestroyMenu(menu_);
}

void TPopupMenu::AddItem(int commandId, const std::string& caption) {
  if (caption == "-")
    ::AppendMenuA(menu_, MF_SEPARATOR, commandId, nullptr);
  else
    ::AppendMenuA(menu_, MF_STRING, commandId, caption.c_str());
}

void TPopupMenu::Popup(HWND window, POINT screen) {
  ::SetForegroundWindow(window);
  ::TrackPopupMenu(menu_, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, window, nullptr);
  ::PostMessageA(window, WM_NULL, 0, 0);
}

}  // namespace pelloran
