// Module instances on the simulated LAN: each device is a host of the LAN that
// runs one Pacewire or Cuebell instance, made and destroyed on its platform
// main-thread loop as the platform does, with a page that records what the
// instance posts and sends it page messages.
//
// The process-wide Logger is given the LAN's anchor instance, so every
// device's log lines reach that device's own page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/pp.h"
#include "platform/sim/sim.h"

namespace scenario {

enum class ModuleKind { kPacewire, kCuebell };

class Device {
 public:
  Device(sim::Host& host, ModuleKind kind);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  sim::Host& host() { return host_; }
  sim::Page& page() { return host_.page(); }
  const std::string& address() const { return host_.address_text(); }
  ModuleKind kind() const { return kind_; }
  // The live instance, or null while the device is down.
  pp::Instance* instance() const { return instance_.get(); }
  // How many instances this device has run (restarts add one each).
  int instances_started() const { return instances_started_; }

  // Sends the page message {"key": key, "value": value} now or at `time_us`.
  void Send(const std::string& key, const std::string& value);
  void SendAt(int64_t time_us, const std::string& key, const std::string& value);

  // Destroys the instance now, on its platform main-thread loop, as when the
  // embed goes away; the host stays up. The LAN runs for no time meanwhile.
  void DestroyInstanceNow();

 private:
  void Start(sim::SimEmbedding& embedding);
  void Stop(sim::SimEmbedding& embedding);

  sim::Host& host_;
  ModuleKind kind_;
  std::unique_ptr<pp::Module> module_;
  std::unique_ptr<pp::Instance> instance_;
  int instances_started_ = 0;
};

class ModuleWorld {
 public:
  explicit ModuleWorld(sim::LanOptions options = {});
  // Destroys every live instance (on its loop), then the LAN.
  ~ModuleWorld();
  ModuleWorld(const ModuleWorld&) = delete;
  ModuleWorld& operator=(const ModuleWorld&) = delete;

  sim::Lan& lan() { return *lan_; }

  // Adds a host at `options.address` and starts a module instance on it now
  // (Init runs at the current virtual time).
  Device& AddDevice(sim::HostOptions options, ModuleKind kind);
  Device& AddDevice(const std::string& address, ModuleKind kind);
  const std::vector<std::unique_ptr<Device>>& devices() const { return devices_; }
  Device* FindDevice(const std::string& address) const;

  void RunFor(int64_t duration_us) { lan_->RunFor(duration_us); }
  int64_t now_us() const { return lan_->now_us(); }

 private:
  std::unique_ptr<sim::Lan> lan_;
  std::vector<std::unique_ptr<Device>> devices_;
};

// Worker thread names in creation order, as both modules' instances make them.
std::vector<std::string> ModuleWorkerNames();

}  // namespace scenario
