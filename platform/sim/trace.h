// What happened on a simulated LAN, in virtual-time order: every datagram sent,
// delivered or dropped (with the reason), every value posted to a page, page
// messages, work dropped by quit loops, instance restarts and clock steps.
// A running digest over the same fields makes "same seed, same run" a one-line
// check; recording the events themselves is optional (long benchmarks turn it off).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class TraceKind {
  kSend,         // a datagram left a socket
  kDeliver,      // a datagram reached a socket's receive queue
  kDrop,         // a datagram was lost on the way; see DropReason
  kPost,         // a value was posted to a page
  kPageMessage,  // the page sent a message to its instance
  kDroppedWork,  // work or a completion reached a loop that had quit
  kLifecycle,    // an instance was started or stopped on a host
  kClockStep,    // a host's wall clock was stepped
  kNote,         // anything a scenario wants in the trace
};

enum class DropReason {
  kNone,
  kLoss,        // random loss
  kPartition,   // sender and receiver were on different sides of a partition
  kNoHost,      // no host has the destination address
  kNoListener,  // nothing bound to the destination port on the host
  kQueueFull,   // the receiving socket's queue was full
};

const char* TraceKindName(TraceKind kind);
const char* DropReasonName(DropReason reason);

struct TraceEvent {
  int64_t time_us = 0;
  TraceKind kind = TraceKind::kNote;
  uint64_t datagram = 0;  // id of the datagram, 0 for other events
  uint32_t from_address = 0;
  uint16_t from_port = 0;
  uint32_t to_address = 0;  // for deliveries and drops: the receiving host
  uint16_t to_port = 0;
  int32_t size = 0;
  DropReason reason = DropReason::kNone;
  std::string text;  // loop or host name and the value, for non-datagram events
};

// One line per event: "1.000200 deliver #12 10.0.0.1:40000 -> 10.0.0.2:47475 48 bytes".
std::string ToString(const TraceEvent& event);

class Trace {
 public:
  enum class Mode { kOff, kDigestOnly, kRecord };

  explicit Trace(Mode mode = Mode::kRecord) : mode_(mode) {}
  Mode mode() const { return mode_; }
  void set_mode(Mode mode) { mode_ = mode; }

  void Datagram(int64_t time_us, TraceKind kind, uint64_t datagram, uint32_t from_address,
                uint16_t from_port, uint32_t to_address, uint16_t to_port, int32_t size,
                DropReason reason = DropReason::kNone);
  void Text(int64_t time_us, TraceKind kind, std::string text);
  // Folds a datagram's bytes into the digest, so that runs which differ only
  // in what they send differ too.
  void Payload(const void* bytes, size_t size) {
    if (mode_ != Mode::kOff) Mix(bytes, size);
  }

  // FNV-1a over every event so far (kOff leaves it unchanged).
  uint64_t digest() const { return digest_; }
  const std::vector<TraceEvent>& events() const { return events_; }
  std::vector<TraceEvent> EventsOfKind(TraceKind kind) const;
  // All recorded events, one line each.
  std::string Dump() const;
  void ClearEvents() { events_.clear(); }

 private:
  void Mix(const void* bytes, size_t size);
  template <typename T>
  void MixValue(T value) {
    Mix(&value, sizeof value);
  }

  Mode mode_;
  uint64_t digest_ = 0xCBF29CE484222325ull;
  std::vector<TraceEvent> events_;
};

}  // namespace sim
