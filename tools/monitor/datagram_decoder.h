// What a datagram that reaches the monitor is: a monitoring packet (104 bytes,
// type 2), a notify packet (72 bytes, type 3), or something malformed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "pacewire/packets.h"

namespace pacewire_monitor {

enum class MalformedReason {
  kTooShort,        // shorter than the 8-byte header
  kUnknownType,     // a type other than 2 or 3
  kWrongLength,     // the datagram's length is not its type's record size
  kWrongSizeField,  // the header's size differs from the record size
};
const char* Describe(MalformedReason reason);

struct MalformedDatagram {
  MalformedReason reason = MalformedReason::kTooShort;
  size_t length = 0;
  int32_t type = 0;  // as far as there is one
};

using DecodedDatagram =
    std::variant<pacewire::PacketMonitoring, pacewire::PacketMonitoringToNotifyPlayStarted,
                 MalformedDatagram>;

// `bytes` holds the datagram (or its start), `length` its real length.
DecodedDatagram DecodeDatagram(std::string_view bytes, size_t length);

}  // namespace pacewire_monitor
