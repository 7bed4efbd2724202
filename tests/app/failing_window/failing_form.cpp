// Pelloran as shipped, except that the toolbar's delete button runs a handler that fails: it
// reads the selection through a pointer that was never set. Built only for the test that checks
// that such a failure is reported in the program's .elf log and that the window goes on working.
#include <windows.h>

#include <cstdlib>

#include "app/main_form.h"
#include "app/start_up.h"

namespace pelloran {

class TFailingForm : public TMainForm {
 protected:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    if (message == WM_COMMAND && LOWORD(wParam) == kCmdDeleteFileButton && HIWORD(wParam) == 0) {
      DeleteFileClick();
      result = 0;
      return true;
    }
    return TMainForm::HandleMessage(message, wParam, lParam, result);
  }

 private:
  struct TSelection {
    int Row;
  };

  __attribute__((noinline)) void DeleteFileClick() {
    lvFiles->Select(selection_->Row);  // @fault
    Jobs->DeleteSelected();
  }

  TSelection* selection_ = nullptr;
};

}  // namespace pelloran

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return pelloran::RunPelloran<pelloran::TFailingForm>();
}
