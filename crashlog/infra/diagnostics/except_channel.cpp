// This module's EXCEPT channel: the last raised exception, for the reporters of every module of
// the process (this one's included). The block is made once, at start-up, and written in place at
// every raise, so that a raise costs a copy of two short texts instead of a new block.
//
// Block: the size word, the payload (diagnostics_text.h), and in the payload's last four bytes a
// sequence word that readers of the two strings never reach. The sequence is even while the
// payload is complete and odd while one thread writes it (or marks it taken): a writer makes it
// odd with a compare-and-swap, a reader copies the payload and keeps the copy only when the
// sequence was even and unchanged around it. The kind byte goes to 0 while a payload is written,
// so a reader that knows nothing of the sequence sees "nothing published" rather than half a one.

#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/shared_channel.h"
#include "crashlog/infra/diagnostics/trace.h"

namespace pelloran::crashlog {

namespace {

constexpr std::uint32_t kPayloadSize = kExceptChannelSize - 4;  // after the size word
constexpr std::uint32_t kSequenceOffset = kPayloadSize - 4;
// How long a writer or reader waits for another one to finish: a thread suspended in the middle
// (the freeze watcher stops the main thread anywhere) must not stop the report.
constexpr DWORD kWaitLimitMs = 20;

struct TExceptState {
  std::mutex Lock;  // creation and closing
  SharedChannel Channel;
  std::atomic<std::uint8_t*> Payload{nullptr};  // null: nothing to write to
  std::atomic<int> Writers{0};                   // writers that may still use Payload
  std::atomic<bool> Untrusted{false};            // the block existed before start-up
  // An odd sequence a writer never finished (an even value, which no writer leaves behind: none).
  std::atomic<std::uint32_t> StuckAt{0};
};

// Never destroyed: exceptions raised while the program finalises are still published.
TExceptState& Except() {
  static TExceptState* const state = new TExceptState;
  return *state;
}

thread_local TLastRaise lastRaise;

std::uint32_t* SequenceOf(std::uint8_t* payload) {
  return reinterpret_cast<std::uint32_t*>(payload + kSequenceOffset);
}

// Makes the sequence odd for this thread; false when another thread kept it odd past the limit
// (its value is remembered: later writers give up at once until it moves).
bool AcquireSequence(std::uint32_t* sequence, std::uint32_t& taken) {
  TExceptState& state = Except();
  DWORD start = 0;
  for (int round = 0;; ++round) {
    std::uint32_t value = __atomic_load_n(sequence, __ATOMIC_ACQUIRE);
    if ((value & 1) == 0) {
      if (__atomic_compare_exchange_n(sequence, &value, value + 1, false, __ATOMIC_ACQ_REL, __ATOMIC_RELAXED)) {
        taken = value + 1;
        return true;
      }
      continue;
    }
    if (value == state.StuckAt.load(std::memory_order_relaxed)) return false;
    if (round < 64) {
      __builtin_ia32_pause();
      continue;
    }
    if (start == 0) start = GetTickCount();
    if (GetTickCount() - start > kWaitLimitMs) {
      state.StuckAt.store(value, std::memory_order_relaxed);
      return false;
    }
    Sleep(0);
  }
}

void ReleaseSequence(std::uint32_t* sequence, std::uint32_t taken) {
  __atomic_store_n(sequence, taken + 1, __ATOMIC_RELEASE);
}

// Counts the calling thread as a writer of the block while it lives, so that closing waits.
class TWriterGuard {
 public:
  TWriterGuard() noexcept {
    Except().Writers.fetch_add(1);
    payload_ = Except().Payload.load();
  }
  ~TWriterGuard() { Except().Writers.fetch_sub(1); }
  std::uint8_t* Payload() const noexcept { return payload_; }

 private:
  std::uint8_t* payload_;
};

void WriteInPlace(std::uint8_t* payload, std::string_view className, std::string_view message,
                  std::uint32_t threadId, std::uint32_t address) {
  std::uint32_t* sequence = SequenceOf(payload);
  std::uint32_t taken = 0;
  if (!AcquireSequence(sequence, taken)) return;
  __atomic_store_n(payload, std::uint8_t{0}, __ATOMIC_RELAXED);
  std::atomic_thread_fence(std::memory_order_release);
  WriteExceptPayload(std::span<std::uint8_t>(payload, kSequenceOffset), className, message, threadId, address);
  ReleaseSequence(sequence, taken);
}

// How much of the payload a copy needs: the kind byte, the two strings, thread and address, as
// the lengths in the block say (read while a writer may change them: the copy is checked after).
std::size_t UsedLength(const std::uint8_t* payload) {
  auto lengthAt = [payload](std::size_t at) {
    std::uint32_t length = 0;
    std::memcpy(&length, payload + at, sizeof length);
    return static_cast<std::size_t>(length);
  };
  const std::size_t classLength = lengthAt(1);
  if (classLength > kSequenceOffset) return kSequenceOffset;
  const std::size_t messageAt = 1 + 4 + classLength;
  if (messageAt + 4 > kSequenceOffset) return kSequenceOffset;
  const std::size_t used = messageAt + 4 + lengthAt(messageAt) + 8;
  return used < kSequenceOffset ? used : kSequenceOffset;
}

// A consistent copy of the payload (without the sequence word) and the even sequence it was
// read at; false when no writer let go within the limit.
bool CopyPayload(std::uint8_t* payload, std::vector<std::uint8_t>& copy, std::uint32_t& at) {
  std::uint32_t* sequence = SequenceOf(payload);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start <= kWaitLimitMs) {
    const std::uint32_t before = __atomic_load_n(sequence, __ATOMIC_ACQUIRE);
    if ((before & 1) != 0) {
      Sleep(0);
      continue;
    }
    copy.resize(UsedLength(payload));
    std::memcpy(copy.data(), payload, copy.size());
    std::atomic_thread_fence(std::memory_order_acquire);
    if (__atomic_load_n(sequence, __ATOMIC_RELAXED) == before) {
      at = before;
      return true;
    }
  }
  return false;
}

}  // namespace

bool CreateExceptChannel() noexcept {
  try {
    TExceptState& state = Except();
    std::lock_guard guard(state.Lock);
    if (state.Payload.load() != nullptr) return true;
    SharedChannel channel = SharedChannel::Create(kExceptChannel, ThisModule(), kPayloadSize);
    if (!channel) return false;
    if (channel.Preexisting() || channel.PayloadSize() != kPayloadSize) {
      // Made by somebody else before us, who can write it at will: nothing in it is ours.
      state.Untrusted = true;
      Trace("CreateExceptChannel: the EXCEPT block existed before the reporter made it; it is not used");
      return false;
    }
    state.Untrusted = false;
    state.StuckAt = 0;
    state.Channel = std::move(channel);
    state.Payload = state.Channel.Payload();
    return true;
  } catch (...) {
    return false;
  }
}

void CloseExceptChannel() noexcept {
  TExceptState& state = Except();
  std::lock_guard guard(state.Lock);
  state.Payload = nullptr;
  while (state.Writers.load() != 0) Sleep(0);
  state.Channel.Delete();
}

void PublishException(std::string_view className, std::string_view message, const void* address, bool flag,
                      std::uint32_t threadId) noexcept {
  lastRaise = TLastRaise{address, flag};
  const TWriterGuard writer;
  if (writer.Payload() == nullptr) return;
  WriteInPlace(writer.Payload(), className, message, threadId,
               static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address)));
}

void PublishException(const TExceptionObjectInfo& object, const void* address, bool flag,
                      std::uint32_t threadId) noexcept {
  try {
    PublishException(ExceptionClassText(object), ExceptionMessageText(object), address, flag, threadId);
  } catch (...) {
  }
}

TLastRaise LastRaisedException() noexcept { return lastRaise; }

void ClearLastRaisedException() noexcept { lastRaise = TLastRaise{}; }

std::optional<TPublishedException> TakePublishedException(HMODULE module, std::uint32_t threadId,
                                                          std::uintptr_t address) noexcept {
  try {
    if (module == ThisModule() && Except().Untrusted.load()) {
      Trace("TakePublishedException: this module's EXCEPT block is not its own; nothing is read from it");
      return std::nullopt;
    }
    SharedChannel channel = SharedChannel::Open(kExceptChannel, module);
    if (!channel || channel.PayloadSize() != kPayloadSize) return std::nullopt;
    std::uint8_t* payload = channel.Payload();
    std::vector<std::uint8_t> copy;
    for (int attempt = 0; attempt < 8; ++attempt) {
      std::uint32_t at = 0;
      if (!CopyPayload(payload, copy, at)) return std::nullopt;
      std::optional<TPublishedException> published = DecodeExceptPayload(copy);
      if (!published || !published->Describes(threadId, address)) return std::nullopt;
      // Taken only while it still holds what was read: a raise written since stays for its report.
      std::uint32_t expected = at;
      std::uint32_t* sequence = SequenceOf(payload);
      if (!__atomic_compare_exchange_n(sequence, &expected, at + 1, false, __ATOMIC_ACQ_REL, __ATOMIC_RELAXED))
        continue;
      __atomic_store_n(payload, std::uint8_t{0}, __ATOMIC_RELAXED);
      ReleaseSequence(sequence, at + 1);
      return published;
    }
    return std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace pelloran::crashlog
