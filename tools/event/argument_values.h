// Values on the tools' command lines: ports, host-and-port texts, seconds. Each
// parser throws UsageError with a message that names the value, which the
// caller prefixes with the option.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace tool_io {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HostAndPort {
  std::string host;
  uint16_t port = 0;
  bool operator==(const HostAndPort&) const = default;
};

// A decimal port, 1 to 65535 (0 too when `allow_zero`).
uint16_t ParsePort(const std::string& text, bool allow_zero);

// "host:port", split at the last colon. Without a colon the whole text is the
// host and the port is `default_port`; without a default the colon is needed.
// The host is not empty and has no spaces; an IPv6 address is refused.
HostAndPort ParseHostAndPort(const std::string& text, std::optional<uint16_t> default_port);

// A decimal number of seconds (2, 0.5) from `minimum` up to ten days, as
// milliseconds.
std::chrono::milliseconds ParseSeconds(const std::string& text, double minimum_seconds);

// A whole number from 1 to `maximum`.
uint64_t ParseCount(const std::string& text, uint64_t maximum);

}  // namespace tool_io
