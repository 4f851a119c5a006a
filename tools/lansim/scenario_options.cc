#include "tools/lansim/scenario_options.h"

namespace lansim {

size_t ScenarioOptions::device_count() const {
  size_t count = 0;
  for (const auto& group : groups) count += group.devices;
  return count;
}

std::string DeviceAddress(size_t index) {
  return "10.0.0." + std::to_string(index + 1);
}

}  // namespace lansim
