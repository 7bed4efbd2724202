#include "crashlog/infra/options/options_channel.h"

#include <mutex>

#include "crashlog/infra/options/module_payload.h"
#include "crashlog/infra/options/options.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "crashlog/infra/diagnostics/trace.h"

namespace pelloran::crashlog {

namespace {

// The channel stays mapped while the module runs: the block lives only while a handle is open.
struct TModuleChannel {
  std::mutex lock;
  SharedChannel channel;
  // The block existed before start-up made it: somebody else's, who may read what is written
  // there (the options hold the mail password) and write options of their choosing.
  bool untrusted = false;
};

// Never destroyed: finalisation code of this module and of others (static destructors, exit
// handlers) may still publish and read after the statics here would have gone.
TModuleChannel& ModuleChannel() {
  static TModuleChannel* const instance = new TModuleChannel;
  return *instance;
}

bool IsRunningModule(const void* module) { return module == nullptr || module == RunningModule(); }

}  // namespace

bool OpenModuleChannel() {
  auto& state = ModuleChannel();
  std::lock_guard guard(state.lock);
  state.channel.Delete();
  SharedChannel fresh = SharedChannel::Create(kModuleChannel, nullptr, 1);
  state.untrusted = fresh.Preexisting();
  if (state.untrusted) {
    Trace("OpenModuleChannel: the MODULE block existed before the reporter made it; it is not used");
    return false;
  }
  if (!fresh) return false;
  fresh.Payload()[0] = kNothingPublished;
  state.channel = std::move(fresh);
  return true;
}

void CloseModuleChannel() {
  auto& state = ModuleChannel();
  std::lock_guard guard(state.lock);
  state.channel.Delete();
}

bool PublishModuleOptions(std::span<const std::uint8_t> optionStream) {
  const auto payload = EncodeModulePayload(optionStream);
  auto& state = ModuleChannel();
  std::lock_guard guard(state.lock);
  if (state.untrusted) return false;
  return ReplaceSharedChannel(state.channel, kModuleChannel, nullptr, payload);
}

std::optional<std::vector<std::uint8_t>> ReadPublishedOptions(const void* module) {
  if (IsRunningModule(module) && ModuleChannel().untrusted) {
    Trace("ReadPublishedOptions: this module's MODULE block is not its own; no options are read from it");
    return std::nullopt;
  }
  const auto payload = ReadSharedChannel(kModuleChannel, module);
  if (!payload) return std::nullopt;
  const auto stream = DecodeModulePayload(*payload);
  if (!stream) return std::nullopt;
  return std::vector<std::uint8_t>(stream->begin(), stream->end());
}

bool LoadPublishedOptions(const void* module, TCrashModuleOptions& options, std::uint16_t /*containerVersion*/) {
  const auto stream = ReadPublishedOptions(module);
  if (!stream) return false;
  // The channel always carries the publisher's current layout, whatever version its container has.
  return options.LoadFromStream(std::span<const std::uint8_t>(*stream), kCurrentDataVersion);
}

}  // namespace pelloran::crashlog
