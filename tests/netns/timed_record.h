// An append-only record of things that arrive over time (output lines, datagrams),
// each stamped with the harness's steady clock when it arrived. One thread
// appends; any thread reads snapshots or waits for something to show up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace netns {

using Clock = std::chrono::steady_clock;

template <typename T>
class TimedRecord {
 public:
  struct Entry {
    Clock::time_point at;
    T value;
  };

  void Add(T value) {
    {
      std::lock_guard lock(mutex_);
      entries_.push_back({Clock::now(), std::move(value)});
    }
    changed_.notify_all();
  }

  // Marks the source as finished (end of output, socket closed): waits stop
  // waiting for entries that can no longer come.
  void Close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
  }

  bool closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
  }

  size_t size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }

  std::vector<Entry> Snapshot() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

  // The first entry at index `from` or later that satisfies `matches`, waiting
  // up to `timeout` for it; nothing when it did not come in time or the source
  // closed without it. `index`, when given, receives the entry's position.
  std::optional<Entry> WaitFor(const std::function<bool(const T&)>& matches,
                               Clock::duration timeout, size_t from = 0,
                               size_t* index = nullptr) const {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    size_t next = from;
    for (;;) {
      for (; next < entries_.size(); ++next) {
        if (matches(entries_[next].value)) {
          if (index != nullptr) *index = next;
          return entries_[next];
        }
      }
      if (closed_) return std::nullopt;
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout &&
          next == entries_.size()) {
        return std::nullopt;
      }
    }
  }

  // Waits up to `timeout` until `holds` is true of all entries so far; the
  // final answer of `holds`.
  bool WaitUntil(const std::function<bool(const std::vector<Entry>&)>& holds,
                 Clock::duration timeout) const {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
      if (holds(entries_)) return true;
      if (closed_) return false;
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return holds(entries_);
    }
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Entry> entries_;
  bool closed_ = false;
};

// Polls `condition` every `period` until it holds or `timeout` has passed; for
// conditions that span several records.
inline bool PollUntil(const std::function<bool()>& condition, Clock::duration timeout,
                      Clock::duration period = std::chrono::milliseconds(20)) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(period);
  }
}

}  // namespace netns
