#include "crashlog/capture/exception_handled.h"
#include "base/ansi_path.h"

#include <atomic>
#include <mutex>

#include "crashlog/capture/exception_handled_frames.h"
#include "crashlog/capture/intercept_state.h"
#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/trace.h"

namespace pelloran::crashlog {

namespace {

// Marker ranges: written under the lock, read without it (an entry is complete before the count
// that shows it is raised).
struct TMarker {
  std::uintptr_t Begin = 0;
  std::uintptr_t End = 0;
  THandlerRole Role = THandlerRole::Program;
};
constexpr int kMaxMarkers = 16;
TMarker markers[kMaxMarkers];
std::atomic<int> markerCount{0};
std::mutex markerLock;

THandlerRole RoleOf(std::uintptr_t ip) noexcept {
  int count = markerCount.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i)
    if (ip >= markers[i].Begin && ip < markers[i].End) return markers[i].Role;
  return THandlerRole::Program;
}

struct TSearch {
  const TExceptionObject* Object;
  THandlerSearch Result;
};

bool CatchesType(std::uintptr_t typeEntry, void* context) {
  auto& search = *static_cast<TSearch*>(context);
  return search.Object->CaughtBy(reinterpret_cast<const std::type_info*>(typeEntry));
}

bool VisitFrame(const TFrameInfo& frame, void* context) {
  auto& search = *static_cast<TSearch*>(context);
  THandlerSearch& result = search.Result;
  ++result.Frames;
  if (!frame.HasUnwindInfo) {
    result.End = THandlerSearch::TEnd::NoUnwindInfo;
    return false;
  }
  if (frame.Lsda == nullptr) return true;
  TCallSite site = FindCallSite(frame.Lsda, frame.LookupIp, frame.Bases);
  TFrameVerdict verdict = TFrameVerdict::PassesThrough;
  switch (site.Kind) {
    case TCallSite::TKind::PassesThrough: return true;
    case TCallSite::TKind::NotCovered:
      // Only the C++ personality routine calls std::terminate for an address its table does not
      // cover; C code compiled with cleanups lets the exception pass.
      if (!frame.CxxPersonality) return true;
      verdict = TFrameVerdict::Terminates;
      break;
    case TCallSite::TKind::Actions: verdict = ActionsVerdict(site, frame.Bases, &CatchesType, &search); break;
    case TCallSite::TKind::Unreadable: verdict = TFrameVerdict::Unreadable; break;
  }
  switch (verdict) {
    case TFrameVerdict::PassesThrough: return true;
    case TFrameVerdict::CatchesAll:
    case TFrameVerdict::CatchesType:
      result.End = THandlerSearch::TEnd::Caught;
      result.Role = RoleOf(frame.Ip);
      result.Kind = result.Role == THandlerRole::SafeCall ? 3 : verdict == TFrameVerdict::CatchesAll ? 1 : 2;
      result.CatchingIp = frame.Ip;
      result.CatchingStackPointer = frame.StackPointer;
      return false;
    case TFrameVerdict::Terminates:
    case TFrameVerdict::Unreadable:
      // A table this reader cannot follow is taken as refusing: better a report too many.
      result.End = THandlerSearch::TEnd::Terminates;
      // std::terminate runs from this frame once the frames below have unwound.
      result.CatchingIp = frame.Ip;
      result.CatchingStackPointer = frame.StackPointer;
      return false;
  }
  return true;
}

// Objects IsExceptionHandled answered false for, most recent first. An object judged again at a
// later raise takes its new answer, so a reused address cannot keep an old one.
constexpr int kReportedSlots = 8;
std::atomic<void*> reportedObjects[kReportedSlots];
std::atomic<unsigned> reportedNext{0};

void RecordVerdict(const TExceptionObject& object, bool handled) noexcept {
  void* key = object.Object();
  if (key == nullptr) return;
  for (auto& slot : reportedObjects) {
    void* expected = key;
    slot.compare_exchange_strong(expected, nullptr);
  }
  if (!handled) reportedObjects[reportedNext.fetch_add(1) % kReportedSlots].store(key);
}

const char* EndName(THandlerSearch::TEnd end) noexcept {
  switch (end) {
    case THandlerSearch::TEnd::Caught: return "Caught";
    case THandlerSearch::TEnd::Terminates: return "Terminates";
    case THandlerSearch::TEnd::NoUnwindInfo: return "NoUnwindInfo";
    case THandlerSearch::TEnd::EndOfStack: return "EndOfStack";
  }
  return "?";
}

}  // namespace

bool RegisterHandlerMarkerRange(THandlerRole role, const void* begin, const void* end) noexcept {
  auto b = reinterpret_cast<std::uintptr_t>(begin), e = reinterpret_cast<std::uintptr_t>(end);
  if (b >= e) return false;
  std::lock_guard guard(markerLock);
  int count = markerCount.load();
  for (int i = 0; i < count; ++i)
    if (markers[i].Begin == b && markers[i].End == e && markers[i].Role == role) return true;
  if (count == kMaxMarkers) return false;
  markers[count] = TMarker{b, e, role};
  markerCount.store(count + 1, std::memory_order_release);
  return true;
}

bool RegisterHandlerMarker(THandlerRole role, const void* address) noexcept {
  std::uintptr_t begin = 0, end = 0;
  if (!FunctionRange(address, begin, end)) return false;
  return RegisterHandlerMarkerRange(role, reinterpret_cast<const void*>(begin), reinterpret_cast<const void*>(end));
}

namespace {
std::atomic<std::uintptr_t> safeCallCheckBegin{0}, safeCallCheckEnd{0};

// An EOleException that the safecall check raised from a returned error code.
bool IsSafeCallEcho(const TExceptionObject& object, const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address) - 1;
  return at >= safeCallCheckBegin.load() && at < safeCallCheckEnd.load() &&
         AsciiUpper(object.ClassName()) == "EOLEEXCEPTION";
}
}  // namespace

namespace {
std::atomic<DWORD> webWorkerThread{0};
}  // namespace

void SetWebWorkerThread(DWORD threadId) noexcept { webWorkerThread.store(threadId); }

namespace {
std::atomic<bool> handledByHost{false};
}  // namespace

void SetHandledByHost(bool handled) noexcept { handledByHost.store(handled); }

bool RegisterSafeCallCheck(const void* address) noexcept {
  std::uintptr_t begin = 0, end = 0;
  if (!FunctionRange(address, begin, end)) return false;
  safeCallCheckEnd.store(end);
  safeCallCheckBegin.store(begin);
  return true;
}

THandlerSearch SearchHandlers(const CONTEXT& start, std::uintptr_t stackLow, std::uintptr_t stackHigh,
                              const TExceptionObject& object) {
  TSearch search{&object, {}};
  TWalkLimits limits{stackLow, stackHigh};
  TWalkEnd end = WalkFrames(start, limits, &VisitFrame, &search);
  if (end == TWalkEnd::NoUnwindInfo) search.Result.End = THandlerSearch::TEnd::NoUnwindInfo;
  return search.Result;
}

THandlerSearch SearchHandlers(const CONTEXT& start, const TExceptionObject& object) {
  TWalkLimits limits = CurrentThreadStack();
  return SearchHandlers(start, limits.StackLow, limits.StackHigh, object);
}

namespace {
thread_local THandlerSearch lastSearch;
}  // namespace

const THandlerSearch& LastHandlerSearch() noexcept { return lastSearch; }

bool IsExceptionHandled(const TExceptionObject& object, const void* address) {
  TraceEnter("IsExceptionHandled", {address});
  const TThreadCapture& capture = CurrentThreadCapture();
  THandlerSearch search;
  const intercept::TThreadState& raising = intercept::EffectiveThread();
  if (raising.RaiseSearchValid && raising.Raise.Object == object) {
    // Searched at the raise, from where the exception travels now (a rethrow's capture holds the
    // original raise, whose frames are gone).
    search = raising.RaiseSearch;
  } else if (capture.Context.ContextFlags != 0) {
    search = SearchHandlers(capture.Context, capture.Context.Esp, reinterpret_cast<std::uintptr_t>(capture.StackBase),
                            object);
  } else {
    // No raise point recorded: the frames from the caller outward.
    CONTEXT here{};
    here.Eip = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)) - 1;
    here.Esp = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) + 8;
    here.Ebp = *static_cast<const DWORD*>(__builtin_frame_address(0));
    search = SearchHandlers(here, object);
  }
  bool mainThread = capture.ThreadId == MainThreadId();
  bool handled = false;
  if (search.Caught()) {
    switch (search.Role) {
      case THandlerRole::Program:
      case THandlerRole::EventHandler: handled = true; break;
      case THandlerRole::Synchronize: handled = false; break;
      case THandlerRole::SafeCall:
        handled = IsSafeCallEcho(object, address);
        if (!handled) SetSafecallFlag();
        break;
      case THandlerRole::ThreadWrapper:
        handled = mainThread ? !UnitsInitializing() && !UnitsFinalizing()
                             : capture.ThreadId != 0 && capture.ThreadId == webWorkerThread.load();
        break;
    }
  }
  // In a library whose host carries a reporter of its own, the host's reporter handles it.
  const bool safecallReport = search.Caught() && search.Role == THandlerRole::SafeCall && !handled;
  if (!handled && !safecallReport && handledByHost.load()) handled = true;
  RecordVerdict(object, handled);
  lastSearch = search;
  TraceLeave("IsExceptionHandled",
             {handled, EndName(search.End), search.Kind, static_cast<int>(search.Role), search.Frames});
  return handled;
}

bool WasReportedAtRaise(const TExceptionObject& object) noexcept {
  void* key = object.Object();
  if (key == nullptr) return false;
  for (auto& slot : reportedObjects)
    if (slot.load() == key) return true;
  return false;
}

}  // namespace pelloran::crashlog
