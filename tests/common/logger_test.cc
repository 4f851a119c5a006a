#include "common/logger.h"

#include <gtest/gtest.h>

#include <string>

#include "page_fixture.h"

namespace {

using LoggerTest = LoggedPageTest;

TEST_F(LoggerTest, EachLevelPostsItsPrefixAndNoNewline) {
  Logger::Log("UDPReceiver: Connection failed: %d", -2);
  Logger::Error("UDPReceiver: Connection failed: %d", -2);
  Logger::Debug("Start to broadcast playtime");
  Logger::Warn("UDPReceiver: Already bound.");
  Logger::Log(std::string("UDPSender: Binding ..."));
  Logger::Error(std::string("plain"));
  EXPECT_EQ(lines(), (std::vector<std::string>{
                         "[LOG]: UDPReceiver: Connection failed: -2",
                         "[ERR]: UDPReceiver: Connection failed: -2",
                         "[DEV]: Start to broadcast playtime",
                         "[WARN]: UDPReceiver: Already bound.",
                         "[LOG]: UDPSender: Binding ...",
                         "[ERR]: plain",
                     }));
}

TEST_F(LoggerTest, FormattedLinesAreCutAt255BytesPrefixIncluded) {
  const std::string message(300, 'm');
  Logger::Log("%s", message.c_str());
  Logger::Warn("%s", message.c_str());
  ASSERT_EQ(lines().size(), 2u);
  EXPECT_EQ(lines()[0], "[LOG]: " + std::string(248, 'm'));
  EXPECT_EQ(lines()[1], "[WARN]: " + std::string(247, 'm'));
}

TEST_F(LoggerTest, StringFormsAreNeitherCutNorFormatted) {
  const std::string long_text(1000, 'x');
  Logger::Log(long_text);
  Logger::Error(std::string("100%d done %s"));
  ASSERT_EQ(lines().size(), 2u);
  EXPECT_EQ(lines()[0].size(), 1007u);
  EXPECT_EQ(lines()[1], "[ERR]: 100%d done %s");
}

TEST_F(LoggerTest, DebugSwitchSilencesOnlyFormattedDebugAndWarn) {
  Logger::EnableDebugLogs(false);
  Logger::Debug("debug");
  Logger::Warn("warn");
  Logger::Log("log");
  Logger::Error("error");
  Logger::Log(std::string("log text"));
  Logger::Error(std::string("error text"));
  EXPECT_EQ(lines(), (std::vector<std::string>{"[LOG]: log", "[ERR]: error", "[LOG]: log text",
                                               "[ERR]: error text"}));
  clear();
  Logger::EnableDebugLogs(true);
  Logger::Debug("debug");
  Logger::Warn("warn");
  EXPECT_EQ(lines(), (std::vector<std::string>{"[DEV]: debug", "[WARN]: warn"}));
}

TEST(LoggerLifetime, LinesBeforeInitialisationAreDropped) {
  pp::testing::RecordingInstance page;
  Logger::Log("lost");
  Logger::Error(std::string("lost too"));
  Logger::InitializeInstance(&page);
  Logger::Log("kept");
  Logger::ForgetInstance(&page);
  EXPECT_EQ(page.page().lines(), std::vector<std::string>{"[LOG]: kept"});
}

TEST(LoggerLifetime, FirstInstanceStaysTheCarrierUntilItIsDestroyed) {
  pp::testing::RecordingInstance second;
  {
    pp::testing::RecordingInstance first;
    Logger::InitializeInstance(&first);
    Logger::InitializeInstance(&second);
    Logger::Log("one");
    Logger::ForgetInstance(&second);  // not the carrier: changes nothing
    Logger::Log("two");
    EXPECT_EQ(first.page().lines(), (std::vector<std::string>{"[LOG]: one", "[LOG]: two"}));
    Logger::ForgetInstance(&first);  // what the destroyed instance does
  }
  Logger::Log("dropped, not sent to a dead instance");
  EXPECT_TRUE(second.page().lines().empty());
  Logger::InitializeInstance(&second);
  Logger::Log("three");
  Logger::ForgetInstance(&second);
  EXPECT_EQ(second.page().lines(), std::vector<std::string>{"[LOG]: three"});
}

}  // namespace
