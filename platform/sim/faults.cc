#include "platform/sim/faults.h"

#include "platform/pp_errors.h"

namespace sim {

void Injection::FailNext(int times, int32_t code) {
  FailAfter(0, times, code);
}

void Injection::FailAfter(int successes, int times, int32_t code) {
  pass_before_ = successes;
  fail_count_ = times;
  fail_code_ = code;
}

void Injection::FailAlways(int32_t code) {
  FailAfter(0, -1, code);
}

void Injection::FailWhen(Predicate predicate, int32_t code) {
  predicate_ = std::move(predicate);
  predicate_code_ = code;
}

void Injection::Clear() {
  *this = Injection();
}

int32_t Injection::Check(std::string_view subject) {
  ++attempts_;
  if (fail_count_ != 0) {
    if (pass_before_ > 0) {
      --pass_before_;
    } else {
      if (fail_count_ > 0) --fail_count_;
      ++refusals_;
      return fail_code_;
    }
  }
  if (predicate_ && predicate_(subject)) {
    ++refusals_;
    return predicate_code_;
  }
  return PP_OK;
}

}  // namespace sim
