// Logical message loops. Every worker thread and every embedding's platform
// main thread is a SimLoop: its work is an action on the LAN's scheduler that
// runs with the loop set as the current one (pp::MessageLoop::GetCurrent), on
// the scheduler's one OS thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"

namespace sim {

class Host;
class Lan;

class SimLoop : public pp::LoopBackend {
 public:
  // `host` is the device whose code the loop runs (its page gets what the
  // code posts); null for loops of no device.
  SimLoop(Lan& lan, Host* host, std::string name, bool started);

  // pp::LoopBackend. PostWork is refused with the host's injected post_work
  // code, and with PP_ERROR_FAILED once the loop has quit.
  int32_t PostWork(const pp::CompletionCallback& callback, int64_t delay_ms) override;
  void PostQuit() override;
  std::string name() const override { return name_; }

  // Queues `work` to run on this loop `delay_us` from now, without refusals:
  // the platform's own completions and page messages come this way. Dropped
  // (and traced) if the loop has quit by then.
  void Queue(int64_t delay_us, std::function<void()> work);
  // Runs `work` now as this loop's work, unless the loop has quit (then it is
  // dropped and traced). For scheduler actions that are already due.
  void RunAsWork(const std::function<void()>& work);

  // Work queued before Start waits for it.
  void Start();
  bool started() const { return started_; }
  bool quit() const { return quit_; }
  Host* host() const { return host_; }
  Lan& lan() const { return lan_; }

  // The SimLoop whose work is running on this thread, if any.
  static SimLoop* Current();
  // The same, when it belongs to `lan`; the loop an operation started now
  // completes on.
  static std::shared_ptr<SimLoop> CurrentOn(const Lan& lan);

 private:
  void Dispatch(std::function<void()>& work);

  Lan& lan_;
  Host* host_;
  std::string name_;
  bool started_;
  bool quit_ = false;
  std::vector<std::function<void()>> waiting_for_start_;
};

class SimWorkerThread : public pp::WorkerThreadBackend {
 public:
  // `loop` is null when the platform refused to make one.
  SimWorkerThread(std::shared_ptr<SimLoop> loop, Host* host);

  std::shared_ptr<pp::LoopBackend> loop() override { return loop_; }
  // Registers the loop so that its work runs; there is no OS thread.
  bool Start() override;
  // Quits the loop; nothing to wait for.
  void QuitAndJoin() override;

 private:
  std::shared_ptr<SimLoop> loop_;
  Host* host_;
};

}  // namespace sim
