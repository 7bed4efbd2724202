// Platform side of the reporter's diagnostics: debugger output, message boxes, memory probing
// and the process-wide safecall flag block.

#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/diagnostics_platform.h"
#include "crashlog/infra/diagnostics/readable_memory.h"
#include "runtime/scoped_handle.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace pelloran::crashlog {

namespace {

std::atomic<TMessageBoxHandler> messageBoxHandler{nullptr};

struct SafecallBlock {
  std::mutex Lock;
  ScopedKernelHandle Mapping;
  ScopedMappedView View;
};

// Never destroyed: the exception hooks may read the flag while the program finalises; the system
// closes the block with the process.
SafecallBlock& Safecall() {
  static SafecallBlock* const block = new SafecallBlock;
  return *block;
}

}  // namespace

void DebuggerOutput(std::string_view text) noexcept {
  try {
    OutputDebugStringA(std::string(text).c_str());
  } catch (...) {
  }
}

int ReporterMessageBox(const std::string& text, const std::string& caption, unsigned flags) noexcept {
  if (TMessageBoxHandler handler = messageBoxHandler.load()) return handler(text, caption, flags);
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
}

TMessageBoxHandler SetReporterMessageBox(TMessageBoxHandler handler) noexcept {
  return messageBoxHandler.exchange(handler);
}

std::optional<std::vector<std::uint8_t>> ReadProcessBytes(const void* address, std::size_t count) noexcept {
  try {
    // Nothing asked is nothing read: an empty copy wherever it points.
    if (count != 0 && !IsReadable(address, count)) return std::nullopt;
    std::vector<std::uint8_t> bytes(count);
    std::memcpy(bytes.data(), address, count);
    return bytes;
  } catch (...) {
    return std::nullopt;
  }
}

bool OpenSafecallFlag() noexcept {
  SafecallBlock& block = Safecall();
  std::lock_guard guard(block.Lock);
  if (block.View) return true;
  const std::string name(kSafecallFlagName);
  ScopedKernelHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, name.c_str()));
  if (!mapping) return false;
  ScopedMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 4));
  if (!view) return false;
  block.Mapping = std::move(mapping);
  block.View = std::move(view);
  return true;
}

void CloseSafecallFlag() noexcept {
  SafecallBlock& block = Safecall();
  std::lock_guard guard(block.Lock);
  block.View.reset();
  block.Mapping.reset();
}

void SetSafecallFlag() noexcept {
  SafecallBlock& block = Safecall();
  std::lock_guard guard(block.Lock);
  if (block.View) static_cast<volatile std::uint8_t*>(block.View.get())[0] = 1;
}

bool TakeSafecallFlag() noexcept {
  SafecallBlock& block = Safecall();
  std::lock_guard guard(block.Lock);
  if (!block.View) return false;
  auto* flag = static_cast<volatile std::uint8_t*>(block.View.get());
  const bool set = flag[0] != 0;
  flag[0] = 0;
  return set;
}

}  // namespace pelloran::crashlog
