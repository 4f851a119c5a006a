#include "platform/sim/network.h"

#include <algorithm>

#include "platform/pp_errors.h"
#include "platform/sim/address.h"
#include "platform/sim/host.h"
#include "platform/sim/lan.h"
#include "platform/sim/socket.h"

namespace sim {
namespace {
bool Contains(const std::vector<uint32_t>& side, uint32_t address) {
  return std::find(side.begin(), side.end(), address) != side.end();
}
}  // namespace

Network::Network(Lan& lan, NetworkFaults faults) : lan_(lan), faults_(faults) {}

int32_t Network::CheckRoute(const Host& from, uint32_t to, bool broadcast_allowed) const {
  if (IsLoopback(to) || to == from.address()) return PP_OK;
  if (IsBroadcastFrom(from.address(), to)) return broadcast_allowed ? PP_OK : PP_ERROR_NOACCESS;
  if (SameSubnet24(from.address(), to)) return PP_OK;
  return PP_ERROR_ADDRESS_UNREACHABLE;
}

void Network::AddPartition(Partition partition) {
  partitions_.push_back(std::move(partition));
}

bool Network::Partitioned(uint32_t a, uint32_t b) const {
  const int64_t now = lan_.now_us();
  for (const auto& partition : partitions_) {
    if (now < partition.from_us || now >= partition.heal_at_us) continue;
    if ((Contains(partition.side_a, a) && Contains(partition.side_b, b)) ||
        (Contains(partition.side_a, b) && Contains(partition.side_b, a))) {
      return true;
    }
  }
  return false;
}

int64_t Network::SampleDelay() {
  Random& random = lan_.random();
  int64_t delay = faults_.one_way_delay_min_us;
  if (faults_.one_way_delay_mean_us > faults_.one_way_delay_min_us) {
    delay += random.Exponential(faults_.one_way_delay_mean_us - faults_.one_way_delay_min_us);
  }
  if (faults_.jitter_us > 0) delay += random.UniformInt(0, faults_.jitter_us);
  if (random.Chance(faults_.reorder_probability)) delay += faults_.reorder_delay_us;
  return std::max<int64_t>(delay, 0);
}

void Network::Send(Host& from, uint16_t from_port, uint32_t to, uint16_t to_port,
                   std::shared_ptr<const std::string> bytes) {
  Trace& trace = lan_.trace();
  const int64_t now = lan_.now_us();
  // Datagrams over the loopback carry the loopback source address, as on Linux.
  const uint32_t source = IsLoopback(to) ? kLoopbackAddress : from.address();
  Datagram datagram{next_datagram_id_++, source, from_port, to, to_port, std::move(bytes)};
  const auto size = static_cast<int32_t>(datagram.bytes->size());
  trace.Datagram(now, TraceKind::kSend, datagram.id, datagram.from_address, from_port, to, to_port,
                 size);
  trace.Payload(datagram.bytes->data(), datagram.bytes->size());

  const bool broadcast = IsBroadcastFrom(from.address(), to);
  struct Arrival {
    int64_t time_us;
    Host* host;
  };
  std::vector<Arrival> arrivals;
  auto reach = [&](Host* host) {
    if (host == &from) {
      arrivals.push_back({now + faults_.loopback_delay_us, host});
      return;
    }
    if (Partitioned(from.address(), host->address())) {
      trace.Datagram(now, TraceKind::kDrop, datagram.id, datagram.from_address, from_port,
                     host->address(), to_port, size, DropReason::kPartition);
      return;
    }
    const int copies = lan_.random().Chance(faults_.duplicate_probability) ? 2 : 1;
    for (int copy = 0; copy < copies; ++copy) {
      if (lan_.random().Chance(faults_.loss_probability)) {
        trace.Datagram(now, TraceKind::kDrop, datagram.id, datagram.from_address, from_port,
                       host->address(), to_port, size, DropReason::kLoss);
        continue;
      }
      arrivals.push_back({now + SampleDelay(), host});
    }
  };

  if (IsLoopback(to) || to == from.address()) {
    reach(&from);
  } else if (broadcast) {
    for (Host* host : lan_.HostsOnSubnet(from.address())) reach(host);
  } else if (Host* host = lan_.FindHost(to)) {
    reach(host);
  } else {
    trace.Datagram(now, TraceKind::kDrop, datagram.id, datagram.from_address, from_port, to,
                   to_port, size, DropReason::kNoHost);
  }

  // One scheduler action per distinct arrival time keeps a fault-free
  // broadcast to a hundred hosts at two actions.
  std::stable_sort(arrivals.begin(), arrivals.end(),
                   [](const Arrival& a, const Arrival& b) { return a.time_us < b.time_us; });
  for (size_t begin = 0; begin < arrivals.size();) {
    size_t end = begin + 1;
    while (end < arrivals.size() && arrivals[end].time_us == arrivals[begin].time_us) ++end;
    std::vector<Host*> hosts;
    hosts.reserve(end - begin);
    for (size_t i = begin; i < end; ++i) hosts.push_back(arrivals[i].host);
    lan_.scheduler().At(arrivals[begin].time_us,
                        [this, datagram, broadcast, hosts = std::move(hosts)] {
                          for (Host* host : hosts) Arrive(*host, datagram, broadcast);
                        });
    begin = end;
  }
}

void Network::Arrive(Host& host, const Datagram& datagram, bool broadcast) {
  Trace& trace = lan_.trace();
  const auto size = static_cast<int32_t>(datagram.bytes->size());
  SimSocket* socket = host.SocketOnPort(datagram.to_port);
  const bool takes = socket && (socket->bound_address() == kAnyAddress ||
                                (!broadcast && socket->bound_address() == datagram.to_address));
  if (!takes) {
    trace.Datagram(lan_.now_us(), TraceKind::kDrop, datagram.id, datagram.from_address,
                   datagram.from_port, host.address(), datagram.to_port, size,
                   DropReason::kNoListener);
    return;
  }
  const bool queued = socket->Receive(datagram);
  trace.Datagram(lan_.now_us(), queued ? TraceKind::kDeliver : TraceKind::kDrop, datagram.id,
                 datagram.from_address, datagram.from_port, host.address(), datagram.to_port, size,
                 queued ? DropReason::kNone : DropReason::kQueueFull);
}

}  // namespace sim
