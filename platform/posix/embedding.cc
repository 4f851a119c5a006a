#include "platform/posix/embedding.h"

#include <chrono>
#include <utility>

namespace posix {

Embedding::Embedding(Runtime& runtime, MessageSink sink)
    : runtime_(runtime), sink_(std::move(sink)) {}

void Embedding::PostMessage(const pp::Var& message) {
  std::lock_guard<std::mutex> lock(sink_mutex_);
  if (sink_) sink_(message);
}

std::unique_ptr<pp::WorkerThreadBackend> Embedding::CreateWorkerThread() {
  return runtime_.CreateWorkerThread();
}

std::shared_ptr<pp::UDPSocketBackend> Embedding::CreateUDPSocket() {
  return runtime_.CreateUDPSocket();
}

std::shared_ptr<pp::HostResolverBackend> Embedding::CreateHostResolver() {
  return runtime_.CreateHostResolver();
}

int64_t Embedding::WallClockMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace posix
