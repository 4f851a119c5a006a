#include "tools/event/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tool_io {

std::unique_ptr<StopSignals> StopSignals::Install(std::string* error) {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) {
    *error = std::string("cannot block SIGINT and SIGTERM: ") + std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<StopSignals> signals(new StopSignals);
  signals->fd_ = signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signals->fd_ < 0) {
    *error = std::string("signalfd: ") + std::strerror(errno);
    return nullptr;
  }
  return signals;
}

StopSignals::~StopSignals() {
  if (fd_ >= 0) close(fd_);
}

WaitOutcome WaitForInput(int fd, const StopSignals& signals, std::chrono::milliseconds timeout) {
  pollfd watched[2] = {{signals.fd(), POLLIN, 0}, {fd, POLLIN, 0}};
  const auto milliseconds = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
      timeout.count(), 0, std::chrono::milliseconds::rep{60000}));
  const int ready = poll(watched, 2, milliseconds);
  if (ready < 0) return errno == EINTR ? WaitOutcome::kTimedOut : WaitOutcome::kFailed;
  if (ready == 0) return WaitOutcome::kTimedOut;
  if ((watched[0].revents & POLLIN) != 0) return WaitOutcome::kStopRequested;
  if ((watched[1].revents & (POLLIN | POLLERR)) != 0) return WaitOutcome::kReadable;
  return WaitOutcome::kFailed;
}

}  // namespace tool_io
