#include "tools/monitor/datagram_decoder.h"

#include <cstring>

namespace pacewire_monitor {
namespace {

template <typename Record>
DecodedDatagram DecodeRecord(std::string_view bytes, size_t length, int32_t type) {
  if (length != sizeof(Record) || bytes.size() < sizeof(Record)) {
    return MalformedDatagram{MalformedReason::kWrongLength, length, type};
  }
  Record record;
  std::memcpy(static_cast<void*>(&record), bytes.data(), sizeof record);
  if (record.header.getSize() != static_cast<int32_t>(sizeof record)) {
    return MalformedDatagram{MalformedReason::kWrongSizeField, length, type};
  }
  return record;
}

}  // namespace

const char* Describe(MalformedReason reason) {
  switch (reason) {
    case MalformedReason::kTooShort:
      return "too short";
    case MalformedReason::kUnknownType:
      return "unknown type";
    case MalformedReason::kWrongLength:
      return "wrong length";
    case MalformedReason::kWrongSizeField:
      return "wrong size field";
  }
  return "malformed";
}

DecodedDatagram DecodeDatagram(std::string_view bytes, size_t length) {
  if (length < sizeof(pacewire::Packet) || bytes.size() < sizeof(pacewire::Packet)) {
    return MalformedDatagram{MalformedReason::kTooShort, length, 0};
  }
  pacewire::Packet header;
  std::memcpy(&header, bytes.data(), sizeof header);
  switch (header.getType()) {
    case pacewire::kPacketTypeMonitoring:
      return DecodeRecord<pacewire::PacketMonitoring>(bytes, length, header.getType());
    case pacewire::kPacketTypeNotifyPlayStarted:
      return DecodeRecord<pacewire::PacketMonitoringToNotifyPlayStarted>(bytes, length,
                                                                         header.getType());
    default:
      return MalformedDatagram{MalformedReason::kUnknownType, length, header.getType()};
  }
}

}  // namespace pacewire_monitor
