#include "crashlog/delivery/error_dialog.h"

#include <windows.h>

#include "crashlog/capture/flow_state.h"
#include "crashlog/capture/pipeline.h"
#include "crashlog/infra/diagnostics/trace.h"

namespace pelloran::crashlog {

namespace {
// OK button, error icon, task-modal, topmost, service notification.
constexpr UINT kErrorBoxFlags = 0x242010;
}  // namespace

bool ShowErrorDialog() {
  TraceEnter("ShowErrorDialog");
  const std::string caption = WorkingOptions().GetText(2);
  const bool shown = ::MessageBoxA(nullptr, Flow().ShortMessage.c_str(), caption.c_str(), kErrorBoxFlags) != 0;
  TraceLeave("ShowErrorDialog", {shown});
  return shown;
}

void ShowReproduceDialog() {}

}  // namespace pelloran::crashlog
