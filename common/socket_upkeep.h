// The tick-by-tick upkeep that keeps a socket in line with a setting of the
// logic: a changed setting closes the socket at once (with its log line), and
// every 31st tick a socket that is not bound is made again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct UpkeepLines {
  const char* format;       // "%s Receiver Socket will be closed."
  const char* first_time;   // %s while nothing was applied yet ("[INIT] ...")
  const char* changed;      // %s on a later change
};

enum class CounterOnChange {
  kKeepCounting,  // a change leaves the re-check rhythm alone
  kRestart,       // a change restarts the count, so the socket follows 30 ticks later
};

class SocketUpkeep {
 public:
  static constexpr int32_t kRecheckAfterTicks = 30;

  SocketUpkeep(UpkeepLines lines, CounterOnChange on_change) : lines_(lines), on_change_(on_change) {}

  // One tick: closes the socket through `close_socket` when `setting` differs
  // from the applied one, then counts. Returns true on a re-check tick, on
  // which the caller makes the socket if it is not bound.
  bool Tick(const std::string& setting, const std::function<void()>& close_socket);

  const std::string& applied() const { return applied_; }
  int32_t retry_ticks() const { return retry_ticks_; }

 private:
  UpkeepLines lines_;
  CounterOnChange on_change_;
  std::string applied_;  // empty until the socket has been set up once
  int32_t retry_ticks_ = 0;
};
