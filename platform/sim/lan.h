// A simulated IPv4 LAN: the scheduler and its virtual clock, the hosts, the
// wire, name resolution, the trace and the one random generator. Everything
// that happens follows from the scenario and the seed: the same scenario with
// the same seed gives the same trace (Trace::digest), on any machine.
//
// Single-threaded: the LAN and everything made on it is used from the thread
// that runs it. Objects made on the LAN (instances, sockets, threads) should
// go before it; one that outlives it may only be destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/instance.h"
#include "platform/sim/faults.h"
#include "platform/sim/host.h"
#include "platform/sim/network.h"
#include "platform/sim/page.h"
#include "platform/sim/random.h"
#include "platform/sim/resolver.h"
#include "platform/sim/scheduler.h"
#include "platform/sim/trace.h"

namespace sim {

class SimEmbedding;
class SimLoop;

struct LanOptions {
  uint64_t seed = 1;
  NetworkFaults faults;
  // What a host's wall clock reads at virtual time 0, before its own offset:
  // 2026-01-01 00:00:00 UTC.
  int64_t wall_clock_epoch_us = int64_t{1767225600} * 1000000;
  Trace::Mode trace_mode = Trace::Mode::kRecord;
  // Datagrams a socket holds while nobody receives; later ones are dropped.
  size_t receive_queue_datagrams = 256;
  int64_t resolve_delay_us = 0;
};

class Lan {
 public:
  explicit Lan(LanOptions options = {});
  ~Lan();
  Lan(const Lan&) = delete;
  Lan& operator=(const Lan&) = delete;

  const LanOptions& options() const { return options_; }
  uint64_t seed() const { return options_.seed; }
  // "seed 0x2a (replay with PW_SIM_SEED=0x2a)", for test messages.
  std::string SeedText() const;

  // Adds a host; its address must be a dotted IPv4 address not in use.
  Host& AddHost(HostOptions options);
  Host& AddHost(const std::string& address);
  Host* FindHost(uint32_t address) const;
  Host* FindHost(std::string_view address) const;
  const std::vector<Host*>& hosts() const { return host_list_; }
  // The hosts on the /24 of `address`, in the order they were added.
  const std::vector<Host*>& HostsOnSubnet(uint32_t address) const;

  void AddName(std::string_view name, const std::string& address);
  const NameTable& names() const { return names_; }

  // From now until `heal_at_us`, datagrams between the two sides are dropped.
  void Partition(const std::vector<Host*>& side_a, const std::vector<Host*>& side_b,
                 int64_t heal_at_us);
  // The faults of later sends; change them at any time.
  NetworkFaults& faults() { return network_.faults(); }

  int64_t now_us() const { return scheduler_.now_us(); }
  // Runs everything due up to now + duration_us; the clock ends there.
  void RunFor(int64_t duration_us);
  void RunUntil(int64_t time_us);
  // Runs until `done` holds (checked before and after each action, as if on
  // no loop) or `timeout_us` has passed. Returns whether `done` holds.
  bool RunUntil(const std::function<bool()>& done, int64_t timeout_us);
  // Runs until nothing is pending or `max_actions` have run. True when idle.
  bool RunUntilIdle(uint64_t max_actions = 10'000'000);
  // Adds a line to the trace.
  void Note(std::string text);

  // The anchor: an instance on an embedding of no device, whose posts reach
  // the page of the device whose loop is running (see embedding.h).
  pp::Instance& anchor_instance() { return *anchor_instance_; }
  SimEmbedding& anchor() { return *anchor_; }
  // Values posted outside any loop through the anchor.
  Page& unrouted_page() { return unrouted_page_; }

  Scheduler& scheduler() { return scheduler_; }
  Random& random() { return random_; }
  Trace& trace() { return trace_; }
  Network& network() { return network_; }
  bool tearing_down() const { return tearing_down_; }
  // The SimLoop whose work the LAN is running, for a quick current-loop look-up.
  SimLoop* running_loop() const { return running_loop_; }
  void set_running_loop(SimLoop* loop) { running_loop_ = loop; }

 private:
  LanOptions options_;
  bool tearing_down_ = false;
  SimLoop* running_loop_ = nullptr;
  Scheduler scheduler_;
  Random random_;
  Trace trace_;
  NameTable names_;
  Network network_;
  Page unrouted_page_;
  std::vector<std::unique_ptr<Host>> hosts_;
  std::vector<Host*> host_list_;
  std::unordered_map<uint32_t, Host*> hosts_by_address_;
  std::unordered_map<uint32_t, std::vector<Host*>> hosts_by_subnet_;
  std::unique_ptr<SimEmbedding> anchor_;
  std::unique_ptr<pp::Instance> anchor_instance_;
};

// The seed to run with: PW_SIM_SEED from the environment (decimal or 0x-hex)
// when set, else `fallback`. Lets a failing randomised run be replayed.
uint64_t SeedFromEnvironment(uint64_t fallback);

}  // namespace sim
