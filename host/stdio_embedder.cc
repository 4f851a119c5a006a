#include "host/stdio_embedder.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "common/utils.h"
#include "host/page_json.h"
#include "platform/posix/embedding.h"
#include "platform/posix/runtime.h"
#include "platform/pp.h"

namespace host {

namespace {

// A page message is a few hundred bytes; a line longer than this is not one,
// and is dropped as it arrives rather than held in memory.
constexpr size_t kMaxLineBytes = size_t{1} << 20;

// Reads stdin line by line on its own thread and hands each line to the main
// loop, with whether it was too long (then its text is dropped). A pipe wakes
// it up when the program stops before the input ends.
class StdinReader {
 public:
  StdinReader() {
    if (pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
  }
  ~StdinReader() {
    Stop();
    for (int fd : wake_) {
      if (fd >= 0) close(fd);
    }
  }

  template <typename OnLine, typename OnEnd>
  void Start(OnLine on_line, OnEnd on_end) {
    thread_ = std::thread([this, on_line, on_end] {
      std::string pending;
      bool too_long = false;  // the current line passed kMaxLineBytes
      char buffer[4096];
      for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, wake_[0] >= 0 ? 2 : 1, -1) < 0) {
          if (errno == EINTR) continue;
          break;
        }
        if (fds[1].revents) return;  // stopping
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size_t scan_from = pending.size();  // bytes before hold no newline
        pending.append(buffer, static_cast<size_t>(n));
        size_t newline;
        while ((newline = pending.find('\n', scan_from)) != std::string::npos) {
          on_line(too_long ? std::string() : pending.substr(0, newline), too_long);
          too_long = false;
          pending.erase(0, newline + 1);
          scan_from = 0;
        }
        if (pending.size() > kMaxLineBytes) {
          too_long = true;
          pending.clear();
        }
      }
      if (!pending.empty() || too_long) on_line(too_long ? std::string() : pending, too_long);
      on_end();
    });
  }

  void Stop() {
    if (!thread_.joinable()) return;
    if (wake_[1] >= 0) {
      const char byte = 0;
      [[maybe_unused]] ssize_t ignored = write(wake_[1], &byte, 1);
    }
    thread_.join();
  }

 private:
  int wake_[2];
  std::thread thread_;
};

// Waits for SIGINT and SIGTERM on its own thread (they are blocked everywhere
// else) and turns them into one call of `on_signal` on that thread.
class SignalWatcher {
 public:
  template <typename OnSignal>
  explicit SignalWatcher(OnSignal on_signal) {
    thread_ = std::thread([this, on_signal] {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, SIGINT);
      sigaddset(&set, SIGTERM);
      for (;;) {
        int signal_number = 0;
        if (sigwait(&set, &signal_number) != 0) continue;
        if (stopping_) return;
        on_signal();
      }
    });
  }
  ~SignalWatcher() {
    stopping_ = true;
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
  }

 private:
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

void BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a closed stdout must not kill the embed mid-destruction
}

void WriteLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int RunStdioEmbedder(int argc, char** argv, const EmbedderProgram& program) {
  CLI::App app(std::string(program.description) +
                   "\n\nPage channel: each stdin line is one JSON page message; every value the "
                   "module posts is one JSON line on stdout. End of input, SIGINT or SIGTERM end "
                   "the embed.",
               program.name);
  app.set_version_flag("--version", std::string(program.name) + " " + GetVersion());
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }

  BlockStopSignals();  // before any thread starts, so every thread inherits it

  posix::Runtime runtime;
  posix::Embedding embedding(runtime,
                             [](const pp::Var& value) { WriteLine(FormatPageValue(value)); });
  const pp::MessageLoop main_loop = runtime.main_loop();

  std::unique_ptr<pp::Module> module(pp::CreateModule());
  std::unique_ptr<pp::Instance> instance;
  bool ended = false;

  // Everything below runs on the main loop, one step at a time.
  const auto end_embed = [&] {
    if (ended) return;
    ended = true;
    instance.reset();  // destruction logs the instance's last line
    runtime.QuitMainLoop();
  };
  const auto on_main_loop = [&](std::function<void()> step) {
    main_loop.PostWork(pp::CompletionCallback([step](int32_t) { step(); }));
  };

  on_main_loop([&] {
    instance.reset(module->CreateInstance(&embedding));
    instance->Init(0, nullptr, nullptr);
  });

  StdinReader reader;
  int line_number = 0;
  reader.Start(
      [&](const std::string& line, bool too_long) {
        const int number = ++line_number;
        on_main_loop([&, line, number, too_long] {
          if (ended) return;
          if (too_long) {
            std::fprintf(stderr, "%s: line %d: longer than %zu bytes, skipped\n", program.name,
                         number, kMaxLineBytes);
            return;
          }
          std::string error;
          auto message = ParsePageLine(line, &error);
          if (!message) {
            std::fprintf(stderr, "%s: line %d: %s, skipped\n", program.name, number, error.c_str());
            return;
          }
          instance->HandleMessage(*message);
        });
      },
      [&] { on_main_loop(end_embed); });
  SignalWatcher signals([&] { on_main_loop(end_embed); });

  runtime.RunMainLoop();
  end_embed();  // in case the loop ended some other way
  reader.Stop();
  return 0;
}

}  // namespace host
