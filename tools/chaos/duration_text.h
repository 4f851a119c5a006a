#pragma once
// Durations as the campaign prints them in its reports and plans.

#include <cstdint>
#include <string>

namespace chaos {

// "12.345 s"
std::string SecondsText(int64_t us);

// "12.345 ms", or with fewer decimals "12.35 ms".
std::string MillisecondsText(int64_t us, int decimals = 3);

}  // namespace chaos
