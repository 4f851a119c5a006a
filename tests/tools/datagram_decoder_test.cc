// The monitor's view of the wire: the request it sends, the two packets it
// takes, and every other datagram counted as malformed.
#include "tools/monitor/datagram_decoder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <variant>

#include "tests/tools/wire_bytes.h"
#include "tools/monitor/monitoring_request.h"

namespace pacewire_monitor {
namespace {

using tools_test::MonitoringDatagram;
using tools_test::NotifyDatagram;
using tools_test::ReadAt;
using tools_test::WireBytes;

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<uint8_t>(bytes[i]);
    if (i > 0) text += (i % 4 == 0) ? "  " : " ";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

TEST(MonitoringRequest, IsTheDocumented48Bytes) {
  // Monitoring on, to 192.168.0.9:50000 (docs/PROTOCOL.md).
  EXPECT_EQ(Hex(SetMonitoringModeDatagram("192.168.0.9", 50000, true)),
            "30 00 00 00  01 00 00 00  50 c3 00 00  31 39 32 2e  "
            "31 36 38 2e  30 2e 39 00  00 00 00 00  00 00 00 00  "
            "00 00 00 00  00 00 00 00  00 00 00 00  01 00 00 00");
}

TEST(MonitoringRequest, OffDiffersOnlyInItsSwitch) {
  const std::string on = SetMonitoringModeDatagram("10.77.0.250", 47600, true);
  const std::string off = SetMonitoringModeDatagram("10.77.0.250", 47600, false);
  ASSERT_EQ(off.size(), 48u);
  EXPECT_EQ(off[44], 0);
  EXPECT_EQ(on.substr(0, 44), off.substr(0, 44));
  EXPECT_EQ(ReadAt<int32_t>(off, 8), 47600);
}

TEST(DatagramDecoder, ReadsEveryFieldOfAMonitoringPacket) {
  const tools_test::MonitoringFields fields;
  const std::string bytes = MonitoringDatagram(fields);
  const DecodedDatagram decoded = DecodeDatagram(bytes, bytes.size());
  const auto* packet = std::get_if<pacewire::PacketMonitoring>(&decoded);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(pacewire::ReadTextField(packet->deviceIP, sizeof packet->deviceIP), "10.0.0.12");
  EXPECT_EQ(packet->packetClock, fields.packet_clock);
  EXPECT_EQ(packet->isMaster, 1);
  EXPECT_EQ(packet->syncPlay.header.getSize(), 48);
  EXPECT_EQ(packet->syncPlay.header.getType(), 4);
  EXPECT_EQ(packet->syncPlay.syncId, 7);
  EXPECT_EQ(packet->syncPlay.playTime, 1500);
  EXPECT_EQ(packet->syncPlay.elapsedTimeFromMaster, 30000);
  EXPECT_EQ(packet->syncPlay.ipLastNumber, 12);
  EXPECT_EQ(packet->syncPlay.currentPageDuration, 15000);
  EXPECT_EQ(packet->syncPlay.frameScheduleDuration, 60000);
}

TEST(DatagramDecoder, ReadsEveryFieldOfANotifyPacket) {
  const std::string bytes = NotifyDatagram(-1, "10.0.0.3", 1'700'000'000'456, "0123456789abcde");
  const DecodedDatagram decoded = DecodeDatagram(bytes, bytes.size());
  const auto* packet = std::get_if<pacewire::PacketMonitoringToNotifyPlayStarted>(&decoded);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->syncId, -1);
  EXPECT_EQ(pacewire::ReadTextField(packet->deviceIP, sizeof packet->deviceIP), "10.0.0.3");
  EXPECT_EQ(packet->playStartedClock, 1'700'000'000'456);
  EXPECT_EQ(packet->getTimeStamp(), "0123456789abcde");
}

TEST(DatagramDecoder, ReadsA32ByteDeviceIPWithoutTerminatorWithinItsField) {
  tools_test::MonitoringFields fields;
  fields.device_ip = std::string(32, 'x');
  const std::string bytes = MonitoringDatagram(fields);
  const auto decoded = DecodeDatagram(bytes, bytes.size());
  const auto& packet = std::get<pacewire::PacketMonitoring>(decoded);
  EXPECT_EQ(pacewire::ReadTextField(packet.deviceIP, sizeof packet.deviceIP), std::string(32, 'x'));
}

struct MalformedCase {
  const char* what;
  std::string bytes;
  size_t length;  // the datagram's real length, more than bytes.size() when it was cut
  MalformedReason reason;
};

class DatagramDecoderMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(DatagramDecoderMalformed, IsCountedWithItsReason) {
  const DecodedDatagram decoded = DecodeDatagram(GetParam().bytes, GetParam().length);
  const auto* malformed = std::get_if<MalformedDatagram>(&decoded);
  ASSERT_NE(malformed, nullptr) << GetParam().what;
  EXPECT_EQ(Describe(malformed->reason), std::string(Describe(GetParam().reason)))
      << GetParam().what;
  EXPECT_EQ(malformed->length, GetParam().length);
}

std::string Header(int32_t size, int32_t type, size_t length) {
  return WireBytes(length).Put<int32_t>(0, size).Put<int32_t>(4, type).bytes();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DatagramDecoderMalformed,
    testing::Values(
        MalformedCase{"empty", "", 0, MalformedReason::kTooShort},
        MalformedCase{"half a header", std::string("\x68\0\0\0", 4), 4, MalformedReason::kTooShort},
        MalformedCase{"header alone", Header(104, 2, 8), 8, MalformedReason::kWrongLength},
        MalformedCase{"monitoring cut short", Header(104, 2, 103), 103,
                      MalformedReason::kWrongLength},
        MalformedCase{"monitoring with a byte more", Header(104, 2, 105), 105,
                      MalformedReason::kWrongLength},
        MalformedCase{"notify as long as monitoring", Header(72, 3, 104), 104,
                      MalformedReason::kWrongLength},
        MalformedCase{"longer than the buffer", Header(104, 2, 104), 70000,
                      MalformedReason::kWrongLength},
        MalformedCase{"monitoring announcing 100 bytes", Header(100, 2, 104), 104,
                      MalformedReason::kWrongSizeField},
        MalformedCase{"notify announcing 0 bytes", Header(0, 3, 72), 72,
                      MalformedReason::kWrongSizeField},
        MalformedCase{"sync packet", Header(48, 4, 48), 48, MalformedReason::kUnknownType},
        MalformedCase{"set-monitoring request", SetMonitoringModeDatagram("10.0.0.1", 5, true), 48,
                      MalformedReason::kUnknownType},
        MalformedCase{"negative type", Header(104, -2, 104), 104, MalformedReason::kUnknownType}),
    [](const testing::TestParamInfo<MalformedCase>& info) {
      std::string name;
      for (const char c : std::string(info.param.what)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      }
      return name;
    });

}  // namespace
}  // namespace pacewire_monitor
