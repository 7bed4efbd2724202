// Temporary stand-ins until the interception layer, the thread registry and the report land.
#include "crashlog/capture/pipeline_parts.h"
#include "crashlog/delivery/error_dialog.h"

namespace pelloran::crashlog {
namespace {
thread_local std::uintptr_t stackStart = 0;
thread_local CONTEXT context{};
}  // namespace
std::uintptr_t& CapturedStackStart() noexcept { return stackStart; }
CONTEXT& CapturedContext() noexcept { return context; }
bool IsExceptionHandled(const TRaisedException&, const void*) noexcept { return false; }
void InstallInterception() {}
void UninstallInterception() {}
}  // namespace pelloran::crashlog
