#include "platform/sim/trace.h"

#include <cinttypes>
#include <cstdio>

#include "platform/sim/address.h"

namespace sim {

const char* TraceKindName(TraceKind kind) {
  switch (kind) {
    case TraceKind::kSend:
      return "send";
    case TraceKind::kDeliver:
      return "deliver";
    case TraceKind::kDrop:
      return "drop";
    case TraceKind::kPost:
      return "post";
    case TraceKind::kPageMessage:
      return "page-message";
    case TraceKind::kDroppedWork:
      return "dropped-work";
    case TraceKind::kLifecycle:
      return "lifecycle";
    case TraceKind::kClockStep:
      return "clock-step";
    case TraceKind::kNote:
      return "note";
  }
  return "?";
}

const char* DropReasonName(DropReason reason) {
  switch (reason) {
    case DropReason::kNone:
      return "none";
    case DropReason::kLoss:
      return "loss";
    case DropReason::kPartition:
      return "partition";
    case DropReason::kNoHost:
      return "no-host";
    case DropReason::kNoListener:
      return "no-listener";
    case DropReason::kQueueFull:
      return "queue-full";
  }
  return "?";
}

std::string ToString(const TraceEvent& event) {
  char head[64];
  std::snprintf(head, sizeof head, "%" PRId64 ".%06" PRId64 " %s", event.time_us / 1000000,
                event.time_us % 1000000, TraceKindName(event.kind));
  std::string line = head;
  if (event.datagram != 0) {
    line += " #" + std::to_string(event.datagram) + " " +
            FormatEndpoint(event.from_address, event.from_port) + " -> " +
            FormatEndpoint(event.to_address, event.to_port) + " " + std::to_string(event.size) +
            " bytes";
    if (event.reason != DropReason::kNone)
      line += std::string(" (") + DropReasonName(event.reason) + ")";
  }
  if (!event.text.empty()) line += " " + event.text;
  return line;
}

void Trace::Mix(const void* bytes, size_t size) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (size_t i = 0; i < size; ++i) {
    digest_ ^= p[i];
    digest_ *= 0x100000001B3ull;
  }
}

void Trace::Datagram(int64_t time_us, TraceKind kind, uint64_t datagram, uint32_t from_address,
                     uint16_t from_port, uint32_t to_address, uint16_t to_port, int32_t size,
                     DropReason reason) {
  if (mode_ == Mode::kOff) return;
  MixValue(time_us);
  MixValue(static_cast<uint8_t>(kind));
  MixValue(datagram);
  MixValue(from_address);
  MixValue(from_port);
  MixValue(to_address);
  MixValue(to_port);
  MixValue(size);
  MixValue(static_cast<uint8_t>(reason));
  if (mode_ == Mode::kRecord) {
    events_.push_back(TraceEvent{
        time_us, kind, datagram, from_address, from_port, to_address, to_port, size, reason, {}});
  }
}

void Trace::Text(int64_t time_us, TraceKind kind, std::string text) {
  if (mode_ == Mode::kOff) return;
  MixValue(time_us);
  MixValue(static_cast<uint8_t>(kind));
  Mix(text.data(), text.size());
  MixValue(uint8_t{0});
  if (mode_ == Mode::kRecord) {
    TraceEvent event;
    event.time_us = time_us;
    event.kind = kind;
    event.text = std::move(text);
    events_.push_back(std::move(event));
  }
}

std::vector<TraceEvent> Trace::EventsOfKind(TraceKind kind) const {
  std::vector<TraceEvent> out;
  for (const auto& event : events_) {
    if (event.kind == kind) out.push_back(event);
  }
  return out;
}

std::string Trace::Dump() const {
  std::string out;
  for (const auto& event : events_) {
    out += ToString(event);
    out += '\n';
  }
  return out;
}

}  // namespace sim
