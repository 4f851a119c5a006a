// One UDP sender that throws a pool of datagrams at a few destinations as fast
// as one thread can (sendmmsg, a batch per call), or at a capped rate, for a
// set time or until told to stop. What comes back to its socket (the monitoring
// packets a device sends to the address a set-monitoring request named) is
// read and counted on the way.
//
// Safety: a flooder lives either inside a lab namespace (made there on a
// short-lived thread; the harness's own namespace is refused) or in the
// harness's own namespace with loopback destinations only (127.0.0.0/8);
// Open and Run refuse anything else.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/stress/flood_datagrams.h"

namespace stress {

struct FloodTarget {
  std::string ipv4;  // dotted
  uint16_t port = 0;
};

struct FloodStats {
  KindCounts sent{};
  uint64_t total_sent = 0;
  uint64_t refused = 0;  // datagrams the kernel would not take (buffers full)
  uint64_t received = 0;
  uint64_t monitoring_packets_received = 0;  // 104-byte monitoring records among them
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point ended;
  double seconds() const { return std::chrono::duration<double>(ended - started).count(); }
  double rate() const { return seconds() > 0 ? static_cast<double>(total_sent) / seconds() : 0; }
};

class Flooder {
 public:
  static constexpr size_t kBatch = 64;

  // A flooder inside the lab namespace `netns_name` (as made by `ip netns
  // add`), or, with an empty name, on loopback in the harness's own namespace.
  static std::unique_ptr<Flooder> Open(const std::string& netns_name, std::string* error);
  ~Flooder();
  Flooder(const Flooder&) = delete;
  Flooder& operator=(const Flooder&) = delete;

  // The port the flooder's socket is bound to (on all its namespace's addresses).
  uint16_t port() const { return port_; }

  // Sends `pool` round and round to `targets` (taking turns) on the calling
  // thread until `duration` has passed or Stop is called. `max_per_second` 0
  // means as fast as it goes. False, with `error`, when a target is refused.
  bool Run(const DatagramPool& pool, const std::vector<FloodTarget>& targets,
           std::chrono::milliseconds duration, uint64_t max_per_second, FloodStats* stats,
           std::string* error);
  // Callable from any thread: the running Run returns soon.
  void Stop() { stop_.store(true); }

 private:
  Flooder() = default;
  void DrainReplies(FloodStats* stats);

  int fd_ = -1;
  uint16_t port_ = 0;
  bool on_loopback_ = false;
  std::atomic<bool> stop_{false};
};

}  // namespace stress
