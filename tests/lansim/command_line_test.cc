#include "tools/lansim/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/lansim/value_parsers.h"

namespace lansim {
namespace {

using ::testing::HasSubstr;

constexpr uint64_t kEnvironmentSeed = 77;

CommandLine Parse(std::vector<std::string> arguments) {
  return ParseCommandLine(arguments, kEnvironmentSeed);
}

TEST(LansimCommandLine, DefaultsAreSixDevicesInOneGroupForAMinute) {
  const CommandLine line = Parse({});
  ASSERT_EQ(line.action, CommandLine::Action::kRun) << line.text;
  const ScenarioOptions& scenario = line.options.scenario;
  EXPECT_EQ(scenario.device_count(), 6u);
  ASSERT_EQ(scenario.groups.size(), 1u);
  EXPECT_EQ(scenario.groups[0].sync_id, 1);
  EXPECT_EQ(scenario.duration_us, 60 * kSecondUs);
  EXPECT_EQ(scenario.schedule_ms, (std::vector<int64_t>{10000, 15000, 5000}));
  EXPECT_EQ(scenario.seed, kEnvironmentSeed);
  EXPECT_EQ(scenario.delay_us, 200);
  EXPECT_FALSE(line.options.json);
}

TEST(LansimCommandLine, ReadsAFullScenario) {
  const CommandLine line = Parse({"--devices",    "7",
                                  "--groups",     "2",
                                  "--duration",   "1.5m",
                                  "--schedule",   "4000,6000",
                                  "--seed",       "0x2A",
                                  "--delay-ms",   "1.5",
                                  "--jitter-ms",  "3",
                                  "--loss",       "5%",
                                  "--duplicate",  "0.01",
                                  "--reorder",    "0",
                                  "--partition",  "10s-20s:1-3",
                                  "--partition",  "30s-31s:1,10.0.0.2|7",
                                  "--restart",    "6@30s+2s",
                                  "--restart",    "10.0.0.1@40s",
                                  "--clock-step", "2@15s:-500ms",
                                  "--drift-ppm",  "12.5",
                                  "--json",       "--plot",
                                  "out.svg",      "-q"});
  ASSERT_EQ(line.action, CommandLine::Action::kRun) << line.text;
  const ScenarioOptions& scenario = line.options.scenario;
  // Seven devices in two groups: the first group takes the odd one.
  ASSERT_EQ(scenario.groups.size(), 2u);
  EXPECT_EQ(scenario.groups[0].devices, 4u);
  EXPECT_EQ(scenario.groups[1].devices, 3u);
  EXPECT_EQ(scenario.groups[1].sync_id, 2);
  EXPECT_EQ(scenario.duration_us, 90 * kSecondUs);
  EXPECT_EQ(scenario.seed, 42u);
  EXPECT_EQ(scenario.delay_us, 1500);
  EXPECT_EQ(scenario.jitter_us, 3000);
  EXPECT_DOUBLE_EQ(scenario.loss, 0.05);
  EXPECT_DOUBLE_EQ(scenario.duplicate, 0.01);
  EXPECT_DOUBLE_EQ(scenario.drift_ppm, 12.5);

  ASSERT_EQ(scenario.partitions.size(), 2u);
  EXPECT_EQ(scenario.partitions[0].from_us, 10 * kSecondUs);
  EXPECT_EQ(scenario.partitions[0].until_us, 20 * kSecondUs);
  EXPECT_EQ(scenario.partitions[0].side_a, (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(scenario.partitions[0].side_b, (std::vector<size_t>{3, 4, 5, 6}));
  EXPECT_EQ(scenario.partitions[1].side_a, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(scenario.partitions[1].side_b, (std::vector<size_t>{6}));

  ASSERT_EQ(scenario.restarts.size(), 2u);
  EXPECT_EQ(scenario.restarts[0].device, 5u);
  EXPECT_EQ(scenario.restarts[0].at_us, 30 * kSecondUs);
  EXPECT_EQ(scenario.restarts[0].down_us, 2 * kSecondUs);
  EXPECT_EQ(scenario.restarts[1].device, 0u);
  EXPECT_EQ(scenario.restarts[1].down_us, 0);
  ASSERT_EQ(scenario.clock_steps.size(), 1u);
  EXPECT_EQ(scenario.clock_steps[0].device, 1u);
  EXPECT_EQ(scenario.clock_steps[0].delta_us, -500 * kMillisecondUs);

  EXPECT_TRUE(line.options.json);
  EXPECT_TRUE(line.options.quiet);
  EXPECT_EQ(line.options.plot_file, "out.svg");
}

TEST(LansimCommandLine, NamedGroupsKeepTheirSyncIdsAndOrder) {
  const CommandLine line = Parse({"--group", "7:2", "--group", "0:3"});
  ASSERT_EQ(line.action, CommandLine::Action::kRun) << line.text;
  ASSERT_EQ(line.options.scenario.groups.size(), 2u);
  EXPECT_EQ(line.options.scenario.groups[0].sync_id, 7);
  EXPECT_EQ(line.options.scenario.groups[1].sync_id, 0);
  EXPECT_EQ(line.options.scenario.device_count(), 5u);
}

TEST(LansimCommandLine, HelpDescribesTheOptionsAndSucceeds) {
  const CommandLine line = Parse({"--help"});
  EXPECT_EQ(line.action, CommandLine::Action::kExit);
  EXPECT_EQ(line.exit_status, 0);
  EXPECT_THAT(line.text, HasSubstr("--partition"));
  EXPECT_THAT(line.text, HasSubstr("--restart"));
}

TEST(LansimCommandLine, BadArgumentsGiveOneLineAndStatusTwo) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "--bogus"},
      {{"stray"}, "stray"},
      {{"--devices", "0"}, "--devices"},
      {{"--devices", "255"}, "--devices"},
      {{"--devices", "six"}, "--devices"},
      {{"--devices", "2", "--groups", "3"}, "--groups"},
      {{"--group", "1:3", "--groups", "2"}, "together"},
      {{"--group", "1:3", "--group", "1:2"}, "twice"},
      {{"--group", "-1:3"}, "SID:COUNT"},
      {{"--group", "1:0"}, "SID:COUNT"},
      {{"--group", "1:2", "--devices", "3"}, "differs"},
      {{"--duration", "0s"}, "--duration"},
      {{"--duration", "10 s"}, "--duration"},
      {{"--duration", "-5s"}, "sign"},
      {{"--duration", "5h"}, "unit"},
      {{"--schedule", "1000,,2000"}, "--schedule"},
      {{"--schedule", "0"}, "--schedule"},
      {{"--schedule", "2000000000,2000000000"}, "longer"},
      {{"--seed", "0xZZ"}, "--seed"},
      {{"--seed", "-1"}, "--seed"},
      {{"--loss", "1.5"}, "--loss"},
      {{"--loss", "150%"}, "--loss"},
      {{"--delay-ms", "-1"}, "--delay-ms"},
      {{"--drift-ppm", "lots"}, "--drift-ppm"},
      {{"--partition", "10s-20s"}, "START-END"},
      {{"--partition", "20s-10s:1"}, "before it starts"},
      {{"--partition", "10s-20s:1-6"}, "no device on the other side"},
      {{"--partition", "10s-20s:1,2|2,3"}, "both sides"},
      {{"--partition", "10s-20s:1,1"}, "twice"},
      {{"--partition", "10s-20s:1|2|3"}, "more than two"},
      {{"--partition", "10s-20s:7"}, "device '7'"},
      {{"--partition", "90s-99s:1"}, "end of the run"},
      {{"--restart", "3"}, "DEVICE@TIME"},
      {{"--restart", "0@10s"}, "device '0'"},
      {{"--restart", "10.0.0.9@10s"}, "device"},
      {{"--restart", "3@10s+x"}, "--restart"},
      {{"--restart", "3@60s"}, "end of the run"},
      {{"--clock-step", "2@15s"}, "DEVICE@TIME:DELTA"},
      {{"--clock-step", "2@15s:fast"}, "--clock-step"},
      {{"--json", "yes"}, "yes"},
  };
  for (const auto& [arguments, mentioned] : cases) {
    const CommandLine line = Parse(arguments);
    std::string shown;
    for (const auto& argument : arguments) shown += argument + " ";
    EXPECT_EQ(line.action, CommandLine::Action::kExit) << shown;
    EXPECT_EQ(line.exit_status, 2) << shown;
    EXPECT_THAT(line.text, HasSubstr(mentioned)) << shown;
    EXPECT_EQ(line.text.find('\n'), std::string::npos) << shown << ": " << line.text;
  }
}

TEST(LansimValueParsers, TimesTakeAUnitOrAreSeconds) {
  const std::vector<std::pair<std::string, int64_t>> cases = {
      {"250ms", 250000}, {"1.5s", 1500000}, {"2m", 120000000}, {"7", 7000000},
      {"40us", 40},      {"0", 0},          {".5s", 500000},   {"0.0001ms", 0},
  };
  for (const auto& [text, micros] : cases) EXPECT_EQ(ParseDuration(text), micros) << text;
  EXPECT_EQ(ParseSignedDuration("-500ms"), -500000);
  EXPECT_EQ(ParseSignedDuration("+2s"), 2000000);
  for (const char* bad : {"", "s", "1..2s", "1e3s", "--1s", "1 s", "inf", "nan"}) {
    EXPECT_THROW(ParseSignedDuration(bad), UsageError) << bad;
  }
}

}  // namespace
}  // namespace lansim
