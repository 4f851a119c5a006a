#include "tools/chaos/churn.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "pacewire/packets.h"
#include "platform/pp.h"
#include "platform/sim/sim.h"
#include "scenario/module_world.h"
#include "scenario/reference_page.h"
#include "tools/chaos/heap_bytes.h"
#include "tools/chaos/trace_audit.h"

namespace chaos {
namespace {

constexpr uint64_t kChurnSalt = 0x5EEDC4A05C4A05ull;
constexpr char kPacewireAddress[] = "10.0.0.10";
constexpr char kCuebellAddress[] = "10.0.0.11";
constexpr char kParentAddress[] = "10.0.0.12";
constexpr char kPeerAddress[] = "10.0.0.50";
constexpr char kBroadcastAddress[] = "10.0.0.255";
constexpr uint16_t kSyncPort = 47475;
constexpr uint16_t kEventPort = 55555;
constexpr uint16_t kMonitoringPort = 50000;
constexpr int32_t kSyncId = 1;
constexpr int64_t kHarvestUs = 100'000;
// Room for the datagrams on the wire and the containers' capacity steps.
constexpr int64_t kHeapSlackBytes = 16 * 1024;

uint32_t Address(const char* text) {
  return *sim::ParseIpv4(text);
}

std::string SyncPacketBytes(sim::Random& draw) {
  pacewire::PacketSyncPlay packet;
  packet.header = pacewire::Packet(48, pacewire::kPacketTypeSyncPlay);
  packet.syncId = draw.Chance(0.8) ? kSyncId : static_cast<int32_t>(draw.UniformInt(-5, 5));
  packet.playTime = draw.UniformInt(-100000, 100000);
  packet.elapsedTimeFromMaster = draw.UniformInt(-100000, 1000000);
  packet.ipLastNumber = static_cast<int32_t>(draw.UniformInt(0, 255));
  packet.currentPageDuration = static_cast<int32_t>(draw.UniformInt(0, 20000));
  packet.frameScheduleDuration = static_cast<int32_t>(draw.UniformInt(0, 60000));
  return std::string(reinterpret_cast<const char*>(&packet), sizeof packet);
}

std::string MonitoringRequestBytes(sim::Random& draw) {
  std::string bytes(48, '\0');
  const int32_t header[3] = {48, pacewire::kPacketTypeSetMonitoringMode, kMonitoringPort};
  std::memcpy(bytes.data(), header, sizeof header);
  std::memcpy(bytes.data() + 12, kPeerAddress, sizeof kPeerAddress - 1);
  bytes[44] = draw.Chance(0.7) ? 1 : 0;
  return bytes;
}

std::string RandomBytes(sim::Random& draw, int64_t most) {
  std::string bytes(static_cast<size_t>(draw.UniformInt(1, most)), '\0');
  for (auto& byte : bytes) byte = static_cast<char>(draw.UniformInt(0, 255));
  return bytes;
}

std::string EventText(sim::Random& draw) {
  std::string text(static_cast<size_t>(draw.UniformInt(1, 300)), 'a');
  for (auto& c : text) c = static_cast<char>(draw.UniformInt(' ', '~'));
  return text;
}

// A neighbour that floods the devices' ports from one socket allowed to
// broadcast, and listens where it sends the devices' monitoring packets.
class FloodPeer {
 public:
  FloodPeer(sim::Lan& lan, uint64_t seed, int64_t gap_us)
      : draw_(seed ^ kChurnSalt),
        gap_us_(gap_us),
        embedding_(lan.AddHost(kPeerAddress).AddEmbedding()),
        sender_(embedding_.handle()),
        listener_(embedding_.handle()),
        buffer_(65536) {}
  ~FloodPeer() { embedding_.host()->RemoveEmbedding(); }
  FloodPeer(const FloodPeer&) = delete;
  FloodPeer& operator=(const FloodPeer&) = delete;

  void Start() {
    embedding_.RunOnMainLoop([this] {
      const pp::CompletionCallback ignore([](int32_t) {});
      sender_.Bind(pp::NetAddress::FromHostOrder(sim::kAnyAddress, 0), ignore);
      sender_.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(true), ignore);
      listener_.Bind(pp::NetAddress::FromHostOrder(sim::kAnyAddress, kMonitoringPort),
                     pp::CompletionCallback([this](int32_t result) {
                       if (result == PP_OK) Listen();
                     }));
      SendNext();
    });
  }

 private:
  void Listen() {
    listener_.RecvFrom(buffer_.data(), static_cast<int32_t>(buffer_.size()),
                       pp::CompletionCallbackWithOutput<pp::NetAddress>(
                           [this](int32_t result, const pp::NetAddress&) {
                             if (result >= 0) Listen();
                           }));
  }

  void SendNext() {
    uint32_t to = Address(kBroadcastAddress);
    uint16_t port = kSyncPort;
    std::string bytes;
    switch (draw_.UniformInt(0, 5)) {
      case 0:
      case 1:
        bytes = SyncPacketBytes(draw_);
        if (draw_.Chance(0.5)) to = Address(kPacewireAddress);
        break;
      case 2:
        bytes = MonitoringRequestBytes(draw_);
        to = Address(draw_.Chance(0.5) ? kPacewireAddress : kParentAddress);
        break;
      case 3:
        // Empty: a device takes it for a failed receive and makes its receiver again.
        to = Address(draw_.Chance(0.5) ? kPacewireAddress : kCuebellAddress);
        port = to == Address(kPacewireAddress) ? kSyncPort : kEventPort;
        break;
      case 4:
        bytes = RandomBytes(draw_, 1500);
        port = draw_.Chance(0.5) ? kSyncPort : kEventPort;
        break;
      default:
        bytes = EventText(draw_);
        port = kEventPort;
        if (draw_.Chance(0.5)) to = Address(kCuebellAddress);
        break;
    }
    sender_.SendTo(bytes.data(), static_cast<int32_t>(bytes.size()),
                   pp::NetAddress::FromHostOrder(to, port), pp::CompletionCallback());
    embedding_.RunOnMainLoop([this] { SendNext(); }, draw_.UniformInt(0, 2 * gap_us_));
  }

  sim::Random draw_;
  int64_t gap_us_;
  sim::SimEmbedding& embedding_;
  pp::UDPSocket sender_;
  pp::UDPSocket listener_;
  std::vector<char> buffer_;
};

// Page messages every few milliseconds, each drawn when it is sent (a
// schedule drawn in advance would hold the whole run in the queue).
class CommandStream {
 public:
  CommandStream(scenario::Device& device, sim::Random& draw, int64_t until_us)
      : device_(device), draw_(draw), until_us_(until_us) {}
  CommandStream(const CommandStream&) = delete;
  CommandStream& operator=(const CommandStream&) = delete;

  void Start() { ScheduleNext(); }

 private:
  void ScheduleNext() {
    sim::Lan& lan = device_.host().lan();
    const int64_t at = lan.now_us() + draw_.UniformInt(1'000, 20'000);
    if (at >= until_us_) return;
    lan.scheduler().At(at, [this] {
      if (device_.kind() == scenario::ModuleKind::kPacewire) {
        SendPacewireCommand();
      } else {
        SendCuebellCommand();
      }
      ScheduleNext();
    });
  }

  void SendPacewireCommand() {
    static const char* const kKeys[] = {"START_CLOCK_WITH_SYNC_ID",
                                        "SET_DEVICEIP",
                                        "SET_PORT",
                                        "SET_TOTAL_PLAYTIME",
                                        "SET_TOTAL_SCHEDULE_PLAYTIME",
                                        "PLAYER_TIMESTAMP_INFO",
                                        "SET_ADJUST_DURATION",
                                        "MOVE_PAGE_TO",
                                        "SET_SCHEDULE_START_CLOCK",
                                        "SET_ELAPSED_PAGES_PLAYTIME",
                                        "NO_SUCH_KEY"};
    if (draw_.Chance(0.02)) {
      device_.host().page().Send(pp::Var("not a dictionary"));
      return;
    }
    const std::string key = kKeys[draw_.UniformInt(0, static_cast<int64_t>(std::size(kKeys)) - 1)];
    std::string value = std::to_string(draw_.UniformInt(-5000, 60000));
    if (key == "START_CLOCK_WITH_SYNC_ID") value = draw_.Chance(0.8) ? "1" : "-1";
    if (key == "SET_DEVICEIP") value = draw_.Chance(0.8) ? kPacewireAddress : "-1";
    if (key == "SET_PORT") value = draw_.Chance(0.8) ? "47475" : "47476";
    device_.Send(key, value);
  }

  void SendCuebellCommand() {
    switch (draw_.UniformInt(0, 4)) {
      case 0:
        device_.Send("DEBUGGER", "");
        break;
      case 1:
        device_.Send("SET_SEND_PORT", draw_.Chance(0.8) ? "55555" : "55556");
        break;
      case 2:
        device_.Send("SET_PORT", draw_.Chance(0.8) ? "55555" : "55557");
        break;
      default:
        device_.Send("EVENT_TYPE", EventText(draw_));
        break;
    }
  }

  scenario::Device& device_;
  sim::Random& draw_;
  int64_t until_us_;
};

// Lives of a few hundred milliseconds, and now and then one long enough for
// the sockets to be made (on the 31st tick) and flooded before it ends.
uint64_t ScheduleRestarts(sim::Host& host, sim::Random& draw, int64_t duration_us) {
  uint64_t restarts = 0;
  for (int64_t start = 0;;) {
    const int64_t life = draw.Chance(0.7) ? draw.UniformInt(100'000, 600'000)
                                          : draw.UniformInt(3'200'000, 4'500'000);
    const int64_t down = draw.UniformInt(0, 50'000);
    if (start + life >= duration_us) return restarts;
    host.RestartAt(start + life, down);
    ++restarts;
    start += life + down;
  }
}

}  // namespace

ChurnReport RunChurn(uint64_t seed, const ChurnSettings& settings) {
  ChurnReport report;
  report.seed = seed;
  TraceAudit audit({"[ERR]: NaClInstance is dead.", "[ERR]: NaClInstance of Cuebell is dead."});

  sim::LanOptions options;
  options.seed = seed;
  options.faults.one_way_delay_min_us = 100;
  options.faults.one_way_delay_mean_us = 300;
  options.faults.jitter_us = 200;
  options.trace_mode = sim::Trace::Mode::kRecord;
  scenario::ModuleWorld world(options);
  sim::Lan& lan = world.lan();
  sim::Random draw(seed ^ (kChurnSalt << 1));

  scenario::Device& pacewire = world.AddDevice(kPacewireAddress, scenario::ModuleKind::kPacewire);
  scenario::Device& cuebell = world.AddDevice(kCuebellAddress, scenario::ModuleKind::kCuebell);
  scenario::Device& parent = world.AddDevice(kParentAddress, scenario::ModuleKind::kPacewire);
  std::vector<std::unique_ptr<scenario::ReferencePage>> pages;
  pages.push_back(std::make_unique<scenario::ReferencePage>(pacewire, kSyncId,
                                                            std::vector<int64_t>{1500, 700}));
  pages.push_back(
      std::make_unique<scenario::ReferencePage>(parent, kSyncId, std::vector<int64_t>{1500, 700}));
  ScheduleRestarts(pacewire.host(), draw, settings.duration_us);
  ScheduleRestarts(cuebell.host(), draw, settings.duration_us);
  CommandStream pacewire_commands(pacewire, draw, settings.duration_us);
  CommandStream cuebell_commands(cuebell, draw, settings.duration_us);
  pacewire_commands.Start();
  cuebell_commands.Start();
  for (int steps = static_cast<int>(draw.UniformInt(1, 4)); steps > 0; --steps) {
    pacewire.host().StepClockAt(draw.UniformInt(0, settings.duration_us),
                                draw.UniformInt(-60'000'000, 60'000'000));
  }

  auto peer = std::make_unique<FloodPeer>(lan, seed, settings.flood_gap_us);
  peer->Start();

  const auto harvest = [&] {
    for (const auto& event : lan.trace().events()) {
      audit.Take(event);
      if (event.kind == sim::TraceKind::kPageMessage) ++report.page_messages;
    }
    lan.trace().ClearEvents();
    for (const auto& device : world.devices()) device->page().Clear();
  };
  const auto heap = [&] {
    int64_t records = 0;
    for (const auto& page : pages) {
      records +=
          static_cast<int64_t>(page->samples().capacity() * sizeof(scenario::PositionSample) +
                               page->role_events().capacity() * sizeof(scenario::RoleEvent));
    }
    for (const auto& device : world.devices()) {
      records +=
          static_cast<int64_t>(device->page().posted().capacity() * sizeof(sim::PostedValue));
    }
    records += static_cast<int64_t>(lan.trace().events().capacity() * sizeof(sim::TraceEvent));
    return HeapBytesInUse() - records;
  };
  const auto run_until = [&](int64_t end_us) {
    while (lan.now_us() < end_us) {
      lan.RunUntil(std::min(end_us, lan.now_us() + kHarvestUs));
      harvest();
    }
  };

  run_until(settings.duration_us / 3);
  report.early_heap_bytes = heap();
  const uint64_t early_stops = audit.stops();
  run_until(settings.duration_us);
  report.late_heap_bytes = heap();
  report.restarts_between = audit.stops() - early_stops;
  report.trace_digest = lan.trace().digest();
  audit.Finish();

  report.restarts = audit.stops();
  report.datagrams_delivered = audit.deliveries();
  report.posts = audit.posts();
  report.dropped_work = audit.dropped_work();
  report.problems = audit.problems();
  const int64_t allowed =
      kHeapSlackBytes + static_cast<int64_t>(report.restarts_between) * kHeapPerRestartBytes;
  if (report.late_heap_bytes - report.early_heap_bytes > allowed) {
    report.problems.push_back("the heap grew by " +
                              std::to_string(report.late_heap_bytes - report.early_heap_bytes) +
                              " bytes over " + std::to_string(report.restarts_between) +
                              " restarts (allowed " + std::to_string(allowed) + ")");
  }
  if (report.restarts < 10) report.problems.push_back("fewer than 10 restarts happened");
  if (report.datagrams_delivered == 0) report.problems.push_back("no datagram was delivered");

  peer.reset();
  pages.clear();
  return report;
}

}  // namespace chaos
