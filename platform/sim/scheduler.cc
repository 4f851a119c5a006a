#include "platform/sim/scheduler.h"

#include <algorithm>
#include <cassert>

namespace sim {

void Scheduler::At(int64_t time_us, Action action) {
  uint32_t slot;
  if (!free_slots_.empty()) {
    slot = free_slots_.back();
    free_slots_.pop_back();
    slots_[slot] = std::move(action);
  } else {
    slot = static_cast<uint32_t>(slots_.size());
    slots_.push_back(std::move(action));
  }
  heap_.push_back(Key{std::max(time_us, now_us_), next_sequence_++, slot});
  std::push_heap(heap_.begin(), heap_.end(), Later);
}

bool Scheduler::RunNext() {
  if (heap_.empty()) return false;
  std::pop_heap(heap_.begin(), heap_.end(), Later);
  const Key key = heap_.back();
  heap_.pop_back();
  now_us_ = key.time_us;
  Action action = std::move(slots_[key.slot]);
  slots_[key.slot] = nullptr;
  free_slots_.push_back(key.slot);
  ++actions_run_;
  action();
  return true;
}

void Scheduler::AdvanceTo(int64_t time_us) {
  assert(heap_.empty() || heap_.front().time_us >= time_us);
  if (time_us > now_us_) now_us_ = time_us;
}

void Scheduler::Clear() {
  // Released captures may schedule again (a socket that aborts its receive);
  // keep clearing until nothing is left.
  while (!heap_.empty()) {
    std::vector<Action> slots;
    slots.swap(slots_);
    heap_.clear();
    free_slots_.clear();
    slots.clear();
  }
  slots_.clear();
}

}  // namespace sim
