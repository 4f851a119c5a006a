// A receiver whose bind the platform refused: the campaign found devices that
// stayed deaf for good after one refusal, flipping their role every 31 ticks
// and taking the parent role from the group again and again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/pp_errors.h"
#include "platform/sim/sim.h"
#include "scenario/module_world.h"
#include "tests/scenario/pacewire_fixture.h"

namespace scenario {
namespace {

std::vector<int64_t> TimesOf(const std::vector<sim::PostedValue>& lines) {
  std::vector<int64_t> times;
  for (const auto& line : lines) times.push_back(line.time_us);
  return times;
}

class ReceiverBindRefused : public ::testing::TestWithParam<int32_t> {};

TEST_P(ReceiverBindRefused, IsMadeAgainAtTheNextRecheckAndTheDeviceHearsAgain) {
  ModuleWorld world;
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  world.RunFor(0);
  const TickClock ticks = TicksOf(device);
  StartFrameSchedule(device, FrameSchedule{});
  // The receiver binds first on tick 31, before the sync sender's chain.
  device.host().faults().bind.FailNext(1, GetParam());
  world.lan().RunUntil(ticks.At(200));

  const sim::Page& page = device.page();
  EXPECT_EQ(LinesWith(page, "[ERR]: UDPReceiver: Connection failed: ").size(), 1u);
  EXPECT_EQ(TimesOf(LinesWith(page, "UDPReceiver: Binding ...: 0.0.0.0:47475")),
            (std::vector<int64_t>{ticks.At(31), ticks.At(62)}));
  EXPECT_EQ(TimesOf(LinesWith(page, "UDPReceiver: Successfully created.")),
            std::vector<int64_t>{ticks.At(62)});

  // Alone in its group it takes the role on tick 31 and, deaf to its own
  // broadcasts, gives it up on tick 62; hearing them from then on, it takes
  // the role on tick 93 for good.
  EXPECT_EQ(TimesOf(LinesWith(page, "Device is set to ")),
            (std::vector<int64_t>{ticks.At(31), ticks.At(62), ticks.At(93)}));
  EXPECT_EQ(Role(page), "parent");
  EXPECT_FALSE(PlayTimes(page, ticks.At(95)).empty()) << "its page hears its own broadcasts";
}

INSTANTIATE_TEST_SUITE_P(Codes, ReceiverBindRefused,
                         ::testing::Values(PP_ERROR_ADDRESS_IN_USE, PP_ERROR_NOACCESS,
                                           PP_ERROR_FAILED),
                         [](const auto& info) { return pp::ResultName(info.param); });

}  // namespace
}  // namespace scenario
