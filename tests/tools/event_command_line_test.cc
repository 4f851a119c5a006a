// cuebell-event's command line: what it accepts, and a one-line error with
// exit status 2 for what it does not.
#include "tools/event/event_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cuebell_event {
namespace {

using std::chrono::milliseconds;

TEST(EventCommandLine, SendTakesDestinationAndText) {
  const CommandLine line = ParseCommandLine({"send", "127.0.0.1:55555", "doorbell"});
  ASSERT_EQ(line.action, CommandLine::Action::kSend) << line.text;
  EXPECT_EQ(line.send.destination, (tool_io::HostAndPort{"127.0.0.1", 55555}));
  EXPECT_EQ(line.send.text, "doorbell");
}

TEST(EventCommandLine, SendTakesAnEmptyTextAndAHostName) {
  const CommandLine line = ParseCommandLine({"send", "tv-lobby:6000", ""});
  ASSERT_EQ(line.action, CommandLine::Action::kSend) << line.text;
  EXPECT_EQ(line.send.destination, (tool_io::HostAndPort{"tv-lobby", 6000}));
  EXPECT_EQ(line.send.text, "");
}

TEST(EventCommandLine, ListenDefaultsToEveryAddressWithoutLimits) {
  const CommandLine line = ParseCommandLine({"listen", "0"});
  ASSERT_EQ(line.action, CommandLine::Action::kListen) << line.text;
  EXPECT_EQ(line.listen.port, 0);
  EXPECT_EQ(line.listen.bind_address, "0.0.0.0");
  EXPECT_FALSE(line.listen.count);
  EXPECT_FALSE(line.listen.duration);
  EXPECT_FALSE(line.listen.show_source);
}

TEST(EventCommandLine, ListenTakesItsOptions) {
  const CommandLine line = ParseCommandLine(
      {"listen", "55555", "--count", "3", "--duration", "1.5", "--bind", "127.0.0.1", "--source"});
  ASSERT_EQ(line.action, CommandLine::Action::kListen) << line.text;
  EXPECT_EQ(line.listen.port, 55555);
  EXPECT_EQ(line.listen.count, 3u);
  EXPECT_EQ(line.listen.duration, milliseconds(1500));
  EXPECT_EQ(line.listen.bind_address, "127.0.0.1");
  EXPECT_TRUE(line.listen.show_source);
}

TEST(EventCommandLine, HelpOfEachCommandExitsWithZero) {
  const CommandLine top = ParseCommandLine({"--help"});
  EXPECT_EQ(top.action, CommandLine::Action::kExit);
  EXPECT_EQ(top.exit_status, 0);
  EXPECT_NE(top.text.find("listen"), std::string::npos);

  const CommandLine listen = ParseCommandLine({"listen", "--help"});
  EXPECT_EQ(listen.exit_status, 0);
  EXPECT_NE(listen.text.find("--count"), std::string::npos);
  EXPECT_NE(listen.text.find("\\xHH"), std::string::npos) << "the escaping is documented";
}

class EventCommandLineRefuses : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(EventCommandLineRefuses, WithExitStatusTwo) {
  const CommandLine line = ParseCommandLine(GetParam());
  EXPECT_EQ(line.action, CommandLine::Action::kExit);
  EXPECT_EQ(line.exit_status, 2);
  EXPECT_FALSE(line.text.empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, EventCommandLineRefuses,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"shout", "x"},
                    std::vector<std::string>{"send"},
                    std::vector<std::string>{"send", "127.0.0.1:5000"},
                    std::vector<std::string>{"send", "127.0.0.1", "no port"},
                    std::vector<std::string>{"send", "127.0.0.1:0", "x"},
                    std::vector<std::string>{"send", "127.0.0.1:65536", "x"},
                    std::vector<std::string>{"send", "127.0.0.1:5x", "x"},
                    std::vector<std::string>{"send", ":5000", "x"},
                    std::vector<std::string>{"send", "::1:5000", "x"},
                    std::vector<std::string>{"send", "127.0.0.1:5000", "a", "b"},
                    std::vector<std::string>{"listen"}, std::vector<std::string>{"listen", "-1"},
                    std::vector<std::string>{"listen", "port"},
                    std::vector<std::string>{"listen", "5000", "--count", "0"},
                    std::vector<std::string>{"listen", "5000", "--count", "many"},
                    std::vector<std::string>{"listen", "5000", "--duration", "0"},
                    std::vector<std::string>{"listen", "5000", "--duration", "nan"},
                    std::vector<std::string>{"listen", "5000", "--bind", "localhost"},
                    std::vector<std::string>{"listen", "5000", "--loud"}));

TEST(EventBytes, KeepsAtMost255BytesEvenInsideACharacter) {
  const std::string exactly(255, 'a');
  EXPECT_EQ(EventBytes(exactly), exactly);
  EXPECT_EQ(EventBytes(exactly + "b"), exactly);
  // 254 ASCII bytes and a two-byte character: only its first byte fits.
  const std::string split = std::string(254, 'a') + "\xc3\xa9";
  EXPECT_EQ(EventBytes(split), std::string(254, 'a') + "\xc3");
  EXPECT_EQ(EventBytes(""), "");
}

}  // namespace
}  // namespace cuebell_event
