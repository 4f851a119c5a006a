// A small module for scenarios on the simulated LAN. It binds one socket to
// 0.0.0.0:40000 with broadcasting on, ticks every 100 ms on a worker thread
// ("ticker") and broadcasts "tick <n> of <label>" on each tick, and posts to
// its page every datagram it hears: "heard <text> from <a.b.c.d:port>".
//
// Page messages (strings): "say <text>" broadcasts <text> at once, "clock"
// posts "clock <wall-clock micros>", "close" closes the socket, "forget"
// cancels the completion factory (every completion made so far does nothing).
// Lifecycle lines: "echo: up", "echo: gone", "receive failed: <code name>",
// "ticker has no loop".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/pp.h"
#include "platform/sim/sim.h"

namespace echo {

constexpr uint16_t kPort = 40000;

struct EchoOptions {
  std::string label;                                  // names the device in its datagrams
  std::string broadcast_address = "255.255.255.255";  // where ticks go
  bool broadcast_on_tick = true;
  // Runs on the ticker's loop at each tick, before the broadcast.
  std::function<void(int tick)> on_tick;
};

class EchoInstance : public pp::Instance {
 public:
  EchoInstance(PP_Instance instance, EchoOptions options);
  ~EchoInstance() override;

  bool Init(uint32_t argc, const char* argn[], const char* argv[]) override;
  void HandleMessage(const pp::Var& message) override;

  int ticks() const { return ticks_; }

 private:
  void Tick(int32_t result);
  void OnBound(int32_t result);
  void OnBroadcastAllowed(int32_t result);
  void Receive();
  void OnReceived(int32_t result, const pp::NetAddress& source);
  void OnSent(int32_t result);
  void Broadcast(const std::string& text);

  EchoOptions options_;
  pp::SimpleThread ticker_;
  pp::UDPSocket socket_;
  pp::NetAddress destination_;
  char buffer_[1500] = {};
  int ticks_ = 0;
  pp::CompletionCallbackFactory<EchoInstance> factory_{this};
};

// Runs an EchoInstance on `host`: created (and Init) on each start of the
// host's instance, destroyed on each stop, page messages handed to it.
class EchoDevice {
 public:
  explicit EchoDevice(sim::Host& host, EchoOptions options = {});
  ~EchoDevice();
  EchoDevice(const EchoDevice&) = delete;
  EchoDevice& operator=(const EchoDevice&) = delete;

  void Start() { host_.StartInstance(); }
  sim::Host& host() { return host_; }
  sim::Page& page() { return host_.page(); }
  EchoInstance* instance() { return instance_.get(); }

 private:
  sim::Host& host_;
  EchoOptions options_;
  std::unique_ptr<EchoInstance> instance_;
};

}  // namespace echo
