#include "platform/posix/asio_loop.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <utility>

#include "platform/pp_errors.h"

namespace posix {

AsioLoop::AsioLoop(std::string name)
    : name_(std::move(name)), keep_running_(asio::make_work_guard(io_)) {}

// Work still queued is destroyed with the io_context, without running.
AsioLoop::~AsioLoop() = default;

int32_t AsioLoop::PostWork(const pp::CompletionCallback& callback, int64_t delay_ms) {
  if (quit_.load()) return PP_OK;
  // Handlers run only inside Run(), and whoever runs the loop holds it alive,
  // so they can refer to the loop without owning it (owning it would make the
  // io_context keep its own owner alive).
  if (delay_ms <= 0) {
    asio::post(io_, [this, callback] { RunWork(callback); });
    return PP_OK;
  }
  auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(delay_ms));
  timer->async_wait([this, timer, callback](const std::error_code&) { RunWork(callback); });
  return PP_OK;
}

void AsioLoop::PostQuit() {
  quit_.store(true);
  io_.stop();
}

void AsioLoop::Run() {
  pp::internal::ScopedCurrentLoop current(this);
  if (!quit_.load()) io_.run();
  // Release the work that quit left queued now rather than with the loop:
  // each piece finds the loop quit and returns without running.
  io_.restart();
  io_.poll();
}

void AsioLoop::RunWork(const pp::CompletionCallback& callback) {
  if (quit_.load()) return;
  callback.Run(PP_OK);
}

}  // namespace posix
