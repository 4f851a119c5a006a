// One machine of the simulated LAN: an IPv4 address, its own wall clock, the
// faults its platform injects, its page, its UDP port table, and at most one
// live embedding (the module instance's platform) at a time. A restart removes
// the live embedding, as if the device's process died, and makes a fresh one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sim/clock.h"
#include "platform/sim/faults.h"
#include "platform/sim/page.h"

namespace sim {

class Lan;
class SimEmbedding;
class SimSocket;

struct HostOptions {
  std::string address;  // "10.0.0.3"
  std::string name;     // resolvable on the LAN when not empty
  int64_t clock_offset_us = 0;
  double clock_drift_ppm = 0;
  // Names of the worker threads the instance creates, in creation order; the
  // k-th worker's loop is called "<host> <name>" ("10.0.0.3 mainThread"),
  // later ones "<host> worker<k>".
  std::vector<std::string> worker_names;
};

// How the scenario brings its instance up on a fresh embedding and tears it
// down. Both run on the embedding's platform main-thread loop, as the platform
// creates and destroys instances.
struct InstanceHooks {
  std::function<void(SimEmbedding&)> start;
  std::function<void(SimEmbedding&)> stop;
};

class Host {
 public:
  Host(Lan& lan, uint32_t address, HostOptions options);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  uint32_t address() const { return address_; }
  const std::string& address_text() const { return options_.address; }
  const std::string& name() const { return options_.name; }
  Lan& lan() const { return lan_; }

  HostClock& clock() { return clock_; }
  int64_t WallClockMicros() const;
  // Steps the wall clock by `delta_us` at `virtual_us` (and traces it then).
  void StepClockAt(int64_t virtual_us, int64_t delta_us);

  FaultPlan& faults() { return faults_; }
  Page& page() { return page_; }

  // The live embedding, or null.
  SimEmbedding* embedding() const { return live_.get(); }
  // A fresh embedding for a fresh instance; a live one is removed first.
  SimEmbedding& AddEmbedding();
  // Removes the live embedding as the death of its process would: its loops
  // quit (queued work is dropped) and its sockets close (their ports are free
  // again). The object stays valid, inert, until the LAN goes away.
  void RemoveEmbedding();

  void SetInstanceHooks(InstanceHooks hooks) { hooks_ = std::move(hooks); }
  // Makes a fresh embedding now and runs the start hook on its main loop.
  void StartInstance();
  // Runs the stop hook on the live embedding's main loop, then removes it.
  void StopInstanceAt(int64_t virtual_us);
  // Stops the instance at `virtual_us` and starts a fresh one `downtime_us` later.
  void RestartAt(int64_t virtual_us, int64_t downtime_us = 0);

  // The port table. Binding to an address other than 0.0.0.0 and the host's
  // own gives PP_ERROR_ADDRESS_INVALID, a taken port PP_ERROR_ADDRESS_IN_USE;
  // port 0 takes the next free port from 49152 up.
  int32_t BindPort(SimSocket* socket, uint32_t address, uint16_t port, uint16_t* bound_port);
  void ReleasePort(uint16_t port, const SimSocket* socket);
  SimSocket* SocketOnPort(uint16_t port) const;

 private:
  void StopInstance(std::function<void()> then);

  Lan& lan_;
  uint32_t address_;
  HostOptions options_;
  HostClock clock_;
  FaultPlan faults_;
  Page page_;
  InstanceHooks hooks_;
  std::unordered_map<uint16_t, SimSocket*> ports_;
  uint16_t next_ephemeral_port_ = 49152;
  int embeddings_made_ = 0;
  std::unique_ptr<SimEmbedding> live_;
  std::vector<std::unique_ptr<SimEmbedding>> retired_;
};

}  // namespace sim
