// cuebell-event send and listen as programs, over 127.0.0.1 only; and both
// tools' answers to bad arguments.
#include <signal.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/netns/child_process.h"
#include "tests/tools/tool_runs.h"

namespace tools_test {
namespace {

using netns::ChildProcess;
using netns::DescribeWaitStatus;
using std::chrono::milliseconds;
using std::chrono::seconds;

struct EventCase {
  std::string text;
  std::string line;  // what listen prints for it
  bool warns;        // send warns that it cut the text
};

TEST(CuebellEventLoopback, EachEventArrivesAsOneEscapedLine) {
  const std::vector<EventCase> cases = {
      {"doorbell", "doorbell", false},
      {"caf\xe9 50% off", "caf\\xE9 50% off", false},
      {"two\nlines\\", "two\\x0Alines\\\\", false},
      {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", false},
      {std::string(300, 'a'), std::string(255, 'a'), true},
  };
  std::string error;
  const auto listen = ChildProcess::Start({CUEBELL_EVENT_PATH, "listen", "0", "--bind", "127.0.0.1",
                                           "--source", "--count", std::to_string(cases.size())},
                                          &error);
  ASSERT_TRUE(listen) << error;
  const auto port = ListeningPort(*listen, kProgramTimeout);
  ASSERT_TRUE(port) << listen->ErrorOutput();

  for (const EventCase& event : cases) {
    const netns::CommandResult sent = netns::RunCommand(
        {CUEBELL_EVENT_PATH, "send", "127.0.0.1:" + std::to_string(*port), event.text},
        kProgramTimeout);
    EXPECT_EQ(DescribeWaitStatus(sent.wait_status), "exit 0") << sent.error;
    if (event.warns) {
      EXPECT_NE(sent.error.find("warning: the text is 300 bytes; sending its first 255"),
                std::string::npos)
          << sent.error;
    } else {
      EXPECT_EQ(sent.error, "");
    }
  }

  const auto status = listen->WaitForExit(kProgramTimeout);
  ASSERT_TRUE(status) << "listen did not stop after its count; " << listen->ErrorOutput();
  EXPECT_EQ(DescribeWaitStatus(*status), "exit 0");
  listen->FinishReading();
  const std::vector<std::string> lines = OutputLines(*listen);
  ASSERT_EQ(lines.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const size_t space = lines[i].find(' ');
    ASSERT_NE(space, std::string::npos) << lines[i];
    EXPECT_EQ(lines[i].substr(0, 10), "127.0.0.1:") << "the sender comes first";
    EXPECT_EQ(lines[i].substr(space + 1), cases[i].line);
  }
}

TEST(CuebellEventLoopback, ListenEndsWithStatusZeroAfterItsDurationAndOnSigterm) {
  std::string error;
  const auto timed = ChildProcess::Start(
      {CUEBELL_EVENT_PATH, "listen", "0", "--bind", "127.0.0.1", "--duration", "0.3"}, &error);
  ASSERT_TRUE(timed) << error;
  const auto timed_status = timed->WaitForExit(kProgramTimeout);
  ASSERT_TRUE(timed_status) << "listen outlived its --duration";
  EXPECT_EQ(DescribeWaitStatus(*timed_status), "exit 0");
  timed->FinishReading();
  EXPECT_TRUE(OutputLines(*timed).empty());

  const auto endless =
      ChildProcess::Start({CUEBELL_EVENT_PATH, "listen", "0", "--bind", "127.0.0.1"}, &error);
  ASSERT_TRUE(endless) << error;
  ASSERT_TRUE(ListeningPort(*endless, kProgramTimeout)) << endless->ErrorOutput();
  kill(endless->pid(), SIGTERM);
  const auto endless_status = endless->WaitForExit(kProgramTimeout);
  ASSERT_TRUE(endless_status) << "listen ignored SIGTERM";
  EXPECT_EQ(DescribeWaitStatus(*endless_status), "exit 0");
}

struct Invocation {
  std::string program;
  std::vector<std::string> arguments;
};

std::vector<std::string> CommandOf(const Invocation& invocation) {
  std::vector<std::string> argv = {invocation.program == "cuebell-event" ? CUEBELL_EVENT_PATH
                                                                         : PACEWIRE_MONITOR_PATH};
  argv.insert(argv.end(), invocation.arguments.begin(), invocation.arguments.end());
  return argv;
}

TEST(ToolPrograms, RefuseBadArgumentsWithOneLineAndStatusTwo) {
  const std::vector<Invocation> bad = {
      {"cuebell-event", {}},
      {"cuebell-event", {"send", "127.0.0.1", "no port"}},
      {"cuebell-event", {"listen", "99999"}},
      {"cuebell-event", {"listen", "0", "--count"}},
      {"pacewire-monitor", {}},
      {"pacewire-monitor", {"127.0.0.1:0"}},
      {"pacewire-monitor", {"--listen", "nowhere", "127.0.0.1"}},
      {"pacewire-monitor", {"--off", "--duration", "1", "127.0.0.1"}},
  };
  for (const Invocation& invocation : bad) {
    const netns::CommandResult run = netns::RunCommand(CommandOf(invocation), kProgramTimeout);
    SCOPED_TRACE(invocation.program + " with " + std::to_string(invocation.arguments.size()) +
                 " arguments: " + run.error);
    EXPECT_EQ(DescribeWaitStatus(run.wait_status), "exit 2");
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.error.rfind(invocation.program + ": ", 0), 0u);
    EXPECT_EQ(SplitLines(run.error).size(), 1u);
    EXPECT_EQ(run.error.back(), '\n');
  }
}

TEST(ToolPrograms, AnswerHelpWithStatusZero) {
  for (const Invocation& invocation :
       {Invocation{"cuebell-event", {"--help"}}, Invocation{"cuebell-event", {"send", "--help"}},
        Invocation{"pacewire-monitor", {"--help"}}}) {
    const netns::CommandResult run = netns::RunCommand(CommandOf(invocation), kProgramTimeout);
    EXPECT_EQ(DescribeWaitStatus(run.wait_status), "exit 0") << invocation.program;
    EXPECT_NE(run.output.find("Usage: " + invocation.program), std::string::npos) << run.output;
  }
}

}  // namespace
}  // namespace tools_test
