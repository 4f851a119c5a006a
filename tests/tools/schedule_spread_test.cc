// A device's schedule start from one packet, and the spread of a group's starts.
#include "tools/monitor/schedule_spread.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace pacewire_monitor {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

pacewire::PacketSyncPlay State(int64_t play_time, int64_t elapsed) {
  pacewire::PacketSyncPlay state;
  state.playTime = play_time;
  state.elapsedTimeFromMaster = elapsed;
  return state;
}

TEST(EstimateScheduleStart, IsReceiptLessPlayTimeLessElapsedPagesTime) {
  EXPECT_EQ(EstimateScheduleStart(1'000'000, State(1200, 30000)), 968'800);
  EXPECT_EQ(EstimateScheduleStart(1'000'000, State(0, 0)), 1'000'000);
  // A page that reports a negative play time (moved back) starts later.
  EXPECT_EQ(EstimateScheduleStart(1'000'000, State(-500, 0)), 1'000'500);
}

TEST(EstimateScheduleStart, WrapsOnHostileNumbersInsteadOfOverflowing) {
  EXPECT_EQ(EstimateScheduleStart(0, State(kMin, 0)), kMin);
  EXPECT_EQ(EstimateScheduleStart(kMax, State(-1, 0)), kMin);
  EXPECT_EQ(EstimateScheduleStart(kMin, State(kMax, kMax)), kMin + 2);
}

struct SpreadCase {
  const char* what;
  std::vector<int64_t> starts;
  int32_t schedule_ms;
  uint64_t spread;
};

class ScheduleStartSpreadTest : public testing::TestWithParam<SpreadCase> {};

TEST_P(ScheduleStartSpreadTest, IsTheWidthOfTheStarts) {
  EXPECT_EQ(ScheduleStartSpread(GetParam().starts, GetParam().schedule_ms), GetParam().spread)
      << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScheduleStartSpreadTest,
    testing::Values(
        SpreadCase{"no device", {}, 60000, 0}, SpreadCase{"one device", {123456}, 60000, 0},
        SpreadCase{"on a line", {1000, 1003, 998}, 0, 5},
        SpreadCase{"around the schedule, no wrap", {1000, 1003, 998}, 60000, 5},
        SpreadCase{"negative starts", {-5, 5}, 0, 10},
        // One device has begun its next pass: its start is one schedule later.
        SpreadCase{"one device a pass ahead", {1'000'000, 1'060'004}, 60000, 4},
        SpreadCase{"one device a pass ahead on a line", {1'000'000, 1'060'004}, 0, 60004},
        SpreadCase{"close across a multiple of the schedule", {59'990, 60'005}, 60000, 15},
        SpreadCase{"half a schedule apart", {0, 30000}, 60000, 30000},
        SpreadCase{"spread over the circle", {0, 20000, 40000}, 60000, 40000},
        SpreadCase{"extremes on a line", {kMin, kMax}, 0, std::numeric_limits<uint64_t>::max()},
        SpreadCase{"extremes around the schedule", {kMin, kMax}, 1000, 385}));

}  // namespace
}  // namespace pacewire_monitor
