// A message loop: one Asio io_context, run by exactly one thread at a time.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/backend.h"

namespace posix {

class AsioLoop final : public pp::LoopBackend {
 public:
  explicit AsioLoop(std::string name);
  ~AsioLoop() override;
  AsioLoop(const AsioLoop&) = delete;
  AsioLoop& operator=(const AsioLoop&) = delete;

  // Delay 0 queues behind the work already queued; a positive delay arms a
  // timer. Work posted after PostQuit is accepted (PP_OK) and dropped.
  int32_t PostWork(const pp::CompletionCallback& callback, int64_t delay_ms) override;
  // Permanent: the loop never runs work again. Callable from any thread.
  void PostQuit() override;
  std::string name() const override { return name_; }

  // Runs the loop's work on the calling thread until PostQuit; returns at once
  // when the loop has quit already. The calling thread sees this loop as its
  // current one while it runs.
  void Run();
  bool has_quit() const { return quit_.load(); }

 private:
  void RunWork(const pp::CompletionCallback& callback);

  const std::string name_;
  asio::io_context io_;
  // Keeps run() waiting while no work is queued; only PostQuit ends it.
  asio::executor_work_guard<asio::io_context::executor_type> keep_running_;
  // Checked before every piece of work, so that nothing queued runs once the
  // loop has been told to quit, even if run() has not noticed the stop yet.
  std::atomic<bool> quit_{false};
};

}  // namespace posix
