#include "tests/stress/streamed_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace stress {

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

std::unique_ptr<StreamedProcess> StreamedProcess::Start(const std::vector<std::string>& argv,
                                                        LineHandler on_line, std::string* error) {
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
    if (getppid() != parent) _exit(127);
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

  setpgid(pid, pid);
  CloseFd(in[0]);
  CloseFd(out[1]);
  CloseFd(err[1]);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);

  std::unique_ptr<StreamedProcess> child(new StreamedProcess);
  child->pid_ = pid;
  child->stdin_fd_ = in[1];
  child->stdout_fd_ = out[0];
  child->stderr_fd_ = err[0];
  child->wake_read_fd_ = wake[0];
  child->wake_write_fd_ = wake[1];
  child->on_line_ = std::move(on_line);
  child->reader_ = std::thread([raw = child.get()] { raw->ReadStreams(); });
  return child;
}

StreamedProcess::~StreamedProcess() {
  Kill();
  FinishReading();
  CloseFd(stdin_fd_);
  CloseFd(stdout_fd_);
  CloseFd(stderr_fd_);
  CloseFd(wake_read_fd_);
  CloseFd(wake_write_fd_);
}

void StreamedProcess::ReadStreams() {
  std::string pending;
  std::vector<char> buffer(64 * 1024);
  bool out_open = true;
  bool err_open = true;

  // Hands over every complete line in `pending`; at the end, the unfinished one too.
  auto hand_over = [&](Clock::time_point at, bool at_end) {
    size_t start = 0;
    for (size_t newline; (newline = pending.find('\n', start)) != std::string::npos;
         start = newline + 1) {
      on_line_(std::string_view(pending).substr(start, newline - start), at);
    }
    pending.erase(0, start);
    if (at_end && !pending.empty()) {
      on_line_(pending, at);
      pending.clear();
    }
  };
  // Reads what is there without blocking; false at end of stream.
  auto drain = [&](int fd, bool is_stdout) {
    for (;;) {
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n > 0) {
        if (is_stdout) {
          pending.append(buffer.data(), static_cast<size_t>(n));
          hand_over(Clock::now(), false);
        } else {
          std::lock_guard lock(error_mutex_);
          const size_t room = kKeptErrorBytes - std::min(kKeptErrorBytes, error_output_.size());
          error_output_.append(buffer.data(), std::min(room, static_cast<size_t>(n)));
        }
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && errno == EAGAIN;
    }
  };

  while (out_open || err_open) {
    pollfd fds[3] = {{out_open ? stdout_fd_ : -1, POLLIN, 0},
                     {err_open ? stderr_fd_ : -1, POLLIN, 0},
                     {wake_read_fd_, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) out_open = drain(stdout_fd_, true);
    if (fds[1].revents != 0) err_open = drain(stderr_fd_, false);
    if (fds[2].revents != 0) {
      if (out_open) drain(stdout_fd_, true);
      if (err_open) drain(stderr_fd_, false);
      break;
    }
  }
  hand_over(Clock::now(), true);
  reader_done_.store(true);
}

void StreamedProcess::FinishReading() {
  if (!reader_.joinable()) return;
  // The streams end when the process has ended; a descendant that keeps them
  // open must not hold the harness up for long.
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
  while (!reader_done_.load() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const char byte = 0;
  [[maybe_unused]] ssize_t ignored = write(wake_write_fd_, &byte, 1);
  reader_.join();
}

bool StreamedProcess::WriteLine(std::string_view line) {
  if (stdin_fd_ < 0) return false;
  std::string data(line);
  data.push_back('\n');
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

void StreamedProcess::CloseInput() {
  CloseFd(stdin_fd_);
}

std::string StreamedProcess::ErrorOutput() const {
  std::lock_guard lock(error_mutex_);
  return error_output_;
}

bool StreamedProcess::Reap(int flags) {
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
  if (result < 0) wait_status_ = -1;
  return wait_status_.has_value();
}

std::optional<int> StreamedProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!Reap(WNOHANG)) {
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return wait_status_;
}

void StreamedProcess::Kill() {
  if (pid_ <= 0 || wait_status_) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  Reap(0);
}

}  // namespace stress
