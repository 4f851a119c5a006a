// pacewire-chaos's command line, and the replay command it prints.
#include "tools/chaos/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace chaos {
namespace {

using ::testing::HasSubstr;

TEST(ChaosCommandLine, DefaultsRunAHundredSeedsFromOne) {
  const CommandLine command = ParseCommandLine({});
  ASSERT_EQ(command.action, CommandLine::Action::kRun);
  EXPECT_EQ(command.options.first_seed, 1u);
  EXPECT_EQ(command.options.seeds, 100u);
  EXPECT_EQ(command.options.plan.quiet_phase_us, 30 * kSecondUs);
  EXPECT_FALSE(command.options.json);
  EXPECT_FALSE(command.options.churn);
}

TEST(ChaosCommandLine, ASeedAloneReplaysIt) {
  const CommandLine command = ParseCommandLine({"--seed", "0x2a", "--json"});
  ASSERT_EQ(command.action, CommandLine::Action::kRun);
  EXPECT_EQ(command.options.first_seed, 42u);
  EXPECT_EQ(command.options.seeds, 1u);
  EXPECT_TRUE(command.options.json);
}

TEST(ChaosCommandLine, ARangeOfSeeds) {
  const CommandLine command = ParseCommandLine({"--seeds", "5000", "--first-seed", "77"});
  ASSERT_EQ(command.action, CommandLine::Action::kRun);
  EXPECT_EQ(command.options.first_seed, 77u);
  EXPECT_EQ(command.options.seeds, 5000u);
}

TEST(ChaosCommandLine, HelpNamesTheOptionsAndTheDerivation) {
  const CommandLine command = ParseCommandLine({"--help"});
  ASSERT_EQ(command.action, CommandLine::Action::kExit);
  EXPECT_EQ(command.exit_status, 0);
  for (const char* part : {"--seeds", "--first-seed", "--seed", "--json", "--churn",
                           "--quiet-phase", "docs/RELIABILITY.md"}) {
    EXPECT_THAT(command.text, HasSubstr(part));
  }
}

class ChaosCommandLineRefuses : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ChaosCommandLineRefuses, WithStatusTwo) {
  const CommandLine command = ParseCommandLine(GetParam());
  EXPECT_EQ(command.action, CommandLine::Action::kExit);
  EXPECT_EQ(command.exit_status, 2);
  EXPECT_FALSE(command.text.empty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, ChaosCommandLineRefuses,
                         ::testing::Values(std::vector<std::string>{"--seed", "3", "--seeds", "10"},
                                           std::vector<std::string>{"--seed", "3", "--first-seed",
                                                                    "10"},
                                           std::vector<std::string>{"--seeds", "0"},
                                           std::vector<std::string>{"--seeds", "many"},
                                           std::vector<std::string>{"--quiet-phase", "5s"},
                                           std::vector<std::string>{"--trace", "/tmp/x"},
                                           std::vector<std::string>{"--no-such-option"}));

TEST(ChaosReplayCommand, CarriesWhatChangesTheRun) {
  CampaignOptions options;
  EXPECT_EQ(ReplayCommand(0x2a, options), "pacewire-chaos --seed 0x2a");
  options.plan.quiet_phase_us = 45 * kSecondUs;
  EXPECT_EQ(ReplayCommand(0x2a, options), "pacewire-chaos --seed 0x2a --quiet-phase 45s");
  options.churn = true;
  options.plan.quiet_phase_us = PlanSettings{}.quiet_phase_us;
  EXPECT_EQ(ReplayCommand(7, options), "pacewire-chaos --churn --seed 0x7");
}

TEST(ChaosReplayCommand, ParsesBackToTheSameSeedAndSettings) {
  CampaignOptions options;
  options.plan.quiet_phase_us = 12500 * kMillisecondUs;
  const std::string command = ReplayCommand(0xfeedULL, options);
  std::vector<std::string> arguments;
  for (size_t begin = command.find(' ') + 1; begin < command.size();) {
    const size_t end = std::min(command.find(' ', begin), command.size());
    arguments.push_back(command.substr(begin, end - begin));
    begin = end + 1;
  }
  const CommandLine parsed = ParseCommandLine(arguments);
  ASSERT_EQ(parsed.action, CommandLine::Action::kRun) << parsed.text;
  EXPECT_EQ(parsed.options.first_seed, 0xfeedu);
  EXPECT_EQ(parsed.options.seeds, 1u);
  EXPECT_EQ(parsed.options.plan.quiet_phase_us, 12500 * kMillisecondUs);
}

}  // namespace
}  // namespace chaos
