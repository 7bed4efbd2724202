#include "crashlog/capture/call_stack.h"

#include <algorithm>
#include <vector>

#include "crashlog/capture/threads.h"
#include "crashlog/infra/diagnostics/trace.h"

namespace pelloran::crashlog {

namespace {

// A copy of the thread's creation stack, taken under the registry lock so that the scan can run
// without it; empty when there is none to show.
std::vector<std::uint8_t> CreationStackOf(std::uint32_t threadID) {
  auto& list = CrashThreads();
  TThreadsListLock hold(list);
  const int index = list.IndexOfID(threadID);
  if (index < 0 || list[index].ReporterThread) return {};
  return list[index].CreationStack;
}

}  // namespace

TCrashStackList BuildCallStack(TCrashModulesList& modules, std::uintptr_t address, bool isLanguageRaise,
                               std::uintptr_t stackStart, std::uintptr_t stackEnd, std::uint32_t threadID) {
  TraceEnter("BuildCallStack", {reinterpret_cast<const void*>(address), isLanguageRaise,
                                reinterpret_cast<const void*>(stackStart), reinterpret_cast<const void*>(stackEnd),
                                threadID});
  TCrashStackList list = StackScan(modules, address, stackStart, stackEnd);
  // The copy holds the creator's return addresses, which are code addresses and still valid.
  const std::vector<std::uint8_t> creation = CreationStackOf(threadID);
  if (creation.size() >= 4) {
    const auto low = reinterpret_cast<std::uintptr_t>(creation.data());
    TCrashStackList creator = StackScan(modules, 0, low, low + creation.size() - 4);
    list.insert(list.end(), std::make_move_iterator(creator.begin()), std::make_move_iterator(creator.end()));
  }
  RemoveTopDuplicate(list, isLanguageRaise);
  TraceLeave("BuildCallStack", {static_cast<int>(list.size())});
  return list;
}

void RemoveTopDuplicate(TCrashStackList& list, bool isLanguageRaise) {
  if (list.size() < 2) return;
  const std::uint32_t top = list[0].Address;
  const bool again = list[1].Address == top ||
                     (isLanguageRaise && std::any_of(list.begin() + 1, list.end(),
                                                     [&](const TCrashDebugInfo& entry) { return entry.Address == top; }));
  if (again) list.erase(list.begin());
}

}  // namespace pelloran::crashlog
