// How fast the simulated LAN runs: virtual seconds simulated per wall-clock
// second for a crowded /24 where every device ticks every 100 ms on a worker
// thread and broadcasts one datagram per tick (10 a second), and every device
// keeps a receive pending, so each broadcast reaches every device. Rates are
// per CPU second: the scheduler is single-threaded, and CPU time does not
// count what other processes on a shared machine take.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/pp.h"
#include "platform/sim/sim.h"

namespace {

constexpr uint16_t kPort = 47475;

// A device in the shape of the modules: a ticking worker that broadcasts, and
// a receive loop that re-arms itself after each datagram.
class Broadcaster {
 public:
  explicit Broadcaster(sim::SimEmbedding& embedding)
      : ticker_(embedding.handle()), socket_(embedding.handle()) {}

  void Start() {
    ticker_.Start();
    socket_.Bind(pp::NetAddress::FromHostOrder(0, kPort),
                 factory_.NewCallback(&Broadcaster::OnBound));
    ticker_.message_loop().PostWork(factory_.NewCallback(&Broadcaster::Tick), 100);
  }
  uint64_t heard() const { return heard_; }

 private:
  void OnBound(int32_t result) {
    if (result != PP_OK) return;
    socket_.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(true),
                      factory_.NewCallback(&Broadcaster::OnBroadcastAllowed));
  }
  void OnBroadcastAllowed(int32_t result) {
    if (result == PP_OK) Receive();
  }
  void Receive() {
    socket_.RecvFrom(buffer_, sizeof buffer_,
                     factory_.NewCallbackWithOutput(&Broadcaster::OnReceived));
  }
  void OnReceived(int32_t result, const pp::NetAddress&) {
    if (result < 0) return;
    ++heard_;
    Receive();
  }
  void Tick(int32_t) {
    socket_.SendTo(packet_, sizeof packet_, kDestination,
                   factory_.NewCallback(&Broadcaster::OnSent));
    ticker_.message_loop().PostWork(factory_.NewCallback(&Broadcaster::Tick), 100);
  }
  void OnSent(int32_t) {}

  inline static const pp::NetAddress kDestination =
      pp::NetAddress::FromHostOrder(0xFFFFFFFF, kPort);
  pp::SimpleThread ticker_;
  pp::UDPSocket socket_;
  char packet_[48] = {};
  char buffer_[1024] = {};
  uint64_t heard_ = 0;
  pp::CompletionCallbackFactory<Broadcaster> factory_{this};
};

// Arguments: devices, virtual seconds per iteration, trace mode.
void BM_CrowdedLan(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  const int64_t virtual_seconds = state.range(1);
  sim::LanOptions options;
  options.trace_mode = static_cast<sim::Trace::Mode>(state.range(2));
  sim::Lan lan(options);
  std::vector<std::unique_ptr<Broadcaster>> broadcasters;
  for (int i = 0; i < devices; ++i) {
    sim::SimEmbedding& embedding = lan.AddHost("10.0.0." + std::to_string(i + 1)).AddEmbedding();
    broadcasters.push_back(std::make_unique<Broadcaster>(embedding));
    Broadcaster* broadcaster = broadcasters.back().get();
    embedding.RunOnMainLoop([broadcaster] { broadcaster->Start(); });
  }
  lan.RunFor(sim::kSecond);  // settle: bound, first ticks out

  for (auto _ : state) {
    lan.RunFor(virtual_seconds * sim::kSecond);
    if (options.trace_mode == sim::Trace::Mode::kRecord) lan.trace().ClearEvents();
  }

  uint64_t heard = 0;
  for (const auto& broadcaster : broadcasters) heard += broadcaster->heard();
  const double simulated =
      static_cast<double>(virtual_seconds) * static_cast<double>(state.iterations());
  state.counters["virtual_s_per_cpu_s"] =
      benchmark::Counter(simulated, benchmark::Counter::kIsRate);
  state.counters["deliveries_per_cpu_s"] =
      benchmark::Counter(simulated * devices * devices * 10, benchmark::Counter::kIsRate);
  state.counters["heard_per_virtual_s"] =
      static_cast<double>(heard) / (simulated + 1.0);  // +1: the settling second
  broadcasters.clear();
}

BENCHMARK(BM_CrowdedLan)
    ->ArgNames({"devices", "virtual_s", "trace"})
    ->Args({100, 10, static_cast<int64_t>(sim::Trace::Mode::kOff)})
    ->Args({100, 10, static_cast<int64_t>(sim::Trace::Mode::kDigestOnly)})
    ->Args({10, 100, static_cast<int64_t>(sim::Trace::Mode::kOff)})
    ->Unit(benchmark::kMillisecond);

// The floor under any backend: each delivery to a module runs one completion
// made by its thread-safe factory, and the module makes the next one.
void BM_FactoryCompletionRoundTrip(benchmark::State& state) {
  struct Owner {
    uint64_t runs = 0;
    void OnReceived(int32_t, const pp::NetAddress&) { ++runs; }
  } owner;
  pp::CompletionCallbackFactory<Owner> factory(&owner);
  for (auto _ : state) {
    auto callback = factory.NewCallbackWithOutput(&Owner::OnReceived);
    *callback.output() = pp::NetAddress::FromHostOrder(0x0A000001, kPort);
    callback.Run(48);
  }
  benchmark::DoNotOptimize(owner.runs);
}

BENCHMARK(BM_FactoryCompletionRoundTrip);

}  // namespace
