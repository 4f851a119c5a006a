// Datagrams for the tests, written byte by byte at the documented wire
// offsets (little-endian), not through the module's record types, so a layout
// slip in the monitor's decoding shows up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tools_test {

// A wall-clock reading (ms since the epoch) for packets received in tests.
constexpr int64_t kWall = 1'700'000'000'000;

class WireBytes {
 public:
  explicit WireBytes(size_t length) : bytes_(length, '\0') {}

  template <typename Integer>
  WireBytes& Put(size_t offset, Integer value) {
    auto bits = static_cast<uint64_t>(value);
    for (size_t i = 0; i < sizeof(Integer); ++i, bits >>= 8) {
      bytes_.at(offset + i) = static_cast<char>(bits & 0xff);
    }
    return *this;
  }
  WireBytes& PutText(size_t offset, std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) bytes_.at(offset + i) = text[i];
    return *this;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

template <typename Integer>
Integer ReadAt(const std::string& bytes, size_t offset) {
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(Integer); ++i) {
    value |= uint64_t{static_cast<uint8_t>(bytes.at(offset + i))} << (8 * i);
  }
  return static_cast<Integer>(value);
}

struct MonitoringFields {
  std::string device_ip = "10.0.0.12";
  int64_t packet_clock = 1'700'000'000'123;
  uint8_t is_master = 1;
  int32_t sync_size = 48;
  int32_t sync_type = 4;
  int32_t sync_id = 7;
  int64_t play_time = 1500;
  int64_t elapsed = 30000;
  int32_t ip_last_number = 12;
  int32_t page_duration = 15000;
  int32_t schedule_duration = 60000;
};

// A 104-byte monitoring packet.
inline std::string MonitoringDatagram(const MonitoringFields& f) {
  return WireBytes(104)
      .Put<int32_t>(0, 104)
      .Put<int32_t>(4, 2)
      .PutText(8, f.device_ip)
      .Put<int64_t>(40, f.packet_clock)
      .Put<uint8_t>(48, f.is_master)
      .Put<int32_t>(56, f.sync_size)
      .Put<int32_t>(60, f.sync_type)
      .Put<int32_t>(64, f.sync_id)
      .Put<int64_t>(72, f.play_time)
      .Put<int64_t>(80, f.elapsed)
      .Put<int32_t>(88, f.ip_last_number)
      .Put<int32_t>(92, f.page_duration)
      .Put<int32_t>(96, f.schedule_duration)
      .bytes();
}

// A 72-byte notify packet.
inline std::string NotifyDatagram(int32_t sync_id, std::string_view device_ip,
                                  int64_t play_started_clock, std::string_view time_stamp) {
  return WireBytes(72)
      .Put<int32_t>(0, 72)
      .Put<int32_t>(4, 3)
      .Put<int32_t>(8, sync_id)
      .PutText(12, device_ip)
      .Put<int64_t>(48, play_started_clock)
      .PutText(56, time_stamp)
      .bytes();
}

}  // namespace tools_test
