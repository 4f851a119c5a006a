#include "platform/sim/host.h"

#include "platform/pp_errors.h"
#include "platform/sim/address.h"
#include "platform/sim/embedding.h"
#include "platform/sim/lan.h"
#include "platform/sim/loop.h"

namespace sim {
namespace {
constexpr uint16_t kFirstEphemeralPort = 49152;
}  // namespace

Host::Host(Lan& lan, uint32_t address, HostOptions options)
    : lan_(lan),
      address_(address),
      options_(std::move(options)),
      clock_(lan.options().wall_clock_epoch_us, options_.clock_offset_us, options_.clock_drift_ppm),
      page_(lan, this) {}

Host::~Host() {
  // Sockets and threads that outlive the LAN must find nothing of it to touch
  // when they are destroyed: closed sockets hold no port.
  if (live_) live_->Shutdown();
}

int64_t Host::WallClockMicros() const {
  return clock_.WallAt(lan_.now_us());
}

void Host::StepClockAt(int64_t virtual_us, int64_t delta_us) {
  clock_.StepAt(virtual_us, delta_us);
  lan_.scheduler().At(virtual_us, [this, delta_us] {
    lan_.trace().Text(lan_.now_us(), TraceKind::kClockStep,
                      address_text() + " " + std::to_string(delta_us) + " us");
  });
}

SimEmbedding& Host::AddEmbedding() {
  if (live_) RemoveEmbedding();
  ++embeddings_made_;
  std::string label = address_text();
  if (embeddings_made_ > 1) {
    label.push_back('/');
    label.append(std::to_string(embeddings_made_));
  }
  live_ = std::make_unique<SimEmbedding>(lan_, this, std::move(label), options_.worker_names);
  return *live_;
}

void Host::RemoveEmbedding() {
  if (!live_) return;
  live_->Shutdown();
  retired_.push_back(std::move(live_));
}

void Host::StartInstance() {
  SimEmbedding& embedding = AddEmbedding();
  lan_.trace().Text(lan_.now_us(), TraceKind::kLifecycle, "start " + embedding.label());
  embedding.main_loop()->Queue(0, [this, &embedding] {
    if (hooks_.start) hooks_.start(embedding);
  });
}

void Host::StopInstance(std::function<void()> then) {
  SimEmbedding* embedding = live_.get();
  if (!embedding) {
    if (then) then();
    return;
  }
  // The stop hook runs as the platform main thread's work; removal follows in
  // the same step so that nothing of the old instance runs in between.
  embedding->main_loop()->Queue(0, [this, embedding, then = std::move(then)] {
    lan_.trace().Text(lan_.now_us(), TraceKind::kLifecycle, "stop " + embedding->label());
    if (hooks_.stop) hooks_.stop(*embedding);
    if (live_.get() == embedding) RemoveEmbedding();
    if (then) then();
  });
}

void Host::StopInstanceAt(int64_t virtual_us) {
  lan_.scheduler().At(virtual_us, [this] { StopInstance(nullptr); });
}

void Host::RestartAt(int64_t virtual_us, int64_t downtime_us) {
  lan_.scheduler().At(virtual_us, [this, downtime_us] {
    StopInstance([this, downtime_us] {
      if (downtime_us <= 0) {
        StartInstance();
      } else {
        lan_.scheduler().After(downtime_us, [this] { StartInstance(); });
      }
    });
  });
}

int32_t Host::BindPort(SimSocket* socket, uint32_t address, uint16_t port, uint16_t* bound_port) {
  if (address != kAnyAddress && address != address_) return PP_ERROR_ADDRESS_INVALID;
  if (port == 0) {
    constexpr int kEphemeralCount = 65536 - kFirstEphemeralPort;
    for (int tried = 0; tried < kEphemeralCount; ++tried) {
      const uint16_t candidate = next_ephemeral_port_;
      next_ephemeral_port_ =
          candidate == 65535 ? kFirstEphemeralPort : static_cast<uint16_t>(candidate + 1);
      if (!ports_.count(candidate)) {
        port = candidate;
        break;
      }
    }
    if (port == 0) return PP_ERROR_ADDRESS_IN_USE;
  } else if (ports_.count(port)) {
    return PP_ERROR_ADDRESS_IN_USE;
  }
  ports_[port] = socket;
  *bound_port = port;
  return PP_OK;
}

void Host::ReleasePort(uint16_t port, const SimSocket* socket) {
  auto it = ports_.find(port);
  if (it != ports_.end() && it->second == socket) ports_.erase(it);
}

SimSocket* Host::SocketOnPort(uint16_t port) const {
  auto it = ports_.find(port);
  return it == ports_.end() ? nullptr : it->second;
}

}  // namespace sim
