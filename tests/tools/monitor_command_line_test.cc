// pacewire-monitor's command line: devices, where to listen, how to show, and
// a one-line error with exit status 2 for what it does not accept.
#include "tools/monitor/monitor_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pacewire_monitor {
namespace {

using std::chrono::milliseconds;

TEST(MonitorCommandLine, ADeviceAloneGetsTheDefaults) {
  const CommandLine line = ParseCommandLine({"10.0.0.5"});
  ASSERT_EQ(line.action, CommandLine::Action::kRun) << line.text;
  const MonitorOptions& options = line.options;
  ASSERT_EQ(options.devices.size(), 1u);
  EXPECT_EQ(options.devices[0], (tool_io::HostAndPort{"10.0.0.5", 47475}));
  EXPECT_EQ(options.listen_address, "") << "derived per device";
  EXPECT_EQ(options.listen_port, 0);
  EXPECT_FALSE(options.jsonl);
  EXPECT_FALSE(options.off);
  EXPECT_FALSE(options.duration);
  EXPECT_EQ(options.resend_every, milliseconds(30000));
  EXPECT_EQ(options.show_every, milliseconds(1000));
}

TEST(MonitorCommandLine, TakesEveryOption) {
  const CommandLine line =
      ParseCommandLine({"10.0.0.5:47810", "screen-2", "--listen", "127.0.0.1:47600", "--jsonl",
                        "--duration", "2.5", "--resend", "5", "--interval", "0.2"});
  ASSERT_EQ(line.action, CommandLine::Action::kRun) << line.text;
  const MonitorOptions& options = line.options;
  ASSERT_EQ(options.devices.size(), 2u);
  EXPECT_EQ(options.devices[0], (tool_io::HostAndPort{"10.0.0.5", 47810}));
  EXPECT_EQ(options.devices[1], (tool_io::HostAndPort{"screen-2", 47475}));
  EXPECT_EQ(options.listen_address, "127.0.0.1");
  EXPECT_EQ(options.listen_port, 47600);
  EXPECT_TRUE(options.jsonl);
  EXPECT_EQ(options.duration, milliseconds(2500));
  EXPECT_EQ(options.resend_every, milliseconds(5000));
  EXPECT_EQ(options.show_every, milliseconds(200));
}

TEST(MonitorCommandLine, ListenWithoutAnAddressOrWithTheAnyAddressDerivesIt) {
  for (const char* listen : {":47600", "0.0.0.0:47600"}) {
    const CommandLine line = ParseCommandLine({"--listen", listen, "10.0.0.5"});
    ASSERT_EQ(line.action, CommandLine::Action::kRun) << listen << ": " << line.text;
    EXPECT_EQ(line.options.listen_address, "") << listen;
    EXPECT_EQ(line.options.listen_port, 47600) << listen;
  }
}

TEST(MonitorCommandLine, OffNeedsOnlyTheDevices) {
  const CommandLine line = ParseCommandLine({"--off", "10.0.0.5", "10.0.0.6"});
  ASSERT_EQ(line.action, CommandLine::Action::kRun) << line.text;
  EXPECT_TRUE(line.options.off);
  EXPECT_EQ(line.options.devices.size(), 2u);
}

TEST(MonitorCommandLine, HelpExitsWithZeroAndExplainsTheSpread) {
  const CommandLine line = ParseCommandLine({"--help"});
  EXPECT_EQ(line.action, CommandLine::Action::kExit);
  EXPECT_EQ(line.exit_status, 0);
  EXPECT_NE(line.text.find("playTime - elapsedTimeFromMaster"), std::string::npos);
}

class MonitorCommandLineRefuses : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(MonitorCommandLineRefuses, WithExitStatusTwo) {
  const CommandLine line = ParseCommandLine(GetParam());
  EXPECT_EQ(line.action, CommandLine::Action::kExit);
  EXPECT_EQ(line.exit_status, 2);
  EXPECT_FALSE(line.text.empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, MonitorCommandLineRefuses,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--jsonl"},
                    std::vector<std::string>{"10.0.0.5:0"},
                    std::vector<std::string>{"10.0.0.5:sync"},
                    std::vector<std::string>{"10.0.0.5:"}, std::vector<std::string>{":47475"},
                    std::vector<std::string>{"fe80::1"},
                    std::vector<std::string>{"10.0.0.5", "10.0.0.5:47475"},
                    std::vector<std::string>{"--listen", "127.0.0.1", "10.0.0.5"},
                    std::vector<std::string>{"--listen", "localhost:5", "10.0.0.5"},
                    std::vector<std::string>{"--listen", ":65536", "10.0.0.5"},
                    std::vector<std::string>{"--duration", "0", "10.0.0.5"},
                    std::vector<std::string>{"--duration", "soon", "10.0.0.5"},
                    std::vector<std::string>{"--duration", "inf", "10.0.0.5"},
                    std::vector<std::string>{"--resend", "0.01", "10.0.0.5"},
                    std::vector<std::string>{"--interval", "0", "10.0.0.5"},
                    std::vector<std::string>{"--off", "--duration", "3", "10.0.0.5"},
                    std::vector<std::string>{"--verbose", "10.0.0.5"}));

}  // namespace
}  // namespace pacewire_monitor
