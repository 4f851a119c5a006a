// A program started by the harness with pipes on its standard streams: lines
// written to its stdin, every stdout line recorded with its arrival time, its
// stderr kept for failure reports. The process is always ended and reaped when
// the object goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/netns/timed_record.h"

namespace netns {

class ChildProcess {
 public:
  // Starts argv[0] (an absolute path) with argv. The child is in a process
  // group of its own and is killed when the thread that started it ends (so a
  // harness that dies leaves nothing running); start it from a thread that
  // lives as long as the process should. Nothing, with `error` set, when the
  // process could not be started.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                             std::string* error);

  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Writes `line` and a newline to the child's stdin; false once the child no
  // longer reads (or stdin was closed).
  bool WriteLine(std::string_view line);
  // Writes `data` as it is, with no newline added.
  bool WriteRaw(std::string_view data);
  // Ends the child's input: a program that reads stdin sees end of input.
  void CloseInput();

  // Every stdout line, without its newline. Closed at end of output.
  const TimedRecord<std::string>& output() const { return output_; }
  // What the child wrote to stderr so far.
  std::string ErrorOutput() const;

  // The wait status (as waitpid reports it) once the child has ended, waiting
  // up to `timeout`; nothing if it is still running.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // Asks the child to end, then insists: end of input, `grace` to exit, then
  // SIGTERM and `grace` again, then SIGKILL to its whole process group. Returns
  // the wait status.
  int Stop(std::chrono::milliseconds grace);
  // SIGKILL to the child's process group, then reaps it.
  void Kill();

  bool exited() const { return wait_status_.has_value(); }

  // Waits (briefly) for the end of the child's output and stops recording it;
  // after this, output() and ErrorOutput() are complete. For a child that has
  // ended.
  void FinishReading();

 private:
  ChildProcess() = default;
  void ReadStreams();
  bool Reap(int flags);

  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  int wake_read_fd_ = -1;  // wakes the reader when the harness stops recording
  int wake_write_fd_ = -1;
  std::optional<int> wait_status_;
  TimedRecord<std::string> output_;
  mutable std::mutex error_mutex_;
  std::string error_output_;
  std::thread reader_;
};

// Everything the process wrote so far, for failure messages: each stdout line
// with its arrival time relative to the first, then stderr.
std::string Transcript(const ChildProcess& process);

// Describes a wait status for messages: "exit 0", "signal 9".
std::string DescribeWaitStatus(int status);

// Runs argv to completion with no input, collecting stdout and stderr; the
// process is killed when it runs past `timeout`.
struct CommandResult {
  bool started = false;
  int wait_status = -1;  // as waitpid reports it
  std::string output;    // stdout lines, each with its newline
  std::string error;     // stderr, or why the command could not start
  bool succeeded() const;
};
CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

}  // namespace netns
