// The stacks kept at raises. Once a handler runs, its frames (and the reporter's, and the trace's)
// overwrite the stack between the raise and the catching frame, so that span is copied at the
// raise, while the search for the catching frame has just found where it ends. A copy of that
// span alone costs a fraction of a copy of the whole used stack; the part above the catching
// frame stays in place as long as that frame runs, and the report joins the two.
//
// Memory: a few slots per thread; a slot's buffer grows to the largest span it held, and a buffer
// over kKeepSmall is given back when the slot is reused for a smaller span (a stack overflow's
// span is the whole stack).

#include <cstring>

#include "crashlog/capture/intercept_state.h"

namespace pelloran::crashlog::intercept {

namespace {

constexpr std::size_t kMaxKeptSpan = 16u << 20;  // a stack that overflowed fills its whole reserve
constexpr std::size_t kKeepSmall = 64u << 10;

// Room for `size` bytes in the slot's buffer; false when there is none (the span is then not kept).
bool Reserve(TKeptRaise& kept, std::size_t size, bool shrink) noexcept {
  if (size <= kept.Capacity && !(shrink && kept.Capacity > kKeepSmall && size <= kKeepSmall)) return true;
  std::size_t capacity = (size + 4095) & ~std::size_t{4095};
  void* memory = HeapAlloc(GetProcessHeap(), 0, capacity);
  if (memory == nullptr) return false;
  if (kept.Bytes != nullptr) HeapFree(GetProcessHeap(), 0, kept.Bytes);
  kept.Bytes = static_cast<std::uint8_t*>(memory);
  kept.Capacity = capacity;
  return true;
}

// Where the kept span ends: the frame that catches the exception, or the one that refuses it
// (std::terminate runs from its landing, below which everything has unwound). Without either,
// nothing unwinds before the report, and nothing needs keeping.
std::uintptr_t SpanEnd(const THandlerSearch& search, std::uintptr_t low, std::uintptr_t stackBase) noexcept {
  std::uintptr_t end = search.CatchingStackPointer;
  if (end <= low || end > stackBase || end - low > kMaxKeptSpan) return low;
  return end;
}

}  // namespace

TKeptRaise::~TKeptRaise() {
  if (Bytes != nullptr) HeapFree(GetProcessHeap(), 0, Bytes);
}

TKeptRaise* FindKeptRaise(TThreadState& state, const TExceptionObject& object) noexcept {
  for (TKeptRaise& kept : state.Kept)
    if (kept.Object != nullptr && kept.Object == object.Object() && kept.Type == object.Type()) return &kept;
  return nullptr;
}

void KeepRaise(TThreadState& state, const TExceptionObject& object, const CONTEXT& context, const void* address,
               bool isLanguageRaise, const THandlerSearch& search) noexcept {
  // The slot of this object (its memory was given back and thrown again) or the oldest.
  TKeptRaise* slot = FindKeptRaise(state, object);
  if (slot == nullptr) {
    slot = &state.Kept[0];
    for (TKeptRaise& kept : state.Kept)
      if (kept.Object == nullptr || kept.Serial < slot->Serial) slot = &kept;
  }
  TKeptRaise& kept = *slot;
  const auto base = reinterpret_cast<std::uintptr_t>(state.Capture.StackBase);
  kept.Object = object.Object();
  kept.Type = object.Type();
  kept.Context = context;
  kept.Address = address;
  kept.IsLanguageRaise = isLanguageRaise;
  kept.Serial = ++state.KeptSerial;
  kept.Low = context.Esp;
  kept.High = SpanEnd(search, kept.Low, base);
  if (!Reserve(kept, kept.High - kept.Low, true)) kept.High = kept.Low;
  if (kept.High > kept.Low) std::memcpy(kept.Bytes, reinterpret_cast<const void*>(kept.Low), kept.High - kept.Low);
}

void ExtendKeptRaise(TThreadState& state, TKeptRaise& kept, const THandlerSearch& search) noexcept {
  const auto base = reinterpret_cast<std::uintptr_t>(state.Capture.StackBase);
  kept.Serial = ++state.KeptSerial;
  // A new catcher at or below the old one (a rethrow inside a function the catch block called)
  // leaves the old catching frame, and all above it, in place.
  const std::uintptr_t end = SpanEnd(search, kept.Low, base);
  if (end <= kept.High) return;
  if (!Reserve(kept, end - kept.Low, false)) return;
  // Between the old catching frame and the new one: the frames the exception now leaves, intact
  // until it lands.
  std::memcpy(kept.Bytes + (kept.High - kept.Low), reinterpret_cast<const void*>(kept.High), end - kept.High);
  kept.High = end;
}

void NotifyWithSearch(TThreadState& state, const THandlerSearch& search, const TExceptionObject& object,
                      const void* address, bool isLanguageRaise) noexcept {
  state.RaiseSearch = search;
  state.RaiseSearchValid = true;
  Notify(object, address, isLanguageRaise);
  state.RaiseSearchValid = false;
}

}  // namespace pelloran::crashlog::intercept

namespace pelloran::crashlog {

bool KeptRaiseStack(const TExceptionObject& object, TRaiseStack& stack) {
  using namespace intercept;
  if (object.Empty()) return false;
  TThreadState& state = EffectiveThread();
  const TKeptRaise* kept = FindKeptRaise(state, object);
  if (kept == nullptr) return false;
  const auto base = reinterpret_cast<std::uintptr_t>(state.Capture.StackBase);
  if (kept->Low == 0 || kept->High > base || kept->Low > kept->High) return false;
  stack.Context = kept->Context;
  stack.Address = kept->Address;
  stack.IsLanguageRaise = kept->IsLanguageRaise;
  stack.Origin = kept->Low;
  stack.Bytes.resize(base - kept->Low);
  if (kept->High > kept->Low) std::memcpy(stack.Bytes.data(), kept->Bytes, kept->High - kept->Low);
  // Above the catching frame: the live stack, which that frame and its callers still hold.
  std::memcpy(stack.Bytes.data() + (kept->High - kept->Low), reinterpret_cast<const void*>(kept->High),
              base - kept->High);
  return true;
}

}  // namespace pelloran::crashlog
