// The discrete-event scheduler of a simulated LAN: one queue of actions over
// virtual time in microseconds, run on the calling OS thread. Actions due at the
// same time run in the order they were scheduled, so a run depends only on what
// was scheduled, never on the machine.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace sim {

constexpr int64_t kMicrosecond = 1;
constexpr int64_t kMillisecond = 1000;
constexpr int64_t kSecond = 1000 * kMillisecond;

class Scheduler {
 public:
  using Action = std::function<void()>;

  int64_t now_us() const { return now_us_; }
  // Runs `action` at `time_us` (at once-next, if that is already past).
  void At(int64_t time_us, Action action);
  void After(int64_t delay_us, Action action) { At(now_us_ + delay_us, std::move(action)); }

  bool empty() const { return heap_.empty() && due_now_.empty(); }
  size_t pending() const { return heap_.size() + due_now_.size(); }
  // Due time of the next action; only meaningful when !empty().
  int64_t next_time_us() const { return due_now_.empty() ? heap_.front().time_us : now_us_; }
  // Runs the next action, first moving the clock to its due time. False when none.
  bool RunNext();
  // Moves the clock forward to `time_us` without running anything; nothing may be due before it.
  void AdvanceTo(int64_t time_us);
  // Drops every pending action (their captures are released here).
  void Clear();

  uint64_t actions_run() const { return actions_run_; }

 private:
  struct Key {
    int64_t time_us;
    uint64_t sequence;
    uint32_t slot;
  };
  static bool Later(const Key& a, const Key& b) {
    return a.time_us != b.time_us ? a.time_us > b.time_us : a.sequence > b.sequence;
  }

  void Run(Action& action);

  int64_t now_us_ = 0;
  uint64_t next_sequence_ = 0;
  uint64_t actions_run_ = 0;
  std::vector<Key> heap_;
  // Actions scheduled for the current time, in sequence order: most
  // completions are, and a queue serves them without the heap's log n.
  struct DueNow {
    uint64_t sequence;
    Action action;
  };
  std::deque<DueNow> due_now_;
  // Actions live in slots so that the heap only moves small keys.
  std::vector<Action> slots_;
  std::vector<uint32_t> free_slots_;
};

}  // namespace sim
