// An Embedding for tests of code that only posts to the page and reads the
// clock: it records every posted value and serves a clock the test sets. It
// makes no threads, sockets or resolvers (each request yields a null resource).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/pp.h"

namespace pp::testing {

class RecordingEmbedding : public Embedding {
 public:
  void PostMessage(const Var& message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(message);
  }
  std::unique_ptr<WorkerThreadBackend> CreateWorkerThread() override { return nullptr; }
  std::shared_ptr<UDPSocketBackend> CreateUDPSocket() override { return nullptr; }
  std::shared_ptr<HostResolverBackend> CreateHostResolver() override { return nullptr; }
  int64_t WallClockMicros() override { return clock_micros_; }

  void set_clock_micros(int64_t micros) { clock_micros_ = micros; }

  std::vector<Var> posted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
  }
  // The text of every posted string value (the log lines), in order.
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& value : posted_) {
      if (value.is_string()) out.push_back(value.AsString());
    }
    return out;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Var> posted_;
  int64_t clock_micros_ = 0;
};

// A plain instance on a RecordingEmbedding, for code that needs a pp::Instance*.
class RecordingInstance : public Instance {
 public:
  RecordingInstance() : Instance(&embedding_) {}
  RecordingEmbedding& page() { return embedding_; }
  const RecordingEmbedding& page() const { return embedding_; }

 private:
  RecordingEmbedding embedding_;
};

}  // namespace pp::testing
