// The wire records of the play-time module, the one place that fixes their
// layouts.
//
// A record's bytes in memory are its bytes on the wire: the host sends the first
// `size` bytes of a record as they lie, and a received datagram is copied out of
// the receive buffer into a record of the matching layout. Every record is
// therefore a plain, standard-layout struct without implicit padding: the bytes
// that only fill up alignment are named fields that are always zero, so every
// byte that leaves the device is defined. The wire is little-endian.
//
// Each record's first member is its `Packet` header, so a `const Packet*` that
// the logic hands out is also the address of the whole record: the host sends
// getSize() bytes from there.
//
// Text fields hold a NUL-terminated text of at most (width - 1) bytes; the
// bytes after the terminator are zero. A longer text is cut; a text is also cut
// at an embedded NUL, since a reader stops there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

// The records are sent as they lie in memory, so a big-endian target would put
// wrong bytes on the wire.
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "pacewire wire records need a little-endian target: they are sent as they lie in memory."
#endif

namespace pacewire {

// Type codes of the wire records. No other code is ever written by this module.
enum PacketType : int32_t {
  kPacketTypeNotFilled = 0,  // built or reset, not yet filled for sending
  kPacketTypeSetMonitoringMode = 1,
  kPacketTypeMonitoring = 2,
  kPacketTypeNotifyPlayStarted = 3,
  kPacketTypeSyncPlay = 4,
};

// The header every record begins with.
struct Packet {
  Packet() = default;
  constexpr Packet(int32_t initial_size, int32_t initial_type)
      : size(initial_size), type(initial_type) {}

  int32_t getSize() const { return size; }
  void setSize(int32_t value) { size = value; }
  int32_t getType() const { return type; }
  void setType(int32_t value) { type = value; }

  int32_t size = 8;  // bytes the record announces and the sender sends
  int32_t type = kPacketTypeNotFilled;
};

// The timer state of a device; what the parent of a group broadcasts every tick.
struct PacketSyncPlay {
  static constexpr int32_t kSize = 48;

  Packet header{kSize, kPacketTypeNotFilled};
  int32_t syncId = -1;  // negative: no group
  uint8_t padding12[4] = {};
  int64_t playTime = 0;               // ms played of the current page
  int64_t elapsedTimeFromMaster = 0;  // ms from the start of the pass to the start of the page
  int32_t ipLastNumber = 0;           // last number of the sender's dotted address
  int32_t currentPageDuration = 0;    // ms
  int32_t frameScheduleDuration = 0;  // ms, one pass of the schedule
  uint8_t padding44[4] = {};
};

// The full timer state of a device, sent to a monitoring tool every tick while
// monitoring mode is on.
struct PacketMonitoring {
  static constexpr int32_t kSize = 104;
  static constexpr size_t kDeviceIPWidth = 32;

  PacketMonitoring() { reset(); }
  // Clears everything but the embedded sync record.
  void reset();

  Packet header{kSize, kPacketTypeNotFilled};
  char deviceIP[kDeviceIPWidth] = {};
  int64_t packetClock = 0;  // clock at which the packet was made
  uint8_t isMaster = 0;     // 1 parent, 0 child
  uint8_t padding49[7] = {};
  PacketSyncPlay syncPlay;  // copy of the device's own sync record, header included
};

// Sent to a monitoring tool once after the page reports a play-start time stamp.
//
// The 16-byte `timeStamp` slot carries the first 15 bytes of the time-stamp
// text, NUL-terminated and zero-padded, like every other text field. Nothing on
// the network reads the slot back; the prefix keeps the record 72 bytes long
// and fully defined.
struct PacketMonitoringToNotifyPlayStarted {
  static constexpr int32_t kSize = 72;
  static constexpr size_t kDeviceIPWidth = 32;
  static constexpr size_t kTimeStampWidth = 16;

  PacketMonitoringToNotifyPlayStarted() { reset(); }
  void reset();
  void setTimeStamp(std::string_view text);
  std::string getTimeStamp() const;

  Packet header{kSize, kPacketTypeNotFilled};
  int32_t syncId = -1;
  char deviceIP[kDeviceIPWidth] = {};
  uint8_t padding44[4] = {};
  int64_t playStartedClock = 0;  // clock at which the time stamp reached the module
  char timeStamp[kTimeStampWidth] = {};
};

// Sent by a monitoring tool to the sync port; never built for sending here.
// Only the first kReadBytes bytes are read; `size` is not looked at.
struct PacketSetMonitoringMode {
  static constexpr size_t kAddressWidth = 32;
  static constexpr size_t kReadBytes = 45;

  Packet header;
  int32_t monitoringPort = 0;
  char monitoringAddress[kAddressWidth] = {};  // may fill all 32 bytes without a NUL
  uint8_t monitoringOn = 0;                    // bit 0 counts, the other bits do not
  uint8_t unread45[3] = {};

  // The address up to its first NUL, never more than its 32 bytes.
  std::string address() const;
  bool switchesOn() const { return (monitoringOn & 1u) != 0; }
};

// Writes `text` into a text field of `width` bytes: at most width - 1 bytes,
// cut at an embedded NUL, then zeros up to the end of the field.
void WriteTextField(char* field, size_t width, std::string_view text);
template <size_t N>
void WriteTextField(char (&field)[N], std::string_view text) {
  WriteTextField(field, N, text);
}
// The text of a field of `width` bytes, up to its first NUL or its end.
std::string ReadTextField(const char* field, size_t width);

// ---- Layout checks: these offsets and sizes are the wire format. ----

template <typename Record>
constexpr bool kIsWireRecord = std::is_standard_layout_v<Record>&&
    std::is_trivially_copyable_v<Record>&& std::has_unique_object_representations_v<Record>;

static_assert(kIsWireRecord<Packet>);
static_assert(sizeof(Packet) == 8);
static_assert(offsetof(Packet, size) == 0);
static_assert(offsetof(Packet, type) == 4);

static_assert(kIsWireRecord<PacketSyncPlay>);
static_assert(sizeof(PacketSyncPlay) == PacketSyncPlay::kSize);
static_assert(offsetof(PacketSyncPlay, header) == 0);
static_assert(offsetof(PacketSyncPlay, syncId) == 8);
static_assert(offsetof(PacketSyncPlay, padding12) == 12);
static_assert(offsetof(PacketSyncPlay, playTime) == 16);
static_assert(offsetof(PacketSyncPlay, elapsedTimeFromMaster) == 24);
static_assert(offsetof(PacketSyncPlay, ipLastNumber) == 32);
static_assert(offsetof(PacketSyncPlay, currentPageDuration) == 36);
static_assert(offsetof(PacketSyncPlay, frameScheduleDuration) == 40);
static_assert(offsetof(PacketSyncPlay, padding44) == 44);

static_assert(kIsWireRecord<PacketMonitoring>);
static_assert(sizeof(PacketMonitoring) == PacketMonitoring::kSize);
static_assert(offsetof(PacketMonitoring, header) == 0);
static_assert(offsetof(PacketMonitoring, deviceIP) == 8);
static_assert(offsetof(PacketMonitoring, packetClock) == 40);
static_assert(offsetof(PacketMonitoring, isMaster) == 48);
static_assert(offsetof(PacketMonitoring, padding49) == 49);
static_assert(offsetof(PacketMonitoring, syncPlay) == 56);

static_assert(kIsWireRecord<PacketMonitoringToNotifyPlayStarted>);
static_assert(sizeof(PacketMonitoringToNotifyPlayStarted) ==
              PacketMonitoringToNotifyPlayStarted::kSize);
static_assert(offsetof(PacketMonitoringToNotifyPlayStarted, header) == 0);
static_assert(offsetof(PacketMonitoringToNotifyPlayStarted, syncId) == 8);
static_assert(offsetof(PacketMonitoringToNotifyPlayStarted, deviceIP) == 12);
static_assert(offsetof(PacketMonitoringToNotifyPlayStarted, padding44) == 44);
static_assert(offsetof(PacketMonitoringToNotifyPlayStarted, playStartedClock) == 48);
static_assert(offsetof(PacketMonitoringToNotifyPlayStarted, timeStamp) == 56);

static_assert(kIsWireRecord<PacketSetMonitoringMode>);
static_assert(sizeof(PacketSetMonitoringMode) == 48);
static_assert(offsetof(PacketSetMonitoringMode, header) == 0);
static_assert(offsetof(PacketSetMonitoringMode, monitoringPort) == 8);
static_assert(offsetof(PacketSetMonitoringMode, monitoringAddress) == 12);
static_assert(offsetof(PacketSetMonitoringMode, monitoringOn) == 44);
static_assert(offsetof(PacketSetMonitoringMode, unread45) == PacketSetMonitoringMode::kReadBytes);

}  // namespace pacewire
