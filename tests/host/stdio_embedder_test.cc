// The stdio page channel as a page sees it: an embedder program started with
// pipes on its standard streams. Cuebell sends nothing unless its page turns
// "DEBUGGER" on, so these runs stay on this machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/netns/child_process.h"

namespace host {
namespace {

using netns::ChildProcess;
using netns::DescribeWaitStatus;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr std::chrono::seconds kExitTimeout{20};

bool Printed(const ChildProcess& process, const std::string& line) {
  for (const auto& entry : process.output().Snapshot()) {
    if (entry.value == line) return true;
  }
  return false;
}

TEST(StdioPageChannel, DropsALineTooLongToBeAMessageAndReadsTheNextOnes) {
  std::string error;
  const auto host = ChildProcess::Start({CUEBELL_HOST_PATH}, &error);
  ASSERT_NE(host, nullptr) << error;

  // Three mebibytes with no newline until their end, then ordinary lines.
  ASSERT_TRUE(host->WriteLine(std::string(3 << 20, 'x')));
  ASSERT_TRUE(host->WriteLine("not json"));
  ASSERT_TRUE(host->WriteLine(R"({"key":"EVENT_TYPE","value":"lights"})"));
  host->CloseInput();
  const auto status = host->WaitForExit(kExitTimeout);
  ASSERT_TRUE(status) << "still running after its input ended";

  EXPECT_EQ(DescribeWaitStatus(*status), "exit 0") << host->ErrorOutput();
  EXPECT_THAT(host->ErrorOutput(),
              HasSubstr("cuebell-host: line 1: longer than 1048576 bytes, skipped\n"));
  EXPECT_THAT(host->ErrorOutput(), HasSubstr("cuebell-host: line 2: not a JSON value, skipped\n"));
  EXPECT_TRUE(Printed(*host, R"("[LOG]: [16: EVENT_TYPE] lights")")) << Transcript(*host);
}

TEST(StdioPageChannel, ATooLongLastLineWithoutNewlineIsReportedToo) {
  std::string error;
  const auto host = ChildProcess::Start({CUEBELL_HOST_PATH}, &error);
  ASSERT_NE(host, nullptr) << error;

  ASSERT_TRUE(host->WriteLine(R"({"key":"EVENT_TYPE","value":"first"})"));
  // WriteLine ends with a newline: write the overlong last line without one.
  const std::string last(2 << 20, '{');
  ASSERT_TRUE(host->WriteRaw(last));
  host->CloseInput();
  const auto status = host->WaitForExit(kExitTimeout);
  ASSERT_TRUE(status) << "still running after its input ended";

  EXPECT_EQ(DescribeWaitStatus(*status), "exit 0") << host->ErrorOutput();
  EXPECT_THAT(host->ErrorOutput(),
              HasSubstr("cuebell-host: line 2: longer than 1048576 bytes, skipped\n"));
  EXPECT_THAT(host->ErrorOutput(), Not(HasSubstr("line 1")));
}

}  // namespace
}  // namespace host
