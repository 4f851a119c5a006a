// The fixed seeds CI runs, and what a run promises beyond its checks: the same
// seed replays the same run, and destruction under load keeps the trace
// consistent. Under AddressSanitizer these also catch crashes, leaks and
// undefined behaviour; a failure prints the command that replays it.
#include <gtest/gtest.h>

#include <string>

#include "tools/chaos/campaign.h"
#include "tools/chaos/churn.h"
#include "tools/chaos/plan.h"
#include "tools/chaos/run.h"

namespace chaos {
namespace {

std::string SeedName(const ::testing::TestParamInfo<uint64_t>& info) {
  return "Seed" + std::to_string(info.param);
}

#ifndef PW_CHAOS_FIXED_SEEDS
#define PW_CHAOS_FIXED_SEEDS 24
#endif
#ifndef PW_CHAOS_CHURN_SEEDS
#define PW_CHAOS_CHURN_SEEDS 3
#endif

class ChaosFixedSeed : public ::testing::TestWithParam<uint64_t> {};

TEST_P(ChaosFixedSeed, SettlesOnOneParentAndKeepsItsPagesInStepAfterTheFaults) {
  const RunReport report = RunPlan(MakePlan(GetParam()));
  EXPECT_TRUE(report.ok()) << SeedReportText(report, CampaignOptions{}, true);
}

INSTANTIATE_TEST_SUITE_P(Campaign, ChaosFixedSeed,
                         ::testing::Range<uint64_t>(1, PW_CHAOS_FIXED_SEEDS + 1), SeedName);

TEST(ChaosReplay, TheSameSeedRunsTheSameWayAndRecordingTheTraceChangesNothing) {
  const ChaosPlan plan = MakePlan(0x5eed);
  const RunReport first = RunPlan(plan);
  RunSettings recording;
  uint64_t events = 0;
  recording.trace_sink = [&](const sim::TraceEvent&) { ++events; };
  const RunReport again = RunPlan(plan, recording);

  EXPECT_EQ(first.trace_digest, again.trace_digest);
  EXPECT_GT(events, 10000u);
  ASSERT_EQ(first.groups.size(), again.groups.size());
  for (size_t group = 0; group < first.groups.size(); ++group) {
    EXPECT_EQ(first.groups[group].election.settled_us, again.groups[group].election.settled_us);
    EXPECT_EQ(first.groups[group].spread.max_spread_us, again.groups[group].spread.max_spread_us);
  }
  EXPECT_NE(RunPlan(MakePlan(0x5eee)).trace_digest, first.trace_digest);
}

class ChaosChurn : public ::testing::TestWithParam<uint64_t> {};

TEST_P(ChaosChurn, InstancesDestroyedUnderAFloodLeaveAConsistentTraceAndNoGrowth) {
  const ChurnReport report = RunChurn(GetParam());
  CampaignOptions options;
  options.churn = true;
  EXPECT_TRUE(report.ok()) << ChurnReportText(report, options);
  EXPECT_GE(report.restarts, 20u);
  EXPECT_GT(report.datagrams_delivered, 5000u);
  EXPECT_GT(report.page_messages, 2000u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ChaosChurn, ::testing::Range<uint64_t>(1, PW_CHAOS_CHURN_SEEDS + 1),
                         SeedName);

}  // namespace
}  // namespace chaos
