// SIGINT and SIGTERM as something to wait for, next to a socket: both signals
// are blocked for the process and arrive on a file descriptor, so a tool ends
// its loop in an orderly way (and exits with 0) instead of being killed.
//
// Install before any thread is started, so that every thread keeps them blocked.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace tool_io {

class StopSignals {
 public:
  static std::unique_ptr<StopSignals> Install(std::string* error);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  int fd() const { return fd_; }

 private:
  StopSignals() = default;
  int fd_ = -1;
};

enum class WaitOutcome { kReadable, kStopRequested, kTimedOut, kFailed };

// Waits up to `timeout` until `fd` has something to read or a stop signal
// arrives (a stop signal wins when both are ready).
WaitOutcome WaitForInput(int fd, const StopSignals& signals, std::chrono::milliseconds timeout);

}  // namespace tool_io
