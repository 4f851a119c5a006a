#include "tools/lansim/sync_spread.h"

#include <gtest/gtest.h>

#include "tools/lansim/scenario_options.h"

#include <numeric>

namespace lansim {
namespace {

using scenario::PositionSample;

constexpr int64_t kNoWrap = 0;

std::vector<const PositionTrack*> Tracks(const std::vector<PositionTrack>& tracks) {
  std::vector<const PositionTrack*> out;
  for (const auto& track : tracks) out.push_back(&track);
  return out;
}

TEST(SyncSpread, ExtrapolatesEachPageFromWhenItWasLastTold) {
  const std::vector<PositionTrack> tracks = {
      {{900 * kMillisecondUs, 900}, {1000 * kMillisecondUs, 1000}},  // told 1000 ms at 1.000 s
      {{1050 * kMillisecondUs, 1010}},                               // told 1010 ms at 1.050 s
      {{1200 * kMillisecondUs, 5000}},  // told after the instant: does not count
  };
  const auto point = SpreadAt(Tracks(tracks), 1100 * kMillisecondUs, kNoWrap);
  ASSERT_TRUE(point);
  // 1000 + 100 against 1010 + 50.
  EXPECT_EQ(point->spread_us, 40 * kMillisecondUs);
  EXPECT_EQ(point->pages, 2u);
}

TEST(SyncSpread, ComparesPositionsAroundTheSchedule) {
  const std::vector<PositionTrack> tracks = {
      {{0, 29990}},
      {{0, 5}},
      {{0, 30010}},  // just past the end of a pass that has not restarted yet
  };
  // Around a 30 s schedule the three lie within 20 ms; on a line they do not.
  EXPECT_EQ(SpreadAt(Tracks(tracks), 0, 30000)->spread_us, 20 * kMillisecondUs);
  EXPECT_EQ(SpreadAt(Tracks(tracks), 0, kNoWrap)->spread_us, 30005 * kMillisecondUs);
}

TEST(SyncSpread, APageWithoutAPositionDoesNotCount) {
  const std::vector<PositionTrack> tracks = {
      {{0, 100}, {500 * kMillisecondUs, std::nullopt}},  // went down at 0.5 s
      {{0, 180}},
      {},  // never told
  };
  EXPECT_EQ(SpreadAt(Tracks(tracks), 400 * kMillisecondUs, kNoWrap)->spread_us,
            80 * kMillisecondUs);
  EXPECT_FALSE(SpreadAt(Tracks(tracks), 500 * kMillisecondUs, kNoWrap));
}

TEST(SyncSpread, SeriesHasAPointAtEachInstantWithTwoPositions) {
  const std::vector<PositionTrack> tracks = {
      {{0, 0}, {250 * kMillisecondUs, 260}},
      {{150 * kMillisecondUs, 150},
       {300 * kMillisecondUs, std::nullopt},
       {420 * kMillisecondUs, 420}},
  };
  const auto series =
      SpreadSeries(Tracks(tracks), 0, 500 * kMillisecondUs, 100 * kMillisecondUs, kNoWrap);
  // 0: one page; 100: one page; 200: 200 vs 200; 300 and 400: one page; 500: 510 vs 500.
  ASSERT_EQ(series.size(), 2u);
  EXPECT_EQ(series[0].time_us, 200 * kMillisecondUs);
  EXPECT_EQ(series[0].spread_us, 0);
  EXPECT_EQ(series[1].time_us, 500 * kMillisecondUs);
  EXPECT_EQ(series[1].spread_us, 10 * kMillisecondUs);
  // The cursor walk gives what the one-off computation gives.
  for (const auto& point : series) {
    EXPECT_EQ(SpreadAt(Tracks(tracks), point.time_us, kNoWrap)->spread_us, point.spread_us);
  }
}

TEST(SyncSpread, SummaryUsesNearestRankPercentilesFromTheGivenTime) {
  std::vector<SpreadPoint> points;
  points.push_back({0, 1000000, 2});  // before settling: left out
  for (int64_t i = 1; i <= 200; ++i) points.push_back({i * 100 * kMillisecondUs, i, 2});
  const auto summary = Summarize(points, 100 * kMillisecondUs);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->instants, 200u);
  EXPECT_EQ(summary->p50_us, 100);
  EXPECT_EQ(summary->p99_us, 198);
  EXPECT_EQ(summary->max_us, 200);

  EXPECT_FALSE(Summarize(points, 100000 * kMillisecondUs));
  const auto single = Summarize({{0, 7, 2}}, 0);
  EXPECT_EQ(single->p50_us, 7);
  EXPECT_EQ(single->p99_us, 7);
}

}  // namespace
}  // namespace lansim
