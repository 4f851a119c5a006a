// How a fresh Pacewire instance comes up: the version message first, the first
// tick 100 ms after Init with its two "[INIT]" lines, and the receiver and the
// sync sender made on the 31st tick, not before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenario/module_world.h"
#include "tests/scenario/pacewire_fixture.h"

namespace scenario {
namespace {

constexpr char kInitReceiverLine[] =
    "[LOG]: [INIT] Listen Port is set. Receiver Socket will be closed.";
constexpr char kInitSenderLine[] = "[LOG]: [INIT] Sender Socket will be closed.";
constexpr char kReceiverMadeLine[] = "[LOG]: UDPReceiver: Binding ...: 0.0.0.0:47475";
constexpr char kSenderMadeLine[] =
    "[LOG]: UDPSender: Resolving ... host name: 255.255.255.255, port: 47475 0";

// When the device's instance starts does not matter: everything counts from its Init.
class PacewireStartup : public ::testing::TestWithParam<int64_t> {
 protected:
  PacewireStartup() {
    world_.RunFor(GetParam());
    device_ = &world_.AddDevice("10.0.0.7", ModuleKind::kPacewire);
    world_.RunFor(0);  // Init runs now
  }

  ModuleWorld world_;
  Device* device_ = nullptr;
};

TEST_P(PacewireStartup, VersionMessageIsTheFirstDictionaryAndIsPostedByInit) {
  world_.RunFor(5 * kSecond);
  const auto dictionaries = device_->page().dictionaries();
  ASSERT_FALSE(dictionaries.empty());
  const pp::VarDictionary first(dictionaries.front());
  EXPECT_EQ(first.GetKeys().GetLength(), 1u);
  EXPECT_EQ(first.Get("VERSION").AsString(), kVersionText);
  EXPECT_EQ(InitTime(device_->page()), GetParam()) << "Init runs as soon as the instance exists";
}

TEST_P(PacewireStartup, FirstTickComes100msAfterInitAndLogsBothInitLines) {
  const int64_t init = InitTime(device_->page());
  world_.RunFor(kTick - 1);
  for (const auto& posted : device_->page().posted()) {
    EXPECT_FALSE(PostedBy(posted, "mainThread"))
        << "the tick thread posted before the first tick: " << posted.value.DebugString();
  }

  world_.RunFor(1);
  const auto receiver_line = FirstLineWith(device_->page(), kInitReceiverLine);
  const auto sender_line = FirstLineWith(device_->page(), kInitSenderLine);
  ASSERT_TRUE(receiver_line && sender_line);
  EXPECT_EQ(receiver_line->time_us, init + kTick);
  EXPECT_EQ(sender_line->time_us, init + kTick);
  EXPECT_TRUE(PostedBy(*receiver_line, "mainThread"));
  EXPECT_TRUE(PostedBy(*sender_line, "mainThread"));
  // Closing sockets that were never made only says so.
  EXPECT_EQ(LinesWith(device_->page(), "[ERR]: UDPReceiver: Not bound. No need to close.").size(),
            1u);
  EXPECT_EQ(LinesWith(device_->page(), "[ERR]: UDPSender: Not bound. No need to close.").size(),
            1u);

  world_.RunFor(10 * kSecond);
  EXPECT_EQ(LinesWith(device_->page(), "[INIT]").size(), 2u) << "the settings never change";
}

TEST_P(PacewireStartup, ReceiverAndSyncSenderAreMadeOnThe31stTick) {
  const TickClock ticks = TicksOf(*device_);
  world_.lan().RunUntil(ticks.At(30));
  EXPECT_TRUE(LinesWith(device_->page(), "UDPReceiver: Binding").empty());
  EXPECT_TRUE(LinesWith(device_->page(), "UDPSender: Resolving").empty());
  EXPECT_EQ(device_->host().SocketOnPort(kSyncPort), nullptr);

  world_.lan().RunUntil(ticks.At(31));
  const auto receiver_made = FirstLineWith(device_->page(), kReceiverMadeLine);
  const auto sender_made = FirstLineWith(device_->page(), kSenderMadeLine);
  ASSERT_TRUE(receiver_made && sender_made);
  EXPECT_EQ(receiver_made->time_us, ticks.At(31));
  EXPECT_EQ(sender_made->time_us, ticks.At(31));
  EXPECT_TRUE(PostedBy(*receiver_made, "mainThread"));
  EXPECT_NE(device_->host().SocketOnPort(kSyncPort), nullptr);
  EXPECT_EQ(LinesWith(device_->page(), "[LOG]: UDPReceiver: Successfully created.").size(), 1u);
  EXPECT_EQ(LinesWith(device_->page(), "[DEV]: Start to broadcast playtime").size(), 1u)
      << "the sync sender finishes its set-up within the tick's instant";

  world_.lan().RunUntil(ticks.At(31 + 5 * kRecheckTicks));
  EXPECT_EQ(LinesWith(device_->page(), "UDPReceiver: Binding").size(), 1u)
      << "a bound receiver is left alone at later re-checks";
  EXPECT_EQ(LinesWith(device_->page(), "UDPSender: Resolving").size(), 1u);
}

TEST_P(PacewireStartup, EveryTickPostsThePlayTimeOutsideSyncMode) {
  const TickClock ticks = TicksOf(*device_);
  world_.lan().RunUntil(ticks.At(50));
  const auto play_times = PlayTimes(device_->page());
  ASSERT_EQ(play_times.size(), 50u);
  for (size_t k = 0; k < play_times.size(); ++k) {
    EXPECT_EQ(play_times[k].time_us, ticks.At(static_cast<int>(k) + 1));
    EXPECT_TRUE(OnThread(play_times[k].loop, "mainThread"));
  }
}

INSTANTIATE_TEST_SUITE_P(InitAt, PacewireStartup, ::testing::Values(int64_t{0}, int64_t{1234567}),
                         [](const auto& info) { return "T" + std::to_string(info.param) + "us"; });

}  // namespace
}  // namespace scenario
