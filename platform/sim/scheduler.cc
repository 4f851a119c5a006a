#include "platform/sim/scheduler.h"

#include <algorithm>
#include <cassert>

namespace sim {

void Scheduler::At(int64_t time_us, Action action) {
  if (time_us <= now_us_) {
    due_now_.push_back(DueNow{next_sequence_++, std::move(action)});
    return;
  }
  uint32_t slot;
  if (!free_slots_.empty()) {
    slot = free_slots_.back();
    free_slots_.pop_back();
    slots_[slot] = std::move(action);
  } else {
    slot = static_cast<uint32_t>(slots_.size());
    slots_.push_back(std::move(action));
  }
  heap_.push_back(Key{time_us, next_sequence_++, slot});
  std::push_heap(heap_.begin(), heap_.end(), Later);
}

bool Scheduler::RunNext() {
  // Everything in due_now_ is due at now_us_, so only a heap action due now
  // and scheduled earlier goes before the queue's front.
  if (!due_now_.empty() && (heap_.empty() || heap_.front().time_us > now_us_ ||
                            heap_.front().sequence > due_now_.front().sequence)) {
    Action action = std::move(due_now_.front().action);
    due_now_.pop_front();
    Run(action);
    return true;
  }
  if (heap_.empty()) return false;
  std::pop_heap(heap_.begin(), heap_.end(), Later);
  const Key key = heap_.back();
  heap_.pop_back();
  now_us_ = key.time_us;
  Action action = std::move(slots_[key.slot]);
  slots_[key.slot] = nullptr;
  free_slots_.push_back(key.slot);
  Run(action);
  return true;
}

void Scheduler::Run(Action& action) {
  ++actions_run_;
  action();
}

void Scheduler::AdvanceTo(int64_t time_us) {
  assert(due_now_.empty() || time_us <= now_us_);
  assert(heap_.empty() || heap_.front().time_us >= time_us);
  if (time_us > now_us_) now_us_ = time_us;
}

void Scheduler::Clear() {
  // Released captures may schedule again (a socket that aborts its receive);
  // keep clearing until nothing is left.
  while (!empty()) {
    std::vector<Action> slots;
    slots.swap(slots_);
    std::deque<DueNow> due_now;
    due_now.swap(due_now_);
    heap_.clear();
    free_slots_.clear();
    slots.clear();
    due_now.clear();
  }
  slots_.clear();
}

}  // namespace sim
