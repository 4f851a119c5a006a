#include "pacewire/packets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "logic_fixture.h"

namespace pacewire::testing {
namespace {

std::vector<uint8_t> Le32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}
std::vector<uint8_t> Le64(int64_t v) {
  std::vector<uint8_t> out;
  for (int i = 0; i < 8; ++i)
    out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
  return out;
}
std::vector<uint8_t> Text(const std::string& text, size_t width) {
  std::vector<uint8_t> out(text.begin(), text.end());
  out.resize(width, 0);
  return out;
}
std::vector<uint8_t> Zeros(size_t n) {
  return std::vector<uint8_t>(n, 0);
}
std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST(Packets, DefaultsOfEveryRecord) {
  const Packet header;
  EXPECT_EQ(header.getSize(), 8);
  EXPECT_EQ(header.getType(), 0);

  const PacketSyncPlay sync;
  EXPECT_EQ(WireBytes(&sync.header),
            Join({Le32(48), Le32(0), Le32(-1), Zeros(4), Zeros(16), Zeros(16)}));

  const PacketMonitoring monitoring;
  EXPECT_EQ(WireBytes(&monitoring.header),
            Join({Le32(104), Le32(0), Zeros(32), Zeros(8), Zeros(8), WireBytes(&sync.header)}));

  const PacketMonitoringToNotifyPlayStarted notify;
  EXPECT_EQ(WireBytes(&notify.header),
            Join({Le32(72), Le32(0), Le32(-1), Zeros(32), Zeros(4), Zeros(8), Zeros(16)}));
}

TEST(Packets, ResetOfMonitoringRecordLeavesItsSyncRecordAlone) {
  PacketMonitoring monitoring;
  monitoring.header.setType(kPacketTypeMonitoring);
  WriteTextField(monitoring.deviceIP, "10.0.0.1");
  monitoring.packetClock = 5;
  monitoring.isMaster = 1;
  monitoring.syncPlay.playTime = 77;
  monitoring.reset();
  EXPECT_EQ(monitoring.header.getType(), 0);
  EXPECT_EQ(monitoring.header.getSize(), 104);
  EXPECT_EQ(ReadTextField(monitoring.deviceIP, 32), "");
  EXPECT_EQ(monitoring.packetClock, 0);
  EXPECT_EQ(monitoring.isMaster, 0);
  EXPECT_EQ(monitoring.syncPlay.playTime, 77);
}

TEST(Packets, TextFieldsKeepWidthMinusOneBytesAndZeroTheRest) {
  struct Case {
    std::string text;
    std::string kept;
  };
  const std::string forty = "0123456789012345678901234567890123456789";
  for (const Case& c : std::vector<Case>{
           {"", ""},
           {"192.168.0.23", "192.168.0.23"},
           {forty, forty.substr(0, 31)},
           {std::string("ab\0cd", 5), "ab"},  // a reader stops at the NUL
       }) {
    char field[32];
    std::memset(field, 'x', sizeof field);
    WriteTextField(field, c.text);
    EXPECT_EQ(std::vector<uint8_t>(field, field + 32), Text(c.kept, 32)) << c.text;
  }
}

TEST(Packets, TimeStampSlotCarriesTheFirst15BytesOfTheText) {
  PacketMonitoringToNotifyPlayStarted notify;
  notify.setTimeStamp("2021-08-02T12:34:56.789Z");
  EXPECT_EQ(notify.getTimeStamp(), "2021-08-02T12:3");
  EXPECT_EQ(std::vector<uint8_t>(notify.timeStamp, notify.timeStamp + 16),
            Text("2021-08-02T12:3", 16));
  notify.reset();
  EXPECT_EQ(notify.getTimeStamp(), "");
  EXPECT_EQ(std::vector<uint8_t>(notify.timeStamp, notify.timeStamp + 16), Zeros(16));
}

TEST(Packets, SetMonitoringAddressWithoutNulIsExactlyItsThirtyTwoBytes) {
  PacketSetMonitoringMode received;
  std::memset(received.monitoringAddress, 'a', sizeof received.monitoringAddress);
  received.unread45[0] = 'z';  // the byte after the field is not part of the address
  EXPECT_EQ(received.address(), std::string(32, 'a'));
}

using SentRecords = LogicTest;

// A device with sync ID 7 and address 192.168.0.23, 1500 ms into a 10 s page.
TEST_F(SentRecords, SyncPacketBytes) {
  StartSync(7, 23);
  Command("SET_TOTAL_PLAYTIME", "10000");
  logic_.SetMaster(true);
  const Packet* packet = logic_.GetSyncPacket(kStart + 1500);
  ASSERT_NE(packet, nullptr);
  const std::vector<uint8_t> expected = {
      0x30, 0,    0, 0, 0x04, 0, 0, 0, 0x07, 0, 0, 0, 0, 0, 0, 0,  // size, type, sync ID, padding
      0xDC, 0x05, 0, 0, 0,    0, 0, 0,                             // play time 1500
      0,    0,    0, 0, 0,    0, 0, 0,                             // elapsed pages time
      0x17, 0,    0, 0,                                            // last address number 23
      0x10, 0x27, 0, 0,                                            // page duration 10000
      0,    0,    0, 0, 0,    0, 0, 0};                            // schedule duration, padding
  EXPECT_EQ(WireBytes(packet), expected);
}

TEST_F(SentRecords, MonitoringPacketBytes) {
  StartSync(7, 23);
  Command("SET_TOTAL_PLAYTIME", "10000");
  logic_.SetMaster(true);
  Receive(SetMonitoringDatagram("127.0.0.1", 50000, 1), kStart);
  const Packet* sync = logic_.GetSyncPacket(kStart + 1500);
  ASSERT_NE(sync, nullptr);
  const std::vector<uint8_t> syncBytes = WireBytes(sync);
  const Packet* packet = logic_.GetMonitoringPacket(kStart + 1500);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(WireBytes(packet), Join({Le32(104),
                                     Le32(2),
                                     Text("192.168.0.23", 32),
                                     Le64(kStart + 1500),
                                     {1},
                                     Zeros(7),
                                     syncBytes}));
}

TEST_F(SentRecords, MonitoringPacketOfADeviceThatNeverSentCarriesAnUnfilledSyncRecord) {
  Command("SET_DEVICEIP", "0123456789012345678901234567890123456789");  // 40 characters
  Receive(SetMonitoringDatagram("127.0.0.1", 50000, 1), kStart);
  logic_.GetSyncPacket(kStart);
  const std::vector<uint8_t> bytes = WireBytes(logic_.GetMonitoringPacket(kStart));
  ASSERT_EQ(bytes.size(), 104u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 40),
            Text("0123456789012345678901234567890", 32));
  EXPECT_EQ(bytes[48], 0);  // child
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 56, bytes.begin() + 64),
            Join({Le32(48), Le32(0)}));
}

TEST_F(SentRecords, NotifyPacketBytes) {
  StartSync(7, 23);
  Receive(SetMonitoringDatagram("127.0.0.1", 50000, 1), kStart);
  Command("PLAYER_TIMESTAMP_INFO", "12:00:00.250", kStart + 42);
  const Packet* packet = logic_.GetMonitoringPacketAfterLoadMessage(kStart + 43);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(WireBytes(packet), Join({Le32(72), Le32(3), Le32(7), Text("192.168.0.23", 32), Zeros(4),
                                     Le64(kStart + 42), Text("12:00:00.250", 16)}));
}

}  // namespace
}  // namespace pacewire::testing
