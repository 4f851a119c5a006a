// The stdio page channel as a page sees it: an embedder program started with
// pipes on its standard streams. Cuebell sends nothing unless its page turns
// "DEBUGGER" on, so these runs stay on this machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
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

class StdioPageChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    host_ = ChildProcess::Start({CUEBELL_HOST_PATH}, &error);
    ASSERT_NE(host_, nullptr) << error;
  }

  // Ends the input and expects the program to end with status 0.
  void EndInput() {
    host_->CloseInput();
    const auto status = host_->WaitForExit(kExitTimeout);
    ASSERT_TRUE(status) << "still running after its input ended";
    EXPECT_EQ(DescribeWaitStatus(*status), "exit 0") << host_->ErrorOutput();
  }

  std::unique_ptr<ChildProcess> host_;
};

TEST_F(StdioPageChannel, DropsALineTooLongToBeAMessageAndReadsTheNextOnes) {
  // Three mebibytes with no newline until their end, then ordinary lines.
  ASSERT_TRUE(host_->WriteLine(std::string(3 << 20, 'x')));
  ASSERT_TRUE(host_->WriteLine("not json"));
  ASSERT_TRUE(host_->WriteLine(R"({"key":"EVENT_TYPE","value":"lights"})"));
  EndInput();

  EXPECT_THAT(host_->ErrorOutput(),
              HasSubstr("cuebell-host: line 1: longer than 1048576 bytes, skipped\n"));
  EXPECT_THAT(host_->ErrorOutput(), HasSubstr("cuebell-host: line 2: not a JSON value, skipped\n"));
  EXPECT_TRUE(Printed(*host_, R"("[LOG]: [16: EVENT_TYPE] lights")")) << Transcript(*host_);
}

TEST_F(StdioPageChannel, ATooLongLastLineWithoutNewlineIsReportedToo) {
  ASSERT_TRUE(host_->WriteLine(R"({"key":"EVENT_TYPE","value":"first"})"));
  // WriteLine ends with a newline: write the overlong last line without one.
  ASSERT_TRUE(host_->WriteRaw(std::string(2 << 20, '{')));
  EndInput();

  EXPECT_THAT(host_->ErrorOutput(),
              HasSubstr("cuebell-host: line 2: longer than 1048576 bytes, skipped\n"));
  EXPECT_THAT(host_->ErrorOutput(), Not(HasSubstr("line 1")));
}

}  // namespace
}  // namespace host
