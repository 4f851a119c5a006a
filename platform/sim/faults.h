// Faults a scenario injects. NetworkFaults shape every datagram between two
// different hosts of the LAN; a host's FaultPlan makes its platform refuse
// chosen operations, by count or by predicate.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sim {

// Delay of one datagram to another host: one_way_delay_min_us, plus an
// exponentially distributed part whose mean makes the whole delay average
// one_way_delay_mean_us, plus a uniform jitter in [0, jitter_us]. The default
// LAN is perfect: a constant 200 us, nothing lost, duplicated or reordered.
// Datagrams to the sender's own host take loopback_delay_us and no fault.
struct NetworkFaults {
  int64_t one_way_delay_min_us = 200;
  int64_t one_way_delay_mean_us = 200;
  int64_t jitter_us = 0;
  double loss_probability = 0;
  // Each copy that survives loss is delivered once more with this probability,
  // with a delay of its own.
  double duplicate_probability = 0;
  // A reordered datagram is held back by reorder_delay_us more, so that
  // datagrams sent after it overtake it.
  double reorder_probability = 0;
  int64_t reorder_delay_us = 5 * 1000;
  int64_t loopback_delay_us = 20;
};

// Refusals of one kind of operation. Each call of Check() is one attempt; the
// first refusal that applies gives the code. All counters count attempts.
class Injection {
 public:
  using Predicate = std::function<bool(std::string_view subject)>;

  // Refuse the next `times` attempts with `code`.
  void FailNext(int times, int32_t code);
  // Let `successes` attempts through, then refuse `times` with `code`.
  void FailAfter(int successes, int times, int32_t code);
  // Refuse every attempt from now on.
  void FailAlways(int32_t code);
  // Refuse every attempt whose subject (a loop name, a host text, a
  // destination...) satisfies `predicate`.
  void FailWhen(Predicate predicate, int32_t code);
  void Clear();

  // PP_OK when the attempt goes through, else the refusal code.
  int32_t Check(std::string_view subject = {});
  // The same, making the subject (a formatted text) only when a predicate
  // will read it: the hot paths call this on every datagram.
  template <typename MakeSubject>
  int32_t CheckLazily(MakeSubject&& make_subject) {
    return predicate_ ? Check(make_subject()) : Check();
  }
  int attempts() const { return attempts_; }
  int refusals() const { return refusals_; }

 private:
  int pass_before_ = 0;
  int fail_count_ = 0;  // -1: for ever
  int32_t fail_code_ = 0;
  Predicate predicate_;
  int32_t predicate_code_ = 0;
  int attempts_ = 0;
  int refusals_ = 0;
};

// What one host's platform refuses. Subjects handed to predicates are given per field.
struct FaultPlan {
  Injection create_socket;        // UDP socket object not made (null socket); subject ""
  Injection create_resolver;      // host resolver not made; subject ""
  Injection create_message_loop;  // worker thread without a loop; subject: loop name
  Injection start_thread;         // SimpleThread::Start fails; subject: loop name
  Injection post_work;            // PostWork returns the code, work not queued; subject: loop name
  Injection bind;                 // Bind completes with the code; subject: "a.b.c.d:port"
  Injection set_option;           // SetOption completes with the code; subject: option number
  Injection resolve;              // Resolve completes with the code; subject: host text
  Injection send_immediate;   // SendTo returns the code at once, nothing sent; subject: destination
  Injection send_completion;  // SendTo completes with the code, nothing sent; subject: destination
  Injection receive;          // RecvFrom completes with the code; subject: "a.b.c.d:port" bound
};

}  // namespace sim
