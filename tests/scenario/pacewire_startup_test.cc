#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenario/module_world.h"

namespace scenario {
namespace {

constexpr int64_t kMs = 1000;

TEST(PacewireStartup, VersionFirstThenSocketsOnThe31stTick) {
  ModuleWorld world;
  Device& device = world.AddDevice("10.0.0.7", ModuleKind::kPacewire);
  world.RunFor(1);  // Init runs
  ASSERT_FALSE(device.page().dictionaries().empty());
  EXPECT_EQ(pp::VarDictionary(device.page().dictionaries()[0]).Get("VERSION").AsString(),
            "NaCl-21.0802.2");

  world.RunFor(100 * kMs);  // first tick
  EXPECT_EQ(device.page().LinesContaining("[INIT]").size(), 2u);
  EXPECT_TRUE(device.page().LinesContaining("UDPReceiver: Binding").empty());

  world.RunFor(3000 * kMs);  // tick 31 at 3100 ms
  const auto binding = device.page().LinesContaining("UDPReceiver: Binding ...: 0.0.0.0:47475");
  ASSERT_EQ(binding.size(), 1u);
  EXPECT_EQ(
      device.page()
          .LinesContaining("UDPSender: Resolving ... host name: 255.255.255.255, port: 47475 0")
          .size(),
      1u);
  world.RunFor(10 * kMs);
  EXPECT_EQ(device.page().LinesContaining("Start to broadcast playtime").size(), 1u);
}

}  // namespace
}  // namespace scenario
