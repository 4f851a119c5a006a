// The texts of lansim's options, one parser each. Every parser throws
// UsageError with a message that names what is wrong.
//
// Times: a number with a unit, us, ms, s or m ("250ms", "1.5s", "2m"); a bare
// number is seconds. Devices: the number 1..N or the address ("3" or
// "10.0.0.3"); in a partition side also a range ("1-3").
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/lansim/scenario_options.h"

namespace lansim {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A time of zero or more, in microseconds.
int64_t ParseDuration(std::string_view text);
// A time with an optional sign, in microseconds.
int64_t ParseSignedDuration(std::string_view text);
// "0.05" or "5%", from 0 to 1.
double ParseProbability(std::string_view text);
// A number from 0 to `most` ("12.5"); `what` names it in the error.
double ParseNumber(std::string_view text, std::string_view what, double most);
// Milliseconds as a number of zero or more ("0.2"), in microseconds.
int64_t ParseMillisecondsToMicros(std::string_view text);
// Decimal or 0x-hexadecimal, 64 bits.
uint64_t ParseSeed(std::string_view text);
// "10000,15000,5000": whole positive milliseconds whose sum fits in 32 bits.
std::vector<int64_t> ParseSchedule(std::string_view text);
// "SID:COUNT", sync ID 0 or more, count 1 or more.
GroupOptions ParseGroup(std::string_view text);

// The device index (from 0) that `text` names among `device_count` devices.
size_t ParseDevice(std::string_view text, size_t device_count);
// "START-END:A,B|C,D"; without "|..." the second side is every other device.
PartitionSpec ParsePartition(std::string_view text, size_t device_count);
// "DEVICE@TIME" or "DEVICE@TIME+DOWN".
RestartSpec ParseRestart(std::string_view text, size_t device_count);
// "DEVICE@TIME:DELTA", DELTA signed ("2@15s:+500ms").
ClockStepSpec ParseClockStep(std::string_view text, size_t device_count);

}  // namespace lansim
