// The building blocks under the LAN: addresses, the random generator, the
// scheduler and host clocks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/address.h"
#include "platform/sim/clock.h"
#include "platform/sim/lan.h"
#include "platform/sim/random.h"
#include "platform/sim/scheduler.h"

namespace sim {
namespace {

TEST(AddressTest, ParsesOnlyStrictDottedQuads) {
  struct Case {
    const char* text;
    bool valid;
    uint32_t address;
  };
  for (const Case& c :
       {Case{"10.0.0.3", true, 0x0A000003}, Case{"255.255.255.255", true, 0xFFFFFFFF},
        Case{"0.0.0.0", true, 0}, Case{"256.0.0.1", false, 0}, Case{"10.0.0", false, 0},
        Case{"10.0.0.3.4", false, 0}, Case{"10.0.0.3 ", false, 0}, Case{"10..0.3", false, 0},
        Case{"1000.0.0.1", false, 0}, Case{"a.b.c.d", false, 0}, Case{"", false, 0},
        Case{"localhost", false, 0}}) {
    const auto parsed = ParseIpv4(c.text);
    EXPECT_EQ(parsed.has_value(), c.valid) << c.text;
    if (c.valid && parsed) {
      EXPECT_EQ(*parsed, c.address) << c.text;
    }
  }
  EXPECT_EQ(FormatEndpoint(0x0A000003, 47475), "10.0.0.3:47475");
}

TEST(AddressTest, BroadcastMeansAllOnesOrTheSendersOwnSubnetBroadcast) {
  const uint32_t sender = *ParseIpv4("10.0.0.3");
  EXPECT_TRUE(IsBroadcastFrom(sender, *ParseIpv4("255.255.255.255")));
  EXPECT_TRUE(IsBroadcastFrom(sender, *ParseIpv4("10.0.0.255")));
  EXPECT_FALSE(IsBroadcastFrom(sender, *ParseIpv4("10.0.1.255")));
  EXPECT_FALSE(IsBroadcastFrom(sender, *ParseIpv4("10.0.0.4")));
}

TEST(RandomTest, TheSameSeedGivesTheSameSequenceAndAnotherSeedAnother) {
  Random a(42), b(42), c(43);
  std::vector<uint64_t> from_a, from_b, from_c;
  for (int i = 0; i < 8; ++i) {
    from_a.push_back(a.Next());
    from_b.push_back(b.Next());
    from_c.push_back(c.Next());
  }
  EXPECT_EQ(from_a, from_b);
  EXPECT_NE(from_a, from_c);
}

TEST(RandomTest, DrawsStayInTheirRanges) {
  Random random(7);
  for (int i = 0; i < 10000; ++i) {
    const int64_t value = random.UniformInt(-3, 3);
    ASSERT_GE(value, -3);
    ASSERT_LE(value, 3);
    const double unit = random.NextDouble();
    ASSERT_GE(unit, 0.0);
    ASSERT_LT(unit, 1.0);
    ASSERT_GE(random.Exponential(100), 0);
  }
  EXPECT_FALSE(random.Chance(0));
  EXPECT_TRUE(random.Chance(1));
}

TEST(SchedulerTest, RunsByDueTimeAndInSchedulingOrderAtEqualTimes) {
  Scheduler scheduler;
  std::string order;
  scheduler.At(20, [&] { order += "c"; });
  scheduler.At(10, [&] {
    order += "a";
    // Due now, but after "b", which was scheduled for this time earlier.
    scheduler.After(0, [&] { order += "d"; });
  });
  scheduler.At(10, [&] {
    order += "b";
    scheduler.At(5, [&] { order += "e"; });  // the past means now, after "d"
  });
  while (scheduler.RunNext()) {
  }
  EXPECT_EQ(order, "abdec");
  EXPECT_EQ(scheduler.now_us(), 20);
  EXPECT_EQ(scheduler.actions_run(), 5u);
}

TEST(HostClockTest, ReadsOffsetDriftAndStepsAsAFunctionOfVirtualTime) {
  constexpr int64_t kEpoch = 1'000'000'000'000;
  HostClock clock(kEpoch, /*offset_us=*/5 * kSecond, /*drift_ppm=*/100);
  clock.StepAt(20 * kSecond, -2 * kSecond);
  clock.SetDriftFrom(30 * kSecond, -50);
  struct Case {
    int64_t virtual_us;
    int64_t expected;
  };
  for (const Case& c : {
           Case{0, kEpoch + 5 * kSecond},
           Case{10 * kSecond, kEpoch + 15 * kSecond + 1000},          // +100 ppm of 10 s
           Case{20 * kSecond - 1, kEpoch + 25 * kSecond - 1 + 1999},  // just before the step
           Case{20 * kSecond, kEpoch + 23 * kSecond + 2000},          // stepped back 2 s
           Case{30 * kSecond, kEpoch + 33 * kSecond + 3000},          // drift changes here
           Case{40 * kSecond, kEpoch + 43 * kSecond + 3000 - 500},    // -50 ppm of 10 s
       }) {
    EXPECT_EQ(clock.WallAt(c.virtual_us), c.expected) << "at " << c.virtual_us;
  }
}

TEST(SeedTest, TheEnvironmentCanReplayASeedInDecimalOrHex) {
  ::unsetenv("PW_SIM_SEED");
  EXPECT_EQ(SeedFromEnvironment(5), 5u);
  ::setenv("PW_SIM_SEED", "0x2a", 1);
  EXPECT_EQ(SeedFromEnvironment(5), 42u);
  ::setenv("PW_SIM_SEED", "17", 1);
  EXPECT_EQ(SeedFromEnvironment(5), 17u);
  ::setenv("PW_SIM_SEED", "nonsense", 1);
  EXPECT_EQ(SeedFromEnvironment(5), 5u);
  ::unsetenv("PW_SIM_SEED");
  LanOptions options;
  options.seed = 42;
  EXPECT_EQ(Lan(options).SeedText(), "seed 0x2a (replay with PW_SIM_SEED=0x2a)");
}

}  // namespace
}  // namespace sim
