// The conformance suite's driver for the real backend: one embedding on a
// Runtime whose main loop runs on a thread of its own. Everything goes over
// loopback: the device's own address is 127.0.0.1.
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "platform/posix/embedding.h"
#include "platform/posix/runtime.h"
#include "tests/platform/conformance/backend_driver.h"

namespace conformance {
namespace {

class PosixDriver : public BackendDriver {
 public:
  PosixDriver()
      : embedding_(runtime_, [](const pp::Var&) {}),
        main_thread_([this] { runtime_.RunMainLoop(); }) {}
  ~PosixDriver() override {
    runtime_.QuitMainLoop();
    main_thread_.join();
  }

  std::string name() const override { return "posix"; }
  pp::Embedding& embedding() override { return embedding_; }
  std::string local_address() const override { return "127.0.0.1"; }

  void RunOnMainLoop(const std::function<void()>& fn) override {
    std::promise<void> ran;
    runtime_.main_loop().PostWork(pp::CompletionCallback([&](int32_t) {
      fn();
      ran.set_value();
    }));
    ran.get_future().wait();
  }

  bool RunUntil(const std::function<bool()>& done, int64_t timeout_ms) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
      bool met = false;
      RunOnMainLoop([&] { met = done(); });
      if (met) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  void RunFor(int64_t duration_ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(duration_ms));
  }

 private:
  posix::Runtime runtime_;
  posix::Embedding embedding_;
  std::thread main_thread_;
};

}  // namespace

std::unique_ptr<BackendDriver> MakeBackendDriver() {
  return std::make_unique<PosixDriver>();
}

}  // namespace conformance
