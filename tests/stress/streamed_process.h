// A program run by a load harness with pipes on its standard streams, for
// programs that write far more than a harness should keep: every stdout line
// is handed to a handler, stamped with the moment the harness read it, and then
// forgotten. Only the first part of stderr is kept, for failure reports. The
// process is ended and reaped when the object goes away, and killed when the
// thread that started it ends (so a harness that dies leaves nothing running).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace stress {

using Clock = std::chrono::steady_clock;

class StreamedProcess {
 public:
  // Called on the reader thread, one line at a time, without its newline.
  using LineHandler = std::function<void(std::string_view line, Clock::time_point read_at)>;
  static constexpr size_t kKeptErrorBytes = 64 * 1024;

  // Starts argv[0] (an absolute path) with argv. Nothing, with `error` set,
  // when it cannot start.
  static std::unique_ptr<StreamedProcess> Start(const std::vector<std::string>& argv,
                                                LineHandler on_line, std::string* error);
  ~StreamedProcess();
  StreamedProcess(const StreamedProcess&) = delete;
  StreamedProcess& operator=(const StreamedProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Writes `line` and a newline to stdin; false once the child no longer reads.
  bool WriteLine(std::string_view line);
  // End of input: a program that reads stdin sees it end.
  void CloseInput();

  // The wait status (as waitpid reports it) once the child has ended within
  // `timeout`; nothing while it still runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // SIGKILL to the child's process group, then reaps it.
  void Kill();
  // Waits (briefly) for the end of output, then stops reading. After this no
  // handler call is running or will come.
  void FinishReading();

  // The first kKeptErrorBytes of stderr.
  std::string ErrorOutput() const;

 private:
  StreamedProcess() = default;
  void ReadStreams();
  bool Reap(int flags);

  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  int wake_read_fd_ = -1;
  int wake_write_fd_ = -1;
  std::optional<int> wait_status_;
  LineHandler on_line_;
  mutable std::mutex error_mutex_;
  std::string error_output_;
  std::atomic<bool> reader_done_{false};
  std::thread reader_;
};

}  // namespace stress
