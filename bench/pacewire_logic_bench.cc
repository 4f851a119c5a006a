// Hot paths of the play-time logic: what the host runs on every tick and on
// every received datagram. Log lines are dropped (no page attached to the
// Logger) unless a benchmark says otherwise.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/logger.h"
#include "pacewire/packets.h"
#include "pacewire/play_timer_logic.h"
#include "platform/testing/recording_embedding.h"
#include "platform/var.h"

namespace {

using pacewire::PlayTimerLogic;

constexpr int64_t kStart = 1'700'000'000'000;
constexpr int32_t kGroup = 3;

pp::VarDictionary PageMessage(const std::string& key, const std::string& value) {
  pp::VarDictionary message;
  message.Set("key", pp::Var(key));
  message.Set("value", pp::Var(value));
  return message;
}

// A device playing 15 s pages in a 60 s schedule, address 192.168.0.<ip>.
void Start(PlayTimerLogic& logic, const std::string& syncId, int ip) {
  logic.LoadMessage(PageMessage("START_CLOCK_WITH_SYNC_ID", syncId), kStart);
  logic.LoadMessage(PageMessage("SET_DEVICEIP", "192.168.0." + std::to_string(ip)), kStart);
  logic.LoadMessage(PageMessage("SET_TOTAL_PLAYTIME", "15000"), kStart);
  logic.LoadMessage(PageMessage("SET_TOTAL_SCHEDULE_PLAYTIME", "60000"), kStart);
}

void SwitchMonitoringOn(PlayTimerLogic& logic) {
  std::array<char, PlayTimerLogic::kReceiveBufferBytes + 1> buffer{};
  pacewire::PacketSetMonitoringMode request;
  request.header.setType(pacewire::kPacketTypeSetMonitoringMode);
  request.monitoringPort = 50000;
  std::memcpy(request.monitoringAddress, "127.0.0.1", 9);
  request.monitoringOn = 1;
  std::memcpy(buffer.data(), &request, sizeof request);
  logic.LoadPacket(buffer.data(), kStart);
}

std::array<char, PlayTimerLogic::kReceiveBufferBytes + 1> SyncDatagram(int32_t syncId,
                                                                       int32_t ipLastNumber) {
  pacewire::PacketSyncPlay packet;
  packet.header.setType(pacewire::kPacketTypeSyncPlay);
  packet.syncId = syncId;
  packet.playTime = 4000;
  packet.elapsedTimeFromMaster = 15000;
  packet.ipLastNumber = ipLastNumber;
  std::array<char, PlayTimerLogic::kReceiveBufferBytes + 1> buffer{};
  std::memcpy(buffer.data(), &packet, sizeof packet);
  return buffer;
}

void RunTicks(benchmark::State& state, PlayTimerLogic& logic) {
  int64_t now = kStart;
  for (auto _ : state) {
    now += 100;
    benchmark::DoNotOptimize(logic.GetSyncPacket(now));
    benchmark::DoNotOptimize(logic.GetMonitoringPacket(now));
    pp::VarDictionary message = logic.GetMessageToPlayer();
    benchmark::DoNotOptimize(message);
  }
}

// Non-sync mode: a play-time message to the page on every tick.
void BM_Tick_NonSync(benchmark::State& state) {
  PlayTimerLogic logic;
  Start(logic, "-1", 23);
  RunTicks(state, logic);
}
BENCHMARK(BM_Tick_NonSync);

// A parent broadcasting, with monitoring on; the page gets nothing most ticks.
// Hearing nothing, it flips its role every 31 ticks, as a lone device does.
void BM_Tick_SyncParentMonitored(benchmark::State& state) {
  PlayTimerLogic logic;
  Start(logic, "3", 23);
  logic.SetMaster(true);
  SwitchMonitoringOn(logic);
  RunTicks(state, logic);
}
BENCHMARK(BM_Tick_SyncParentMonitored);

void RunDatagrams(benchmark::State& state, PlayTimerLogic& logic, const char* datagram) {
  int64_t now = kStart;
  for (auto _ : state) {
    ++now;
    logic.LoadPacket(datagram, now);
    pp::VarDictionary message = logic.GetMessageToPlayerAfterLoadPacket();
    benchmark::DoNotOptimize(message);
  }
}

// A child adopting its parent's clock.
void BM_Datagram_OwnGroup(benchmark::State& state) {
  PlayTimerLogic logic;
  Start(logic, "3", 23);
  const auto datagram = SyncDatagram(kGroup, 40);
  RunDatagrams(state, logic, datagram.data());
}
BENCHMARK(BM_Datagram_OwnGroup);

// A packet of another group: ignored, but the page still gets the play time.
void BM_Datagram_ForeignGroup(benchmark::State& state) {
  PlayTimerLogic logic;
  Start(logic, "3", 23);
  const auto datagram = SyncDatagram(kGroup + 1, 40);
  RunDatagrams(state, logic, datagram.data());
}
BENCHMARK(BM_Datagram_ForeignGroup);

// A parent hearing a parent with a smaller address number: two log lines per
// datagram. Measured with the lines dropped and with a recording page attached.
void BM_Datagram_LesserParent(benchmark::State& state) {
  const bool attached = state.range(0) != 0;
  pp::testing::RecordingInstance page;
  if (attached) Logger::InitializeInstance(&page);
  PlayTimerLogic logic;
  Start(logic, "3", 23);
  logic.SetMaster(true);
  const auto datagram = SyncDatagram(kGroup, 10);
  int64_t now = kStart;
  uint64_t sinceClear = 0;
  for (auto _ : state) {
    ++now;
    logic.LoadPacket(datagram.data(), now);
    pp::VarDictionary message = logic.GetMessageToPlayerAfterLoadPacket();
    benchmark::DoNotOptimize(message);
    if (attached && ++sinceClear == 4096) {  // keep the recording from growing without bound
      state.PauseTiming();
      page.page().clear();
      sinceClear = 0;
      state.ResumeTiming();
    }
  }
  if (attached) Logger::ForgetInstance(&page);
  state.SetLabel(attached ? "recording page attached" : "lines dropped");
}
BENCHMARK(BM_Datagram_LesserParent)->Arg(0)->Arg(1);

}  // namespace
