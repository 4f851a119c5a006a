#include "tests/netns/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace netns {

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads what is there without blocking; false at end of stream.
bool Drain(int fd, std::string& pending, size_t* bytes = nullptr) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      pending.append(buffer, static_cast<size_t>(n));
      if (bytes != nullptr) *bytes += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    return false;
  }
}

}  // namespace

std::string DescribeWaitStatus(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

std::string Transcript(const ChildProcess& process) {
  std::string text;
  const auto lines = process.output().Snapshot();
  for (const auto& line : lines) {
    const auto since_first =
        std::chrono::duration_cast<std::chrono::milliseconds>(line.at - lines.front().at);
    text += "  +" + std::to_string(since_first.count()) + " ms " + line.value + "\n";
  }
  const std::string errors = process.ErrorOutput();
  if (!errors.empty()) text += "  stderr:\n" + errors;
  return text;
}

bool CommandResult::succeeded() const {
  return started && WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  std::string* error) {
  if (argv.empty() || argv[0].empty() || argv[0][0] != '/') {
    *error = "the program must be given by its absolute path";
    return nullptr;
  }
  // Everything the child uses is made before fork: between fork and exec it
  // only makes async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, wake[2] = {-1, -1};
  auto close_all = [&] {
    for (int* pair : {in, out, err, wake}) {
      CloseFd(pair[0]);
      CloseFd(pair[1]);
    }
  };
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
      pipe2(wake, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    close_all();
    return nullptr;
  }

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    close_all();
    return nullptr;
  }
  if (pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the harness is already gone
    // dup2 clears close-on-exec on the copies; every other descriptor of ours
    // is close-on-exec.
    if (dup2(in[0], STDIN_FILENO) < 0 || dup2(out[1], STDOUT_FILENO) < 0 ||
        dup2(err[1], STDERR_FILENO) < 0) {
      _exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    execv(args[0], args.data());
    static const char kExecFailed[] = "exec failed\n";
    [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, kExecFailed, sizeof kExecFailed - 1);
    _exit(127);
  }

  setpgid(pid, pid);  // also here, so the group exists before Start returns
  CloseFd(in[0]);
  CloseFd(out[1]);
  CloseFd(err[1]);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);

  std::unique_ptr<ChildProcess> child(new ChildProcess);
  child->pid_ = pid;
  child->stdin_fd_ = in[1];
  child->stdout_fd_ = out[0];
  child->stderr_fd_ = err[0];
  child->wake_read_fd_ = wake[0];
  child->wake_write_fd_ = wake[1];
  child->reader_ = std::thread([raw = child.get()] { raw->ReadStreams(); });
  return child;
}

ChildProcess::~ChildProcess() {
  Kill();
  FinishReading();
  CloseFd(stdin_fd_);
  CloseFd(stdout_fd_);
  CloseFd(stderr_fd_);
  CloseFd(wake_read_fd_);
  CloseFd(wake_write_fd_);
}

void ChildProcess::ReadStreams() {
  std::string out_pending;
  std::string err_pending;
  bool out_open = true;
  bool err_open = true;
  auto flush_lines = [&](bool at_end) {
    size_t newline;
    while ((newline = out_pending.find('\n')) != std::string::npos) {
      output_.Add(out_pending.substr(0, newline));
      out_pending.erase(0, newline + 1);
    }
    if (at_end && !out_pending.empty()) {
      output_.Add(out_pending);
      out_pending.clear();
    }
  };
  auto keep_errors = [&] {
    std::lock_guard lock(error_mutex_);
    error_output_ += err_pending;
    err_pending.clear();
  };

  while (out_open || err_open) {
    pollfd fds[3] = {{out_open ? stdout_fd_ : -1, POLLIN, 0},
                     {err_open ? stderr_fd_ : -1, POLLIN, 0},
                     {wake_read_fd_, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) out_open = Drain(stdout_fd_, out_pending);
    if (fds[1].revents != 0) err_open = Drain(stderr_fd_, err_pending);
    flush_lines(false);
    keep_errors();
    if (fds[2].revents != 0) {
      // Asked to stop: take what the pipes still hold and end.
      if (out_open) Drain(stdout_fd_, out_pending);
      if (err_open) Drain(stderr_fd_, err_pending);
      break;
    }
  }
  flush_lines(true);
  keep_errors();
  output_.Close();
}

void ChildProcess::FinishReading() {
  if (!reader_.joinable()) return;
  // The streams end when the process (and anything that inherited them) has
  // ended; a descendant that keeps them open must not hold the harness up.
  output_.WaitUntil([](const auto&) { return false; }, std::chrono::seconds(1));
  const char byte = 0;
  [[maybe_unused]] ssize_t ignored = write(wake_write_fd_, &byte, 1);
  reader_.join();
}

bool ChildProcess::WriteLine(std::string_view line) {
  std::string data(line);
  data.push_back('\n');
  return WriteRaw(data);
}

bool ChildProcess::WriteRaw(std::string_view data) {
  if (stdin_fd_ < 0) return false;
  // A child that stopped reading makes write fail with EPIPE; the SIGPIPE that
  // comes with it is blocked on this thread and taken off again.
  sigset_t pipe_signal, previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  bool ok = true;
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = write(stdin_fd_, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      if (errno == EPIPE) {
        const timespec no_wait{};
        sigtimedwait(&pipe_signal, nullptr, &no_wait);
      }
      break;
    }
    written += static_cast<size_t>(n);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ok;
}

void ChildProcess::CloseInput() {
  CloseFd(stdin_fd_);
}

std::string ChildProcess::ErrorOutput() const {
  std::lock_guard lock(error_mutex_);
  return error_output_;
}

bool ChildProcess::Reap(int flags) {
  if (wait_status_) return true;
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid_, &status, flags);
  } while (result < 0 && errno == EINTR);
  if (result == pid_) {
    wait_status_ = status;
    return true;
  }
  if (result < 0) wait_status_ = -1;  // not our child any more: nothing left to wait for
  return wait_status_.has_value();
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!Reap(WNOHANG)) {
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return wait_status_;
}

int ChildProcess::Stop(std::chrono::milliseconds grace) {
  CloseInput();
  if (WaitForExit(grace)) return *wait_status_;
  kill(pid_, SIGTERM);
  if (WaitForExit(grace)) return *wait_status_;
  Kill();
  return *wait_status_;
}

void ChildProcess::Kill() {
  if (pid_ <= 0 || wait_status_) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  Reap(0);
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  CommandResult result;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start(argv, &result.error);
  if (!child) return result;
  result.started = true;
  child->CloseInput();
  if (!child->WaitForExit(timeout)) {
    child->Kill();
    result.error = "killed after running longer than " + std::to_string(timeout.count()) + " ms\n";
  }
  child->FinishReading();
  result.wait_status = *child->WaitForExit(std::chrono::milliseconds(0));
  for (const auto& line : child->output().Snapshot()) result.output += line.value + "\n";
  result.error += child->ErrorOutput();
  return result;
}

}  // namespace netns
