#include "crashlog/infra/diagnostics/shared_channel.h"

#include <windows.h>

#include "crashlog/infra/diagnostics/channel_security.h"

#include <cstdio>
#include <cstring>

namespace pelloran::crashlog {

namespace {

constexpr std::uint32_t kSizeWord = 4;

std::uintptr_t ModuleHandleValue(const void* module) {
  if (module == nullptr) module = RunningModule();
  return reinterpret_cast<std::uintptr_t>(module);
}

std::string ChannelNameInThisProcess(std::string_view suffix, const void* module) {
  return SharedChannelName(GetCurrentProcessId(), ModuleHandleValue(module), suffix);
}

std::uint32_t ReadSizeWord(const void* view) {
  std::uint32_t total;
  std::memcpy(&total, view, sizeof total);
  return total;
}

// The size of the view the system really gave, so that a damaged size word cannot make
// a reader run past the mapping.
std::size_t MappedRegionSize(const void* view) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view, &info, sizeof info) == 0) return 0;
  return info.RegionSize;
}

}  // namespace

const void* RunningModule() noexcept {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&RunningModule), &module))
    module = GetModuleHandleA(nullptr);
  return module;
}

std::string SharedChannelName(std::uint32_t processId, std::uintptr_t module, std::string_view suffix) {
  char prefix[20];
  std::snprintf(prefix, sizeof prefix, "%08X%08X", static_cast<unsigned>(processId),
                static_cast<unsigned>(module));
  return std::string(prefix) + std::string(suffix);
}

SharedChannel::SharedChannel(SharedChannel&& other) noexcept
    : handle_(other.handle_), view_(other.view_), payloadSize_(other.payloadSize_), preexisting_(other.preexisting_) {
  other.handle_ = nullptr;
  other.view_ = nullptr;
  other.payloadSize_ = 0;
}

SharedChannel& SharedChannel::operator=(SharedChannel&& other) noexcept {
  if (this != &other) {
    Delete();
    handle_ = other.handle_;
    view_ = other.view_;
    payloadSize_ = other.payloadSize_;
    preexisting_ = other.preexisting_;
    other.handle_ = nullptr;
    other.view_ = nullptr;
    other.payloadSize_ = 0;
  }
  return *this;
}

SharedChannel SharedChannel::Create(std::string_view suffix, const void* module,
                                    std::uint32_t payloadSize) {
  SharedChannel channel;
  if (payloadSize > 0xFFFFFFFFu - kSizeWord) return channel;
  const std::string name = ChannelNameInThisProcess(suffix, module);

  HANDLE handle;
  bool existed;
  if (payloadSize == 0) {
    handle = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    existed = handle != nullptr;
  } else {
    SECURITY_ATTRIBUTES* security = ChannelSecurityAttributes();
    if (security == nullptr) return channel;
    handle = CreateFileMappingA(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, 0, payloadSize + kSizeWord,
                                name.c_str());
    existed = handle != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    channel.preexisting_ = existed;
  }
  if (handle == nullptr) return channel;
  channel.handle_ = handle;

  if (existed) {
    // Somebody else made it: its creator's size word tells how much there is. Unusable, it is
    // still reported as there (an empty channel that says Preexisting()).
    auto unusable = [&channel] {
      channel.Delete();
      channel.preexisting_ = true;
      return std::move(channel);
    };
    void* head = MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, kSizeWord);
    if (head == nullptr) return unusable();
    const std::uint32_t total = ReadSizeWord(head);
    UnmapViewOfFile(head);
    if (total < kSizeWord) return unusable();
    void* view = MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, total);
    if (view == nullptr || MappedRegionSize(view) < total) {
      if (view != nullptr) UnmapViewOfFile(view);
      return unusable();
    }
    channel.view_ = static_cast<std::uint8_t*>(view);
    channel.payloadSize_ = total - kSizeWord;
    return channel;
  }

  void* view = MapViewOfFile(handle, FILE_MAP_ALL_ACCESS, 0, 0, payloadSize + kSizeWord);
  if (view == nullptr) {
    channel.Delete();
    return channel;
  }
  const std::uint32_t total = payloadSize + kSizeWord;
  std::memcpy(view, &total, sizeof total);
  channel.view_ = static_cast<std::uint8_t*>(view);
  channel.payloadSize_ = payloadSize;
  return channel;
}

SharedChannel SharedChannel::Open(std::string_view suffix, const void* module) {
  return Create(suffix, module, 0);
}

std::uint8_t* SharedChannel::Payload() noexcept {
  return view_ == nullptr ? nullptr : view_ + kSizeWord;
}

const std::uint8_t* SharedChannel::Payload() const noexcept {
  return view_ == nullptr ? nullptr : view_ + kSizeWord;
}

void SharedChannel::Delete() noexcept {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  view_ = nullptr;
  handle_ = nullptr;
  payloadSize_ = 0;
  preexisting_ = false;
}

bool ReplaceSharedChannel(SharedChannel& channel, std::string_view suffix, const void* module,
                          std::span<const std::uint8_t> payload) {
  channel.Delete();
  if (payload.empty() || payload.size() > 0xFFFFFFFFu - kSizeWord) return false;
  SharedChannel fresh = SharedChannel::Create(suffix, module, static_cast<std::uint32_t>(payload.size()));
  // A reader elsewhere may still hold the old block open, so Create can hand back that one;
  // never write past the size it really has.
  if (!fresh || fresh.PayloadSize() < payload.size()) return false;
  std::memcpy(fresh.Payload(), payload.data(), payload.size());
  channel = std::move(fresh);
  return true;
}

std::optional<std::vector<std::uint8_t>> ReadSharedChannel(std::string_view suffix, const void* module) {
  SharedChannel channel = SharedChannel::Open(suffix, module);
  if (!channel) return std::nullopt;
  const auto bytes = channel.Bytes();
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace pelloran::crashlog
