#include "tools/lansim/value_parsers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <tuple>

namespace lansim {
namespace {

// Far beyond any run, far below overflow: a thousand years.
constexpr double kLongestUs = 1000.0 * 365 * 24 * 3600 * 1e6;

std::string Quote(std::string_view text) {
  return "'" + std::string(text) + "'";
}

// Digits with at most one decimal point, at least one digit.
std::optional<double> PlainNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int digits = 0;
  int points = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0 || points > 1) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<uint64_t> WholeNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t begin = 0;
  while (true) {
    const size_t at = text.find(separator, begin);
    parts.push_back(
        text.substr(begin, at == std::string_view::npos ? std::string_view::npos : at - begin));
    if (at == std::string_view::npos) return parts;
    begin = at + 1;
  }
}

// "START-END" as two times; the dash is the first one after the first character.
std::pair<int64_t, int64_t> ParseSpan(std::string_view text) {
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    throw UsageError("time span " + Quote(text) + " needs the form START-END");
  }
  const int64_t from = ParseDuration(text.substr(0, dash));
  const int64_t until = ParseDuration(text.substr(dash + 1));
  if (until <= from) throw UsageError("time span " + Quote(text) + " ends before it starts");
  return {from, until};
}

// "3", "10.0.0.3" or "1-3".
void AddDevices(std::string_view text, size_t device_count, std::vector<size_t>& out) {
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    out.push_back(ParseDevice(text, device_count));
    return;
  }
  const size_t first = ParseDevice(text.substr(0, dash), device_count);
  const size_t last = ParseDevice(text.substr(dash + 1), device_count);
  if (last < first) throw UsageError("device range " + Quote(text) + " runs backwards");
  for (size_t device = first; device <= last; ++device) out.push_back(device);
}

std::vector<size_t> ParseSide(std::string_view text, size_t device_count) {
  std::vector<size_t> side;
  for (const auto part : Split(text, ',')) AddDevices(part, device_count, side);
  std::sort(side.begin(), side.end());
  if (std::adjacent_find(side.begin(), side.end()) != side.end()) {
    throw UsageError("partition side " + Quote(text) + " names a device twice");
  }
  return side;
}

}  // namespace

int64_t ParseSignedDuration(std::string_view text) {
  const std::string_view original = text;
  int sign = 1;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    sign = text.front() == '-' ? -1 : 1;
    text.remove_prefix(1);
  }
  double unit_us = kSecondUs;
  std::string_view number = text;
  if (EndsWith(text, "us")) {
    unit_us = 1;
    number.remove_suffix(2);
  } else if (EndsWith(text, "ms")) {
    unit_us = kMillisecondUs;
    number.remove_suffix(2);
  } else if (EndsWith(text, "s")) {
    number.remove_suffix(1);
  } else if (EndsWith(text, "m")) {
    unit_us = 60.0 * kSecondUs;
    number.remove_suffix(1);
  }
  const auto value = PlainNumber(number);
  if (!value) {
    throw UsageError("time " + Quote(original) + " is not a number with a unit (us, ms, s, m)");
  }
  const double micros = *value * unit_us;
  if (micros > kLongestUs) throw UsageError("time " + Quote(original) + " is too long");
  return sign * static_cast<int64_t>(std::llround(micros));
}

int64_t ParseDuration(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    throw UsageError("time " + Quote(text) + " may not have a sign");
  }
  return ParseSignedDuration(text);
}

double ParseProbability(std::string_view text) {
  const std::string_view original = text;
  double scale = 1;
  if (EndsWith(text, "%")) {
    scale = 100;
    text.remove_suffix(1);
  }
  const auto value = PlainNumber(text);
  if (!value || *value / scale > 1) {
    throw UsageError("probability " + Quote(original) + " is not from 0 to 1 (or 0% to 100%)");
  }
  return *value / scale;
}

double ParseNumber(std::string_view text, std::string_view what, double most) {
  const auto value = PlainNumber(text);
  if (!value || *value > most) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", most);
    throw UsageError(std::string(what) + " " + Quote(text) + " is not a number from 0 to " + limit);
  }
  return *value;
}

int64_t ParseMillisecondsToMicros(std::string_view text) {
  const double value = ParseNumber(text, "milliseconds", kLongestUs / kMillisecondUs);
  return static_cast<int64_t>(std::llround(value * kMillisecondUs));
}

uint64_t ParseSeed(std::string_view text) {
  std::optional<uint64_t> value;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint64_t hex = 0;
    const auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), hex, 16);
    if (error == std::errc() && end == text.data() + text.size()) value = hex;
  } else {
    value = WholeNumber(text);
  }
  if (!value) throw UsageError("seed " + Quote(text) + " is not a 64-bit decimal or 0x number");
  return *value;
}

std::vector<int64_t> ParseSchedule(std::string_view text) {
  std::vector<int64_t> schedule;
  int64_t total = 0;
  for (const auto part : Split(text, ',')) {
    const auto value = WholeNumber(part);
    if (!value || *value == 0 || *value > uint64_t{std::numeric_limits<int32_t>::max()}) {
      throw UsageError("schedule " + Quote(text) + ": " + Quote(part) +
                       " is not a whole positive number of milliseconds");
    }
    total += static_cast<int64_t>(*value);
    if (total > std::numeric_limits<int32_t>::max()) {
      throw UsageError("schedule " + Quote(text) + " lasts longer than 2147483647 ms");
    }
    schedule.push_back(static_cast<int64_t>(*value));
  }
  return schedule;
}

GroupOptions ParseGroup(std::string_view text) {
  const auto refuse = [&] {
    return UsageError("group " + Quote(text) +
                      " needs the form SID:COUNT (sync ID 0 or more, 1 to 254 devices)");
  };
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) throw refuse();
  const uint64_t sync_id = WholeNumber(text.substr(0, colon)).value_or(uint64_t{1} << 32);
  const uint64_t count = WholeNumber(text.substr(colon + 1)).value_or(0);
  if (sync_id > uint64_t{std::numeric_limits<int32_t>::max()} || count == 0 ||
      count > kMaxDevices) {
    throw refuse();
  }
  return GroupOptions{static_cast<int32_t>(sync_id), static_cast<size_t>(count)};
}

size_t ParseDevice(std::string_view text, size_t device_count) {
  for (size_t index = 0; index < device_count; ++index) {
    if (text == DeviceAddress(index)) return index;
  }
  const auto number = WholeNumber(text);
  if (!number || *number == 0 || *number > device_count) {
    throw UsageError("device " + Quote(text) + " is not 1 to " + std::to_string(device_count) +
                     " or the address of one");
  }
  return static_cast<size_t>(*number - 1);
}

PartitionSpec ParsePartition(std::string_view text, size_t device_count) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    throw UsageError("partition " + Quote(text) + " needs the form START-END:A,B|C,D");
  }
  PartitionSpec partition;
  std::tie(partition.from_us, partition.until_us) = ParseSpan(text.substr(0, colon));
  const auto sides = Split(text.substr(colon + 1), '|');
  if (sides.size() > 2) throw UsageError("partition " + Quote(text) + " has more than two sides");
  partition.side_a = ParseSide(sides[0], device_count);
  if (sides.size() == 2) {
    partition.side_b = ParseSide(sides[1], device_count);
  } else {
    for (size_t device = 0; device < device_count; ++device) {
      if (!std::binary_search(partition.side_a.begin(), partition.side_a.end(), device)) {
        partition.side_b.push_back(device);
      }
    }
  }
  for (const size_t device : partition.side_b) {
    if (std::binary_search(partition.side_a.begin(), partition.side_a.end(), device)) {
      throw UsageError("partition " + Quote(text) + " puts a device on both sides");
    }
  }
  if (partition.side_b.empty()) {
    throw UsageError("partition " + Quote(text) + " leaves no device on the other side");
  }
  return partition;
}

RestartSpec ParseRestart(std::string_view text, size_t device_count) {
  const size_t at = text.find('@');
  if (at == std::string_view::npos) {
    throw UsageError("restart " + Quote(text) + " needs the form DEVICE@TIME[+DOWN]");
  }
  RestartSpec restart;
  restart.device = ParseDevice(text.substr(0, at), device_count);
  const std::string_view when = text.substr(at + 1);
  const size_t plus = when.find('+');
  restart.at_us = ParseDuration(when.substr(0, plus));
  if (plus != std::string_view::npos) restart.down_us = ParseDuration(when.substr(plus + 1));
  return restart;
}

ClockStepSpec ParseClockStep(std::string_view text, size_t device_count) {
  const size_t at = text.find('@');
  const size_t colon = text.find(':', at == std::string_view::npos ? 0 : at);
  if (at == std::string_view::npos || colon == std::string_view::npos) {
    throw UsageError("clock step " + Quote(text) + " needs the form DEVICE@TIME:DELTA");
  }
  ClockStepSpec step;
  step.device = ParseDevice(text.substr(0, at), device_count);
  step.at_us = ParseDuration(text.substr(at + 1, colon - at - 1));
  step.delta_us = ParseSignedDuration(text.substr(colon + 1));
  return step;
}

}  // namespace lansim
