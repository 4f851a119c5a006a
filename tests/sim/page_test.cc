// Pages: values posted through any embedding of the LAN reach the page of the
// device whose code is running; page messages reach the instance on time, on
// the platform main-thread loop. Name resolution is here too.
#include <gtest/gtest.h>

#include "tests/sim/sim_fixture.h"

namespace sim_test {
namespace {

class PageTest : public SimTest {
 protected:
  sim::Host& a = lan.AddHost("10.0.0.1");
  sim::Host& b = lan.AddHost("10.0.0.2");
  sim::SimEmbedding& on_a = a.AddEmbedding();
  sim::SimEmbedding& on_b = b.AddEmbedding();
};

TEST_F(PageTest, AValuePostedWhileADeviceRunsReachesThatDevicesPage) {
  lan.RunFor(sim::kSecond);
  OnMain(on_b, [&] { on_a.PostMessage(pp::Var("through a's embedding")); });
  ASSERT_EQ(b.page().posted().size(), 1u);
  EXPECT_TRUE(a.page().posted().empty());
  const sim::PostedValue& posted = b.page().posted()[0];
  EXPECT_EQ(posted.value.AsString(), "through a's embedding");
  EXPECT_EQ(posted.loop, "10.0.0.2 platform-main");
  EXPECT_EQ(posted.time_us, sim::kSecond);
}

TEST_F(PageTest, OutsideAnyLoopAValueGoesToTheEmbeddingsOwnPage) {
  on_a.PostMessage(pp::Var("from the test"));
  ASSERT_EQ(a.page().lines(), std::vector<std::string>{"from the test"});
  EXPECT_EQ(a.page().posted()[0].loop, "(no loop)");
}

TEST_F(PageTest, TheAnchorRoutesByTheRunningDeviceAndKeepsTheRestApart) {
  pp::Instance& anchor = lan.anchor_instance();
  OnMain(on_a, [&] { anchor.PostMessage(pp::Var("on a")); });
  OnMain(on_b, [&] { anchor.PostMessage(pp::Var("on b")); });
  anchor.PostMessage(pp::Var("on nobody"));
  EXPECT_EQ(a.page().lines(), std::vector<std::string>{"on a"});
  EXPECT_EQ(b.page().lines(), std::vector<std::string>{"on b"});
  EXPECT_EQ(lan.unrouted_page().lines(), std::vector<std::string>{"on nobody"});
}

TEST_F(PageTest, TheAnchorReadsTheRunningDevicesClock) {
  b.clock().StepAt(0, 7 * sim::kSecond);
  int64_t seen_on_b = 0;
  OnMain(on_b, [&] { seen_on_b = pp::WallClockMicros(&lan.anchor_instance()); });
  EXPECT_EQ(seen_on_b, b.WallClockMicros());
  EXPECT_EQ(seen_on_b - a.WallClockMicros(), 7 * sim::kSecond);
}

TEST_F(PageTest, PageMessagesArriveAtTheirTimeOnThePlatformMainLoop) {
  std::vector<std::string> seen;
  a.page().SetMessageHandler([&](const pp::Var& message) {
    seen.push_back(message.AsString() + " at " + std::to_string(lan.now_us()) + " on " +
                   pp::MessageLoop::GetCurrent().name());
  });
  a.page().SendAt(1500 * sim::kMillisecond, pp::Var("later"));
  a.page().SendAt(500 * sim::kMillisecond, pp::Var("sooner"));
  lan.RunFor(2 * sim::kSecond);
  EXPECT_EQ(seen, (std::vector<std::string>{"sooner at 500000 on 10.0.0.1 platform-main",
                                            "later at 1500000 on 10.0.0.1 platform-main"}));
  EXPECT_EQ(lan.trace().EventsOfKind(sim::TraceKind::kPageMessage).size(), 2u);
}

TEST_F(PageTest, APageMessageWithNoInstanceToTakeItIsDroppedAndTraced) {
  a.RemoveEmbedding();
  a.page().SetMessageHandler([](const pp::Var&) { FAIL() << "nobody should get it"; });
  a.page().Send(pp::Var("anyone?"));
  lan.RunFor(sim::kSecond);
  const auto traced = lan.trace().EventsOfKind(sim::TraceKind::kPageMessage);
  ASSERT_EQ(traced.size(), 1u);
  EXPECT_NE(traced[0].text.find("dropped"), std::string::npos) << traced[0].text;
}

// ---- name resolution ---------------------------------------------------------------

class ResolverTest : public SimTest {};

TEST_F(ResolverTest, ResolvesAddressesLocalhostAndTheLansNames) {
  sim::HostOptions named;
  named.address = "10.0.0.7";
  named.name = "monitor.lan";
  lan.AddHost(named);
  sim::SimEmbedding& device = Device("10.0.0.1");
  lan.AddName("Player", "10.0.0.8");
  struct Case {
    const char* host;
    int32_t result;
    const char* address;
  };
  for (const Case& c :
       {Case{"255.255.255.255", PP_OK, "255.255.255.255:80"},
        Case{"localhost", PP_OK, "127.0.0.1:80"}, Case{"MONITOR.lan", PP_OK, "10.0.0.7:80"},
        Case{"player", PP_OK, "10.0.0.8:80"}, Case{"unknown.lan", PP_ERROR_NAME_NOT_RESOLVED, ""},
        Case{"", PP_ERROR_NAME_NOT_RESOLVED, ""}}) {
    pp::HostResolver resolver(device.handle());
    const Outcome outcome = Await(device, [&](const auto& done) {
      return resolver.Resolve(c.host, 80, PP_HostResolver_Hint(), done);
    });
    EXPECT_TRUE(outcome.completed) << c.host;
    EXPECT_EQ(outcome.result, c.result) << c.host;
    if (c.result == PP_OK) {
      ASSERT_EQ(resolver.GetNetAddressCount(), 1u) << c.host;
      EXPECT_EQ(resolver.GetNetAddress(0).DescribeAsString(true).AsString(), c.address);
    } else {
      EXPECT_EQ(resolver.GetNetAddressCount(), 0u) << c.host;
    }
  }
}

TEST_F(ResolverTest, ResolutionTakesTheConfiguredDelayAndOneAtATime) {
  sim::LanOptions options;
  options.resolve_delay_us = 30 * sim::kMillisecond;
  sim::Lan slow(options);
  sim::SimEmbedding& device = slow.AddHost("10.0.0.1").AddEmbedding();
  pp::HostResolver resolver(device.handle());
  int64_t completed_at = -1;
  int32_t second = 0;
  device.RunOnMainLoop([&] {
    resolver.Resolve("10.0.0.1", 1, PP_HostResolver_Hint(),
                     pp::CompletionCallback([&](int32_t) { completed_at = slow.now_us(); }));
    second = resolver.Resolve("10.0.0.1", 1, PP_HostResolver_Hint(), pp::CompletionCallback());
  });
  slow.RunFor(sim::kSecond);
  EXPECT_EQ(second, PP_ERROR_INPROGRESS);
  EXPECT_EQ(completed_at, 30 * sim::kMillisecond);
}

}  // namespace
}  // namespace sim_test
