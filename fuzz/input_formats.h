// How the fuzz targets read their inputs, in one place: the targets decode
// these layouts and the seed writer encodes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// ---- pacewire_datagram: a state header, then the datagram ----
//
// byte 0   flags (below)
// byte 1   last number of the device's own address (192.168.0.N)
// byte 2   ticks before the first delivery (modulo 64: reaches the parent-search time-out)
// byte 3   deliveries of the datagram, 1 + (byte % 4), each followed by one tick
// byte 4-5 page duration, int16 LE, in units of 100 ms
// byte 6-7 schedule duration, int16 LE, in units of 100 ms
// byte 8-  the datagram, at most 1024 bytes
//
// The device's sync ID is the datagram's own (bytes 8 to 11 of the datagram,
// its sign bit cleared), so a sync packet is taken as one of the group's.
struct PacewireDatagramHeader {
  static constexpr size_t kBytes = 8;
  static constexpr uint8_t kParent = 1 << 0;           // made parent after start-up
  static constexpr uint8_t kDeviceIpTrouble = 1 << 1;  // the page reports no address
  static constexpr uint8_t kMonitoring = 1 << 2;       // monitoring mode on
  static constexpr uint8_t kNonSync = 1 << 3;          // started with sync ID -1
  static constexpr uint8_t kForeignGroup = 1 << 4;     // own sync ID differs from the datagram's

  uint8_t flags = 0;
  uint8_t ipLastNumber = 23;
  uint8_t ticksBefore = 1;
  uint8_t deliveries = 0;
  int16_t pageDuration100ms = 150;
  int16_t scheduleDuration100ms = 600;

  std::string Encode() const {
    std::string out;
    out += static_cast<char>(flags);
    out += static_cast<char>(ipLastNumber);
    out += static_cast<char>(ticksBefore);
    out += static_cast<char>(deliveries);
    out += static_cast<char>(pageDuration100ms & 0xFF);
    out += static_cast<char>((pageDuration100ms >> 8) & 0xFF);
    out += static_cast<char>(scheduleDuration100ms & 0xFF);
    out += static_cast<char>((scheduleDuration100ms >> 8) & 0xFF);
    return out;
  }
};

// ---- cuebell_datagram: one flag byte, then the datagram ----
//
// byte 0  flags (below); bits 5-6: deliveries of the datagram, 1 + their value
// byte 1- the datagram, at most 1024 bytes (delivered only when not empty, as
//         the host does)
struct CuebellDatagramHeader {
  static constexpr uint8_t kDebuggerFirst = 1 << 0;     // "DEBUGGER" before the datagram
  static constexpr uint8_t kPageEventFirst = 1 << 1;    // an "EVENT_TYPE" before it
  static constexpr uint8_t kEchoAsEvent = 1 << 2;       // the datagram's text back as "EVENT_TYPE"
  static constexpr uint8_t kEchoAsSendPort = 1 << 3;    // ... as "SET_SEND_PORT"
  static constexpr uint8_t kEchoAsListenPort = 1 << 4;  // ... as "SET_PORT"
  static constexpr int kDeliveriesShift = 5;
};

// ---- page_message: one flag byte, then up to kMaxMessages rounds ----
//
// byte 0  flags (below)
// then    per round: one value (var_codec.h) and one byte: its low 2 bits are
//         the ticks that follow the message, the rest the milliseconds (x 16)
//         by which the clock moves before it
struct PageMessageHeader {
  static constexpr size_t kMaxMessages = 8;
  static constexpr uint8_t kMonitoring = 1 << 0;    // Pacewire's monitoring mode on
  static constexpr uint8_t kDebugLogsOff = 1 << 1;  // Debug and Warn lines switched off
};

// Bytes of a datagram as the receiver hands them over at most.
constexpr size_t kMaxDatagramBytes = 1024;

}  // namespace fuzz
