// The reference page on its own: what the module posts is put on the device's
// page by hand, and what the page sends is caught instead of reaching a module.
#include "scenario/reference_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace scenario {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Sent = std::pair<std::string, std::string>;

pp::Var Dictionary(std::vector<std::pair<std::string, std::string>> entries) {
  pp::VarDictionary dictionary;
  for (const auto& [key, value] : entries) dictionary.Set(key, pp::Var(value));
  return dictionary;
}

pp::Var PlayTime(int64_t play_time_ms, int64_t elapsed_pages_ms) {
  return Dictionary({{"SET_PLAYTIME", std::to_string(play_time_ms)},
                     {"SET_ELAPSED_PAGES_PLAYTIME", std::to_string(elapsed_pages_ms)}});
}

class ReferencePageTest : public ::testing::Test {
 protected:
  ReferencePageTest() : host_(lan_.AddHost("10.0.0.7")), device_(host_, ModuleKind::kPacewire) {
    // A live embedding without an instance: page messages are delivered, to us.
    host_.AddEmbedding();
    host_.page().SetMessageHandler([this](const pp::Var& message) {
      const pp::VarDictionary dictionary(message);
      sent_.emplace_back(dictionary.Get("key").AsString(), dictionary.Get("value").AsString());
    });
    page_ = std::make_unique<ReferencePage>(device_, 4, std::vector<int64_t>{10000, 15000, 5000});
  }
  ~ReferencePageTest() override { page_.reset(); }

  // The module posts `value` at the current virtual time; the page's answers arrive.
  void Post(const pp::Var& value) {
    host_.page().Record(value, "test");
    lan_.RunUntilIdle();
  }
  void PostAt(int64_t time_us, const pp::Var& value) {
    lan_.RunUntil(time_us);
    Post(value);
  }
  std::vector<Sent> TakeSent() { return std::exchange(sent_, {}); }

  sim::Lan lan_;
  sim::Host& host_;
  Device device_;
  std::unique_ptr<ReferencePage> page_;
  std::vector<Sent> sent_;
};

TEST_F(ReferencePageTest, StartsItsScheduleWhenTheModuleAnnouncesItself) {
  Post(Dictionary({{"VERSION", "NaCl-21.0802.2"}}));
  EXPECT_THAT(TakeSent(), ElementsAre(Sent{"SET_TOTAL_SCHEDULE_PLAYTIME", "30000"},
                                      Sent{"SET_TOTAL_PLAYTIME", "10000"},
                                      Sent{"START_CLOCK_WITH_SYNC_ID", "4"}));
  EXPECT_EQ(page_->role(), DeviceRole::kChild);
  EXPECT_EQ(page_->page_index(), 0u);
}

TEST_F(ReferencePageTest, AnswersEveryDeviceIpRequestWithItsAddress) {
  Post(Dictionary({{"VERSION", "NaCl-21.0802.2"}}));
  TakeSent();
  Post(Dictionary({{"REQUEST_DEVICE_IP", ""}}));
  Post(Dictionary({{"REQUEST_DEVICE_IP", ""}}));
  EXPECT_THAT(TakeSent(),
              ElementsAre(Sent{"SET_DEVICEIP", "10.0.0.7"}, Sent{"SET_DEVICEIP", "10.0.0.7"}));
  EXPECT_EQ(page_->counts().device_ip_requests, 2u);
}

TEST_F(ReferencePageTest, FollowsToldPositionsAndTellsTheModuleEachNewPageDuration) {
  Post(Dictionary({{"VERSION", "NaCl-21.0802.2"}}));
  TakeSent();
  PostAt(1000000, PlayTime(4000, 0));
  PostAt(1100000, PlayTime(10000, 0));  // the end of page 1 still belongs to it
  EXPECT_THAT(TakeSent(), IsEmpty());

  PostAt(1200000, PlayTime(0, 10100));  // page 2 started a tick late
  EXPECT_THAT(TakeSent(), ElementsAre(Sent{"SET_TOTAL_PLAYTIME", "15000"}));
  PostAt(1300000, PlayTime(100, 10100));
  EXPECT_THAT(TakeSent(), IsEmpty());

  PostAt(1400000, PlayTime(50, 25200));  // page 3
  PostAt(1500000, PlayTime(0, 0));       // the schedule starts again
  EXPECT_THAT(TakeSent(),
              ElementsAre(Sent{"SET_TOTAL_PLAYTIME", "5000"}, Sent{"SET_TOTAL_PLAYTIME", "10000"}));

  EXPECT_THAT(page_->samples(),
              ElementsAre(PositionSample{1000000, 4000}, PositionSample{1100000, 10000},
                          PositionSample{1200000, 10100}, PositionSample{1300000, 10200},
                          PositionSample{1400000, 25250}, PositionSample{1500000, 0}));
  EXPECT_EQ(page_->counts().page_changes, 3u);
  EXPECT_EQ(page_->position_ms(), 0);
  EXPECT_EQ(page_->position_time_us(), 1500000);
}

TEST_F(ReferencePageTest, IgnoresPlayTimesThatAreNotDecimalIntegers) {
  Post(Dictionary({{"VERSION", "NaCl-21.0802.2"}}));
  for (const char* bad : {"", "12x", "+5", "1e3", " 7", "99999999999999999999"}) {
    Post(Dictionary({{"SET_PLAYTIME", bad}, {"SET_ELAPSED_PAGES_PLAYTIME", "0"}}));
  }
  Post(PlayTime(-250, 0));  // negative play times are passed on as they are
  // No position until a play time could be read.
  EXPECT_THAT(page_->samples(), ElementsAre(PositionSample{0, -250}));
  EXPECT_EQ(page_->counts().unreadable_numbers, 6u);
  EXPECT_EQ(page_->page_index(), 0u);
}

TEST_F(ReferencePageTest, ReadsItsDeviceRoleFromTheModuleLog) {
  Post(Dictionary({{"VERSION", "NaCl-21.0802.2"}}));
  PostAt(3100000, pp::Var("[LOG]: Device is set to parent"));
  PostAt(3200000, pp::Var("[LOG]: Sync FrameSchedule is started."));
  EXPECT_EQ(page_->role(), DeviceRole::kParent);
  PostAt(3300000, pp::Var("[LOG]: Device is set to child"));
  EXPECT_EQ(page_->role(), DeviceRole::kChild);

  ASSERT_EQ(page_->role_events().size(), 3u);
  EXPECT_FALSE(page_->role_events()[0].announced);  // the start
  EXPECT_EQ(page_->role_events()[1].time_us, 3100000);
  EXPECT_TRUE(page_->role_events()[1].announced);
  EXPECT_EQ(page_->role_events()[2].role, DeviceRole::kChild);
  EXPECT_EQ(page_->counts().log_lines_received, 3u);
}

TEST_F(ReferencePageTest, ForgetsItsPositionWhileTheDeviceIsDownAndStartsAfreshAfter) {
  Post(Dictionary({{"VERSION", "NaCl-21.0802.2"}}));
  PostAt(1000000, PlayTime(500, 10100));
  PostAt(1100000, pp::Var("[LOG]: Device is set to parent"));
  TakeSent();

  lan_.RunUntil(2000000);
  page_->DeviceDown();
  EXPECT_EQ(page_->role(), DeviceRole::kDown);
  EXPECT_EQ(page_->position_ms(), std::nullopt);
  // What a dying instance still posts is not followed.
  PostAt(2000000, PlayTime(600, 10100));
  PostAt(2000000, Dictionary({{"REQUEST_DEVICE_IP", ""}}));
  EXPECT_THAT(TakeSent(), IsEmpty());

  PostAt(4000000, Dictionary({{"VERSION", "NaCl-21.0802.2"}}));
  EXPECT_EQ(page_->role(), DeviceRole::kChild);
  EXPECT_EQ(page_->page_index(), 0u);
  EXPECT_THAT(TakeSent(), ElementsAre(Sent{"SET_TOTAL_SCHEDULE_PLAYTIME", "30000"},
                                      Sent{"SET_TOTAL_PLAYTIME", "10000"},
                                      Sent{"START_CLOCK_WITH_SYNC_ID", "4"}));
  EXPECT_THAT(page_->samples(),
              ElementsAre(PositionSample{1000000, 10600}, PositionSample{2000000, std::nullopt}));
  EXPECT_EQ(page_->counts().starts, 2u);
}

TEST(ReferencePageIndex, APageHoldsItsEndAndTheScheduleDoesNotWrapOnThePage) {
  sim::Lan lan;
  Device device(lan.AddHost("10.0.0.9"), ModuleKind::kPacewire);
  ReferencePage page(device, 1, {10000, 15000, 5000});
  const std::vector<std::pair<int64_t, size_t>> cases = {
      {-5, 0},    {0, 0},     {10000, 0}, {10001, 1}, {25000, 1},
      {25001, 2}, {30000, 2}, {30100, 2}, {99999, 2},
  };
  for (const auto& [position, index] : cases) {
    EXPECT_EQ(page.PageIndexAt(position), index) << "position " << position;
  }
}

}  // namespace
}  // namespace scenario
