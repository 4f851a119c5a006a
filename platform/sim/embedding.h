// The platform of one module instance on a simulated host (pp::Embedding):
// its platform main-thread loop, the worker threads, sockets and resolvers it
// makes, its wall clock (the host's), and page routing.
//
// Every value posted through any embedding of a LAN goes to the page of the
// device whose loop is running at that moment, because the process-wide
// Logger remembers one instance while the simulation runs many devices in one
// process. Outside any loop the value goes to the embedding's own page. The
// LAN's anchor embedding (no host) works the same way, so a scenario can give
// its instance to Logger::InitializeInstance and every device's lines reach
// that device's page.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/instance.h"

namespace sim {

class Host;
class Lan;
class SimLoop;
class SimSocket;

class SimEmbedding : public pp::Embedding {
 public:
  // `host` null makes the anchor: it routes posts and reads clocks by the
  // current device, and makes no resources.
  SimEmbedding(Lan& lan, Host* host, std::string label, std::vector<std::string> worker_names);
  ~SimEmbedding() override;

  void PostMessage(const pp::Var& message) override;
  // Null resources once removed; the host's FaultPlan may refuse them too.
  std::unique_ptr<pp::WorkerThreadBackend> CreateWorkerThread() override;
  std::shared_ptr<pp::UDPSocketBackend> CreateUDPSocket() override;
  std::shared_ptr<pp::HostResolverBackend> CreateHostResolver() override;
  int64_t WallClockMicros() override;

  // "10.0.0.3" for a host's first embedding, "10.0.0.3/2" for the next...
  const std::string& label() const { return label_; }
  Host* host() const { return host_; }
  pp::InstanceHandle handle() { return pp::InstanceHandle(this); }
  // What the platform hands to a new pp::Instance built on this embedding.
  PP_Instance pp_instance() { return this; }
  // "<label> platform-main"; null for the anchor.
  const std::shared_ptr<SimLoop>& main_loop() const { return main_loop_; }
  // Queues `work` on the platform main-thread loop, as the platform runs
  // Init, page messages and destruction.
  void RunOnMainLoop(std::function<void()> work, int64_t delay_us = 0);

  bool removed() const { return removed_; }
  // Quits every loop and closes every socket made here. Called by Host.
  void Shutdown();

 private:
  Lan& lan_;
  Host* host_;
  std::string label_;
  std::vector<std::string> worker_names_;
  std::shared_ptr<SimLoop> main_loop_;
  size_t workers_made_ = 0;
  std::vector<std::weak_ptr<SimLoop>> loops_;
  std::vector<std::weak_ptr<SimSocket>> sockets_;
  bool removed_ = false;
};

}  // namespace sim
