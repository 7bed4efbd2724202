#pragma once
// Values recorded per thread: the request objects a web host hands to the thread that serves the
// request. A web host serves requests on several threads at once; an error page must go to the
// request of the thread that failed, never to whichever request was recorded last, and a record
// must end with its request, when the host frees what it points to.

#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace pelloran::crashlog {

template <typename Thread, typename Value>
class TThreadRecords {
 public:
  // The value recorded for `thread` so far, if any.
  std::optional<Value> Find(const Thread& thread) const {
    std::lock_guard guard(lock_);
    for (const auto& [owner, value] : records_)
      if (owner == thread) return value;
    return std::nullopt;
  }

  // Records `value` for `thread`, or forgets its record when `value` is nothing.
  void Put(const Thread& thread, std::optional<Value> value) {
    std::lock_guard guard(lock_);
    for (auto it = records_.begin(); it != records_.end(); ++it) {
      if (it->first != thread) continue;
      if (value) it->second = std::move(*value);
      else records_.erase(it);
      return;
    }
    if (value) records_.emplace_back(thread, std::move(*value));
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::pair<Thread, Value>> records_;
};

// Records a value for one thread for the life of a scope, and puts back what that thread had
// before (a request served inside another on the same thread).
template <typename Thread, typename Value>
class TThreadRecordScope {
 public:
  TThreadRecordScope(TThreadRecords<Thread, Value>& records, Thread thread, Value value)
      : records_(records), thread_(std::move(thread)), previous_(records.Find(thread_)) {
    records_.Put(thread_, std::move(value));
  }
  ~TThreadRecordScope() {
    try {
      records_.Put(thread_, std::move(previous_));
    } catch (...) {
      // Without memory for it the earlier record is lost: its request then gets no page.
    }
  }
  TThreadRecordScope(const TThreadRecordScope&) = delete;
  TThreadRecordScope& operator=(const TThreadRecordScope&) = delete;

 private:
  TThreadRecords<Thread, Value>& records_;
  Thread thread_;
  std::optional<Value> previous_;
};

}  // namespace pelloran::crashlog
