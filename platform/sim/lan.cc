#include "platform/sim/lan.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/sim/address.h"
#include "platform/sim/embedding.h"

namespace sim {
namespace {
class AnchorInstance : public pp::Instance {
 public:
  using pp::Instance::Instance;
};
}  // namespace

Lan::Lan(LanOptions options)
    : options_(options),
      random_(options.seed),
      trace_(options.trace_mode),
      network_(*this, options.faults),
      unrouted_page_(*this, nullptr),
      anchor_(std::make_unique<SimEmbedding>(*this, nullptr, "anchor", std::vector<std::string>{})),
      anchor_instance_(std::make_unique<AnchorInstance>(anchor_.get())) {}

Lan::~Lan() {
  tearing_down_ = true;
  scheduler_.Clear();
  // Hosts go before the rest; embeddings inside them release their loops.
  hosts_.clear();
}

std::string Lan::SeedText() const {
  char text[96];
  std::snprintf(text, sizeof text, "seed 0x%" PRIx64 " (replay with PW_SIM_SEED=0x%" PRIx64 ")",
                options_.seed, options_.seed);
  return text;
}

Host& Lan::AddHost(HostOptions options) {
  const auto address = ParseIpv4(options.address);
  if (!address || *address == kAnyAddress || IsLoopback(*address) || (*address & 0xFF) == 0xFF ||
      hosts_by_address_.count(*address)) {
    throw std::invalid_argument("sim::Lan::AddHost: unusable address " + options.address);
  }
  const std::string name = options.name;
  hosts_.push_back(std::make_unique<Host>(*this, *address, std::move(options)));
  Host* host = hosts_.back().get();
  host_list_.push_back(host);
  hosts_by_address_[*address] = host;
  hosts_by_subnet_[Subnet24(*address)].push_back(host);
  if (!name.empty()) names_.Add(name, *address);
  return *host;
}

Host& Lan::AddHost(const std::string& address) {
  HostOptions options;
  options.address = address;
  return AddHost(std::move(options));
}

Host* Lan::FindHost(uint32_t address) const {
  auto it = hosts_by_address_.find(address);
  return it == hosts_by_address_.end() ? nullptr : it->second;
}

Host* Lan::FindHost(std::string_view address) const {
  const auto parsed = ParseIpv4(address);
  return parsed ? FindHost(*parsed) : nullptr;
}

const std::vector<Host*>& Lan::HostsOnSubnet(uint32_t address) const {
  static const std::vector<Host*> kNone;
  auto it = hosts_by_subnet_.find(Subnet24(address));
  return it == hosts_by_subnet_.end() ? kNone : it->second;
}

void Lan::AddName(std::string_view name, const std::string& address) {
  const auto parsed = ParseIpv4(address);
  if (!parsed) throw std::invalid_argument("sim::Lan::AddName: not an address: " + address);
  names_.Add(name, *parsed);
}

void Lan::Partition(const std::vector<Host*>& side_a, const std::vector<Host*>& side_b,
                    int64_t heal_at_us) {
  sim::Partition partition;
  std::string text = "partition {";
  for (Host* host : side_a) {
    partition.side_a.push_back(host->address());
    text += " " + host->address_text();
  }
  text += " } | {";
  for (Host* host : side_b) {
    partition.side_b.push_back(host->address());
    text += " " + host->address_text();
  }
  text += " } until " + std::to_string(heal_at_us) + " us";
  partition.from_us = now_us();
  partition.heal_at_us = heal_at_us;
  network_.AddPartition(std::move(partition));
  Note(std::move(text));
}

void Lan::RunUntil(int64_t time_us) {
  while (!scheduler_.empty() && scheduler_.next_time_us() <= time_us) scheduler_.RunNext();
  scheduler_.AdvanceTo(time_us);
}

void Lan::RunFor(int64_t duration_us) {
  RunUntil(now_us() + duration_us);
}

bool Lan::RunUntil(const std::function<bool()>& done, int64_t timeout_us) {
  const int64_t deadline = now_us() + timeout_us;
  while (!done()) {
    if (scheduler_.empty() || scheduler_.next_time_us() > deadline) {
      scheduler_.AdvanceTo(deadline);
      return done();
    }
    scheduler_.RunNext();
  }
  return true;
}

bool Lan::RunUntilIdle(uint64_t max_actions) {
  for (uint64_t run = 0; run < max_actions; ++run) {
    if (!scheduler_.RunNext()) return true;
  }
  return scheduler_.empty();
}

void Lan::Note(std::string text) {
  trace_.Text(now_us(), TraceKind::kNote, std::move(text));
}

uint64_t SeedFromEnvironment(uint64_t fallback) {
  const char* text = std::getenv("PW_SIM_SEED");
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const unsigned long long seed = std::strtoull(text, &end, 0);
  return (end && *end == '\0') ? static_cast<uint64_t>(seed) : fallback;
}

}  // namespace sim
