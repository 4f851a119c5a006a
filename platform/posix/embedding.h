// One embed of a module on the real platform: values posted to the page go to
// a sink that the embedder supplies; threads, sockets and resolvers come from
// the Runtime, which must outlive the embedding.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/backend.h"
#include "platform/posix/runtime.h"

namespace posix {

class Embedding final : public pp::Embedding {
 public:
  using MessageSink = std::function<void(const pp::Var& message)>;

  Embedding(Runtime& runtime, MessageSink sink);

  // Callable from any thread; the sink is called for one value at a time, in
  // the order the posting threads get through, so it needs no lock of its own.
  void PostMessage(const pp::Var& message) override;
  std::unique_ptr<pp::WorkerThreadBackend> CreateWorkerThread() override;
  std::shared_ptr<pp::UDPSocketBackend> CreateUDPSocket() override;
  std::shared_ptr<pp::HostResolverBackend> CreateHostResolver() override;
  // The system's wall clock: steps of the system time show.
  int64_t WallClockMicros() override;

 private:
  Runtime& runtime_;
  std::mutex sink_mutex_;
  const MessageSink sink_;
};

}  // namespace posix
