#include "common/socket_upkeep.h"

#include "common/logger.h"

bool SocketUpkeep::Tick(const std::string& setting, const std::function<void()>& close_socket) {
  if (setting != applied_) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    Logger::Log(lines_.format, applied_.empty() ? lines_.first_time : lines_.changed);
#pragma GCC diagnostic pop
    close_socket();
    applied_ = setting;
    if (on_change_ == CounterOnChange::kRestart) retry_ticks_ = 0;
  }
  ++retry_ticks_;
  if (retry_ticks_ > kRecheckAfterTicks) {
    retry_ticks_ = 0;
    return true;
  }
  return false;
}
