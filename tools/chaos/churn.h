// Destruction under load on the simulated LAN: a Pacewire and a Cuebell
// instance destroyed and made again every few hundred milliseconds (now and
// then after living long enough to have sockets), while a peer host floods
// their ports with sync packets, monitoring requests, empty datagrams, junk and
// event texts, their pages send commands every few milliseconds, and a stable
// Pacewire parent keeps broadcasting. The run must not crash (the sanitizer
// builds also catch leaks and undefined behaviour), its trace must pass the
// audit of trace_audit.h, and the heap must not grow with the number of
// restarts beyond what the simulator keeps of each removed embedding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace chaos {

struct ChurnSettings {
  int64_t duration_us = 20'000'000;
  // Mean gap between two datagrams of the peer.
  int64_t flood_gap_us = 500;
};

struct ChurnReport {
  uint64_t seed = 0;
  uint64_t restarts = 0;  // instance stops seen in the trace
  uint64_t datagrams_delivered = 0;
  uint64_t posts = 0;
  uint64_t dropped_work = 0;
  uint64_t page_messages = 0;
  // Heap at a third of the run and at its end (page and trace records
  // dropped), and the restarts between the two.
  int64_t early_heap_bytes = 0;
  int64_t late_heap_bytes = 0;
  uint64_t restarts_between = 0;
  uint64_t trace_digest = 0;
  std::vector<std::string> problems;

  bool ok() const { return problems.empty(); }
};

// What the heap may grow by per restart: the simulator keeps every removed
// embedding (inert, with its name and its main loop) until the LAN goes.
constexpr int64_t kHeapPerRestartBytes = 1024;

ChurnReport RunChurn(uint64_t seed, const ChurnSettings& settings = {});

}  // namespace chaos
