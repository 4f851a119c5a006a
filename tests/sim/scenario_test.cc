// Small scenarios on the simulated LAN with the echo module: devices that tick
// and broadcast, partitions, closed sockets, cancelled completions, clocks,
// restarts, and log lines that find their own device's page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/logger.h"
#include "platform/sim/sim.h"
#include "tests/sim/echo_module.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// The tick numbers of `sender` that the page heard, among values posted in [from_us, to_us).
std::set<int> TicksHeard(const sim::Page& page, const std::string& sender, int64_t from_us = 0,
                         int64_t to_us = INT64_MAX) {
  std::set<int> ticks;
  const std::string suffix = " of " + sender + " from ";
  for (const auto& posted : page.posted()) {
    if (posted.time_us < from_us || posted.time_us >= to_us) continue;
    const std::string line = posted.value.AsString();
    int tick = 0;
    if (line.find(suffix) != std::string::npos &&
        std::sscanf(line.c_str(), "heard tick %d", &tick) == 1) {
      ticks.insert(tick);
    }
  }
  return ticks;
}

std::set<int> Range(int first, int last) {
  std::set<int> out;
  for (int i = first; i <= last; ++i) out.insert(i);
  return out;
}

std::set<int> operator+(std::set<int> a, const std::set<int>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

// Options of a device that ticks without broadcasting, running `on_tick` on each tick.
echo::EchoOptions Silent(std::function<void(int)> on_tick = nullptr) {
  echo::EchoOptions options;
  options.broadcast_on_tick = false;
  options.on_tick = std::move(on_tick);
  return options;
}

// Two echo devices, 10.0.0.1 and 10.0.0.2, started at virtual time 0.
class TwoEchoDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    a.Start();
    b.Start();
  }

  sim::Lan lan;
  sim::Host& alpha = lan.AddHost("10.0.0.1");
  sim::Host& beta = lan.AddHost("10.0.0.2");
  echo::EchoDevice a{alpha};
  echo::EchoDevice b{beta};
};

TEST_F(TwoEchoDevices, EachHearsTheOthersBroadcastsAndItsOwn) {
  lan.RunFor(sim::kSecond + sim::kMillisecond);

  EXPECT_EQ(TicksHeard(a.page(), "10.0.0.2"), Range(1, 10));
  EXPECT_EQ(TicksHeard(b.page(), "10.0.0.1"), Range(1, 10));
  EXPECT_EQ(TicksHeard(a.page(), "10.0.0.1"), Range(1, 10))
      << "a broadcast loops back to its sender";

  // Tick 1 leaves 100 ms after Init, crosses the wire in 200 us, and is heard
  // on the loop that started the receive: the platform main thread's.
  const auto& first = *std::find_if(
      b.page().posted().begin(), b.page().posted().end(), [](const sim::PostedValue& posted) {
        return posted.value.AsString() == "heard tick 1 of 10.0.0.1 from 10.0.0.1:40000";
      });
  EXPECT_EQ(first.time_us, 100 * sim::kMillisecond + 200);
  EXPECT_EQ(first.loop, "10.0.0.2 platform-main");
}

TEST_F(TwoEchoDevices, APartitionDropsTheirBroadcastsUntilItHeals) {
  lan.RunFor(sim::kSecond);
  lan.Partition({&alpha}, {&beta}, /*heal_at_us=*/3 * sim::kSecond);
  lan.RunFor(3 * sim::kSecond);

  // Tick 10 left at 1 s, before the partition; ticks 11 to 29 were dropped;
  // tick 30 left as it healed (tick 40 is still on the wire at 4 s).
  EXPECT_EQ(TicksHeard(b.page(), "10.0.0.1"), Range(1, 10) + Range(30, 39));
  EXPECT_EQ(TicksHeard(a.page(), "10.0.0.1", sim::kSecond, 3 * sim::kSecond), Range(10, 29))
      << "a device still hears itself inside a partition";

  size_t partition_drops = 0;
  for (const auto& drop : lan.trace().EventsOfKind(sim::TraceKind::kDrop)) {
    partition_drops += drop.reason == sim::DropReason::kPartition;
  }
  EXPECT_EQ(partition_drops, 2u * 19u);
}

TEST_F(TwoEchoDevices, ClosingTheSocketFailsItsPendingReceive) {
  a.page().SendAt(550 * sim::kMillisecond, pp::Var("close"));
  lan.RunFor(sim::kSecond);

  EXPECT_THAT(a.page().lines(), Contains("receive failed: PP_ERROR_ABORTED"));
  EXPECT_EQ(TicksHeard(b.page(), "10.0.0.1"), Range(1, 5)) << "a closed socket sends nothing";
  EXPECT_TRUE(TicksHeard(a.page(), "10.0.0.2", 550 * sim::kMillisecond).empty());
}

TEST_F(TwoEchoDevices, CompletionsWhoseFactoryIsGoneDoNothing) {
  a.page().SendAt(550 * sim::kMillisecond, pp::Var("forget"));
  lan.RunFor(sim::kSecond);

  // a's next tick and its pending receive still complete, into nothing.
  EXPECT_TRUE(TicksHeard(a.page(), "10.0.0.2", 550 * sim::kMillisecond).empty());
  EXPECT_EQ(a.instance()->ticks(), 5);
  EXPECT_EQ(TicksHeard(b.page(), "10.0.0.1"), Range(1, 5));
}

TEST_F(TwoEchoDevices, ARestartedDeviceComesBackOnAFreshEmbeddingAndPort) {
  alpha.RestartAt(sim::kSecond, /*downtime_us=*/500 * sim::kMillisecond);
  lan.RunFor(2 * sim::kSecond + sim::kMillisecond);

  std::vector<std::string> lifecycle;
  for (const auto& posted : a.page().posted()) {
    const std::string line = posted.value.AsString();
    if (line.rfind("echo:", 0) == 0 || line.rfind("bind", 0) == 0) {
      lifecycle.push_back(line + " at " + std::to_string(posted.time_us) + " on " + posted.loop);
    }
  }
  EXPECT_EQ(lifecycle,
            (std::vector<std::string>{"echo: up at 0 on 10.0.0.1 platform-main",
                                      "echo: gone at 1000000 on 10.0.0.1 platform-main",
                                      "echo: up at 1500000 on 10.0.0.1/2 platform-main"}));
  // The first life ticked 10 times before it went; the second counts again from 1.
  EXPECT_EQ(TicksHeard(b.page(), "10.0.0.1", 0, 1500 * sim::kMillisecond), Range(1, 10));
  EXPECT_EQ(TicksHeard(b.page(), "10.0.0.1", 1500 * sim::kMillisecond), Range(1, 5));
  EXPECT_EQ(TicksHeard(a.page(), "10.0.0.2", 1500 * sim::kMillisecond), Range(15, 20));
}

TEST(EchoScenario, ClockOffsetDriftAndStepsShowInTheDevicesWallClock) {
  sim::Lan lan;
  sim::HostOptions options;
  options.address = "10.0.0.5";
  options.clock_offset_us = 5 * sim::kSecond;
  options.clock_drift_ppm = 100;
  sim::Host& host = lan.AddHost(options);
  host.StepClockAt(15 * sim::kSecond, -2 * sim::kSecond);
  echo::EchoDevice device(host, Silent());
  device.Start();
  for (int64_t at : {10, 20}) device.page().SendAt(at * sim::kSecond, pp::Var("clock"));
  lan.RunFor(21 * sim::kSecond);

  const int64_t epoch = lan.options().wall_clock_epoch_us;
  EXPECT_THAT(device.page().lines(),
              Contains("clock " + std::to_string(epoch + 15 * sim::kSecond + 1000)));
  EXPECT_THAT(device.page().lines(),
              Contains("clock " + std::to_string(epoch + 23 * sim::kSecond + 2000)));
  EXPECT_EQ(lan.trace().EventsOfKind(sim::TraceKind::kClockStep).size(), 1u);
}

TEST(EchoScenario, APlatformThatRefusesTheTickerLoopIsNoticedAndNothingTicks) {
  sim::Lan lan;
  sim::Host& host = lan.AddHost("10.0.0.5");
  host.faults().create_message_loop.FailAlways(PP_ERROR_FAILED);
  echo::EchoDevice device(host);
  device.Start();
  lan.RunFor(sim::kSecond);
  EXPECT_THAT(device.page().lines(), Contains("ticker has no loop"));
  EXPECT_EQ(device.instance()->ticks(), 0);
}

// ---- the process-wide Logger --------------------------------------------------

// Makes the Logger forget its carrier when the test ends, pass or fail.
class LoggerCarrier {
 public:
  explicit LoggerCarrier(pp::Instance* instance) : instance_(instance) {
    Logger::InitializeInstance(instance);
  }
  ~LoggerCarrier() { Logger::ForgetInstance(instance_); }

 private:
  pp::Instance* instance_;
};

class LoggerRoutingTest : public ::testing::TestWithParam<bool> {};

TEST_P(LoggerRoutingTest, EachDevicesLogLinesReachItsOwnPage) {
  const bool carried_by_anchor = GetParam();
  sim::Lan lan;
  auto log_tick = [](int tick) { Logger::Log("tick %d", tick); };
  echo::EchoDevice a(lan.AddHost("10.0.0.1"), Silent(log_tick));
  echo::EchoDevice b(lan.AddHost("10.0.0.2"), Silent(log_tick));
  a.Start();
  b.Start();
  lan.RunFor(sim::kMillisecond);
  // In the real modules the first instance to start carries every line; here
  // that is device a's instance, or the LAN's anchor.
  LoggerCarrier carrier(carried_by_anchor ? &lan.anchor_instance() : a.instance());
  lan.RunFor(300 * sim::kMillisecond);

  for (echo::EchoDevice* device : {&a, &b}) {
    const std::vector<std::string> lines = device->page().LinesContaining("[LOG]: tick");
    EXPECT_EQ(lines, (std::vector<std::string>{"[LOG]: tick 1", "[LOG]: tick 2", "[LOG]: tick 3"}))
        << device->host().address_text();
    for (const auto& posted : device->page().posted()) {
      EXPECT_THAT(posted.loop, HasSubstr(device->host().address_text()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Carriers, LoggerRoutingTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "anchor" : "first_device");
});

}  // namespace
