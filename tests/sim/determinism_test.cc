// One seed decides a whole run: the same chaotic scenario with the same seed
// gives the same trace, and another seed gives another.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/sim/echo_module.h"

namespace {

struct RunResult {
  uint64_t digest;
  std::string trace;
};

// Five echo devices on a lossy, jittery LAN that duplicates and reorders, with
// a partition, a restart, a clock step and a page message.
RunResult ChaoticRun(uint64_t seed, sim::Trace::Mode mode = sim::Trace::Mode::kRecord) {
  sim::LanOptions options;
  options.seed = seed;
  options.trace_mode = mode;
  options.faults.one_way_delay_min_us = 200;
  options.faults.one_way_delay_mean_us = 800;
  options.faults.jitter_us = 300;
  options.faults.loss_probability = 0.1;
  options.faults.duplicate_probability = 0.05;
  options.faults.reorder_probability = 0.05;
  options.faults.reorder_delay_us = 3 * sim::kMillisecond;
  sim::Lan lan(options);
  std::vector<std::unique_ptr<echo::EchoDevice>> devices;
  for (int i = 1; i <= 5; ++i) {
    devices.push_back(
        std::make_unique<echo::EchoDevice>(lan.AddHost("10.0.0." + std::to_string(i))));
    devices.back()->Start();
  }
  const auto hosts = lan.hosts();
  lan.RunFor(sim::kSecond);
  lan.Partition({hosts[0], hosts[1]}, {hosts[2], hosts[3], hosts[4]}, 2 * sim::kSecond);
  hosts[3]->RestartAt(1500 * sim::kMillisecond, 100 * sim::kMillisecond);
  hosts[4]->StepClockAt(1200 * sim::kMillisecond, 250 * sim::kMillisecond);
  devices[1]->page().SendAt(700 * sim::kMillisecond + sim::kSecond, pp::Var("say hello"));
  lan.RunFor(2 * sim::kSecond);
  return RunResult{lan.trace().digest(), lan.trace().Dump()};
}

TEST(DeterminismTest, TheSameSeedGivesTheSameTrace) {
  const uint64_t seed = sim::SeedFromEnvironment(0x5EED);
  const RunResult first = ChaoticRun(seed);
  const RunResult second = ChaoticRun(seed);
  EXPECT_EQ(first.digest, second.digest) << "seed " << seed;
  EXPECT_EQ(first.trace, second.trace) << "seed " << seed;
  EXPECT_NE(first.trace.find("(loss)"), std::string::npos) << "the run should have lost datagrams";
}

TEST(DeterminismTest, AnotherSeedGivesAnotherTrace) {
  EXPECT_NE(ChaoticRun(1).digest, ChaoticRun(2).digest);
}

TEST(DeterminismTest, TheDigestDoesNotDependOnRecordingTheEvents) {
  EXPECT_EQ(ChaoticRun(7, sim::Trace::Mode::kDigestOnly).digest, ChaoticRun(7).digest);
}

}  // namespace
