#include "platform/posix/network.h"

#include "platform/completion_callback.h"

namespace posix {

Network::Network() : keep_running_(asio::make_work_guard(io_)), thread_([this] { io_.run(); }) {}

Network::~Network() {
  io_.stop();
  thread_.join();
}

std::shared_ptr<pp::LoopBackend> CurrentLoop() {
  pp::LoopBackend* loop = pp::internal::CurrentLoop();
  return loop ? loop->weak_from_this().lock() : nullptr;
}

void PostToLoop(const std::shared_ptr<pp::LoopBackend>& loop, std::function<void()> deliver) {
  loop->PostWork(pp::CompletionCallback([deliver = std::move(deliver)](int32_t) { deliver(); }), 0);
}

}  // namespace posix
