#include "tools/event/argument_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tool_io {
namespace {

constexpr double kMaximumSeconds = 10.0 * 24 * 3600;

// The whole of `text` as a number, or nothing.
template <typename Number>
std::optional<Number> WholeNumber(const std::string& text) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

uint16_t ParsePort(const std::string& text, bool allow_zero) {
  const auto value = WholeNumber<uint32_t>(text);
  const uint32_t lowest = allow_zero ? 0 : 1;
  if (!value || *value < lowest || *value > 65535) {
    throw UsageError("port '" + text + "' is not a number from " + std::to_string(lowest) +
                     " to 65535");
  }
  return static_cast<uint16_t>(*value);
}

HostAndPort ParseHostAndPort(const std::string& text, std::optional<uint16_t> default_port) {
  const size_t colon = text.rfind(':');
  HostAndPort parsed;
  if (colon == std::string::npos) {
    if (!default_port) throw UsageError("'" + text + "' is not HOST:PORT");
    parsed.host = text;
    parsed.port = *default_port;
  } else {
    parsed.host = text.substr(0, colon);
    parsed.port = ParsePort(text.substr(colon + 1), false);
  }
  if (parsed.host.empty()) throw UsageError("'" + text + "' has no host");
  if (parsed.host.find(':') != std::string::npos) {
    throw UsageError("'" + text + "': only IPv4 addresses and names are supported");
  }
  if (std::any_of(parsed.host.begin(), parsed.host.end(),
                  [](char c) { return static_cast<unsigned char>(c) <= ' '; })) {
    throw UsageError("'" + text + "' has a space or control character in its host");
  }
  return parsed;
}

std::chrono::milliseconds ParseSeconds(const std::string& text, double minimum_seconds) {
  const auto value = WholeNumber<double>(text);
  if (!value || !std::isfinite(*value) || *value < minimum_seconds || *value > kMaximumSeconds) {
    char bounds[64];
    std::snprintf(bounds, sizeof bounds, "%g to %g", minimum_seconds, kMaximumSeconds);
    throw UsageError("'" + text + "' is not a number of seconds from " + bounds);
  }
  return std::chrono::milliseconds(std::llround(*value * 1000.0));
}

uint64_t ParseCount(const std::string& text, uint64_t maximum) {
  const auto value = WholeNumber<uint64_t>(text);
  if (!value || *value < 1 || *value > maximum) {
    throw UsageError("'" + text + "' is not a whole number from 1 to " + std::to_string(maximum));
  }
  return *value;
}

}  // namespace tool_io
