// The thread that owns every kernel socket and name resolution of a Runtime.
//
// Asio sockets are not safe to use from several threads at once, and a
// module's socket is used from several (made on one worker, read on another,
// closed from a third). So no module thread ever touches an Asio socket: each
// operation is handed to this one thread, which starts it, and its result is
// posted back to the loop of the thread that asked. Module threads never block
// on the network.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "platform/backend.h"

namespace posix {

class Network {
 public:
  Network();
  // Stops the thread and destroys what is still pending; every socket and
  // resolver made on this network must be released before (the Runtime
  // documents this for its embedders).
  ~Network();
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  asio::io_context& io() { return io_; }
  // Runs `task` on the network thread, in the order of the calls.
  template <typename Task>
  void Run(Task&& task) {
    asio::post(io_, std::forward<Task>(task));
  }

 private:
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> keep_running_;
  std::thread thread_;
};

// The loop current on the calling thread, or null.
std::shared_ptr<pp::LoopBackend> CurrentLoop();

// Runs `deliver` on `loop` as one piece of its work; dropped if the loop has quit.
void PostToLoop(const std::shared_ptr<pp::LoopBackend>& loop, std::function<void()> deliver);

}  // namespace posix
