#pragma once
// The MODULE channel: how a module publishes run-time changes of its options to the crash
// reporters of the other modules in the process. Payload: u8 1, then an OptionStream in the
// current layout; a single byte 0 means nothing is published.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pelloran::crashlog {

class TCrashModuleOptions;

// Start-up: the running module's channel with the one-byte payload 0. Shut-down: closed.
bool OpenModuleChannel();
void CloseModuleChannel();
// Replaces the running module's channel by one that publishes `optionStream`.
bool PublishModuleOptions(std::span<const std::uint8_t> optionStream);
// The OptionStream published by `module` (nullptr: the running module), or nothing when the
// module has no channel or publishes nothing.
std::optional<std::vector<std::uint8_t>> ReadPublishedOptions(const void* module);
// Loads what `module` published over `options`, in the current layout; false when nothing was
// published or the stream is cut short. `containerVersion` (the DataVersion of the module's ELDATA
// container) is not used: the payload's layout does not depend on it. The parameter stays only
// because the module registry still passes it.
bool LoadPublishedOptions(const void* module, TCrashModuleOptions& options, std::uint16_t containerVersion);

}  // namespace pelloran::crashlog
