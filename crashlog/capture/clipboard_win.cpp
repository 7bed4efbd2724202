#include "crashlog/capture/clipboard.h"

#include <cstring>

#include "crashlog/capture/freeze.h"
#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

bool CopyReportToClipboard(const std::string& text, HWND owner) {
  if (BelongsToFrozenThread(::GetClipboardOwner())) return false;
  ScopedWindow standIn;
  if (BelongsToFrozenThread(owner)) {
    standIn.reset(::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    owner = standIn.get();
  }
  if (!::OpenClipboard(owner)) return false;
  bool done = false;
  ScopedGlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1));
  if (block) {
    if (void* bytes = ::GlobalLock(block.get())) {
      std::memcpy(bytes, text.c_str(), text.size() + 1);
      ::GlobalUnlock(block.get());
      ::EmptyClipboard();
      done = ::SetClipboardData(CF_TEXT, block.get()) != nullptr;
      if (done) block.release();  // the clipboard owns it now
    }
  }
  ::CloseClipboard();
  return done;
}

}  // namespace pelloran::crashlog
