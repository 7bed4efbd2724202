#pragma once
// Named shared memory between the modules of one process. Each module that carries the crash
// reporter publishes small blocks under a name made of the process id, the module handle and a
// suffix ("MODULE" for its published options, "EXCEPT" for the last raised exception), so that
// the reporter of another module in the same process can find them without any other link.
//
// Layout of a block: u32 total size (payload size + 4), then the payload. Readers trust only the
// size word and check it against what the system really mapped.
//
// A block is created open to this process's user alone (channel_security.h). A block that exists
// already when its module creates it was made by somebody else (anyone could have guessed the
// name): its creator says Preexisting(), and the owner of the channel trusts nothing in it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

// The module that holds this code: the program file, or the library the crash reporter is
// linked into.
const void* RunningModule() noexcept;

// "<process id, 8 upper-case hex digits><module handle, 8 upper-case hex digits><suffix>".
std::string SharedChannelName(std::uint32_t processId, std::uintptr_t module, std::string_view suffix);

// One mapped channel: owns the mapping handle and the view; move-only. An empty object (no
// channel) is what failed or open-only requests give back.
class SharedChannel {
 public:
  SharedChannel() = default;
  ~SharedChannel() { Delete(); }
  SharedChannel(SharedChannel&& other) noexcept;
  SharedChannel& operator=(SharedChannel&& other) noexcept;
  SharedChannel(const SharedChannel&) = delete;
  SharedChannel& operator=(const SharedChannel&) = delete;

  // Creates the channel `suffix` of `module` in this process with room for `payloadSize` bytes.
  // When it exists already (created by another module or an earlier call), it is opened with the
  // size its creator stored, which may differ from `payloadSize`, and Preexisting() says so. A
  // `payloadSize` of 0 is an open-only request: an absent channel gives an empty object and
  // nothing is created.
  // `module` is the module handle (HMODULE); nullptr stands for the running module (RunningModule).
  static SharedChannel Create(std::string_view suffix, const void* module, std::uint32_t payloadSize);
  // Create(suffix, module, 0).
  static SharedChannel Open(std::string_view suffix, const void* module);

  bool IsOpen() const noexcept { return view_ != nullptr; }
  // The block existed before this object's Create made it.
  bool Preexisting() const noexcept { return preexisting_; }
  explicit operator bool() const noexcept { return IsOpen(); }

  // The payload (after the size word); empty when the channel is not open.
  std::uint8_t* Payload() noexcept;
  const std::uint8_t* Payload() const noexcept;
  std::uint32_t PayloadSize() const noexcept { return payloadSize_; }
  std::span<const std::uint8_t> Bytes() const noexcept { return {Payload(), payloadSize_}; }

  // Unmaps the view and closes the handle; the system frees the block when the last holder
  // in the process closes it.
  void Delete() noexcept;

 private:
  void* handle_ = nullptr;         // HANDLE of the file mapping
  std::uint8_t* view_ = nullptr;   // starts at the size word
  std::uint32_t payloadSize_ = 0;
  bool preexisting_ = false;
};

// Replaces `channel` (deleting the old block first) by a new channel holding exactly `payload`.
// Returns false, with `channel` left empty, when the system refuses the mapping, or when a block
// of that name held open elsewhere is too small for the payload. The new channel says
// Preexisting() when the block was held open elsewhere.
bool ReplaceSharedChannel(SharedChannel& channel, std::string_view suffix, const void* module,
                          std::span<const std::uint8_t> payload);

// Copy of the payload of an existing channel, or nothing when the channel does not exist.
std::optional<std::vector<std::uint8_t>> ReadSharedChannel(std::string_view suffix, const void* module);

// The channel suffixes used by the crash reporter.
inline constexpr std::string_view kModuleChannel = "MODULE";
inline constexpr std::string_view kExceptChannel = "EXCEPT";

}  // namespace pelloran::crashlog
