// The wire of the simulated LAN: which hosts a datagram reaches, when, and
// which copies are lost, duplicated or held back.
//
// - 255.255.255.255 and the a.b.c.255 of the sender's /24 reach every host of
//   that /24, the sender's own included; there, only a socket bound to 0.0.0.0
//   on the port takes it (a socket bound to the host's own address does not
//   see broadcasts, as on Linux).
// - A unicast to a host of the /24 reaches it; a socket bound to 0.0.0.0 or to
//   that address on the port takes it. The sender's own address and 127.0.0.0/8
//   loop back to the sender's host.
// - Anything else has no route: the send fails with PP_ERROR_ADDRESS_UNREACHABLE.
// Faults (NetworkFaults, partitions) apply between different hosts only and
// are decided when the datagram is sent; which socket takes it is decided when
// it arrives. Every send, delivery and drop is traced.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/faults.h"

namespace sim {

class Host;
class Lan;

struct Datagram {
  uint64_t id = 0;
  uint32_t from_address = 0;
  uint16_t from_port = 0;
  uint32_t to_address = 0;  // as the sender addressed it
  uint16_t to_port = 0;
  std::shared_ptr<const std::string> bytes;
};

// Between virtual times [from_us, heal_at_us), datagrams between a host of
// side_a and a host of side_b are dropped.
struct Partition {
  std::vector<uint32_t> side_a;
  std::vector<uint32_t> side_b;
  int64_t from_us = 0;
  int64_t heal_at_us = 0;
};

class Network {
 public:
  Network(Lan& lan, NetworkFaults faults);

  NetworkFaults& faults() { return faults_; }
  // PP_OK, PP_ERROR_NOACCESS for a broadcast from a socket without the
  // broadcast option, PP_ERROR_ADDRESS_UNREACHABLE when there is no route.
  int32_t CheckRoute(const Host& from, uint32_t to, bool broadcast_allowed) const;
  // Puts a datagram on the wire now. The route must have been checked.
  void Send(Host& from, uint16_t from_port, uint32_t to, uint16_t to_port,
            std::shared_ptr<const std::string> bytes);

  void AddPartition(Partition partition);
  bool Partitioned(uint32_t a, uint32_t b) const;

 private:
  int64_t SampleDelay();
  void Arrive(Host& host, const Datagram& datagram, bool broadcast);

  Lan& lan_;
  NetworkFaults faults_;
  std::vector<Partition> partitions_;
  uint64_t next_datagram_id_ = 1;
};

}  // namespace sim
