// The --jsonl objects: every field of both packets, the malformed ones, the
// groups, and texts from the network escaped.
#include "tools/monitor/json_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/tools/wire_bytes.h"

namespace pacewire_monitor {
namespace {

using nlohmann::json;
using tools_test::kWall;
using tools_test::MonitoringDatagram;
using tools_test::MonitoringFields;
using tools_test::NotifyDatagram;

class JsonLinesTest : public testing::Test {
 protected:
  json Take(const std::string& bytes, const std::string& source, int64_t steady_ms = 0) {
    const TakenDatagram taken = state_.Take(bytes, bytes.size(), {source, 40001},
                                            ReceiptTime{kWall + steady_ms, steady_ms});
    // Each object is one line of valid JSON.
    const std::string line = PacketJson(taken, state_).dump();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    return json::parse(line);
  }

  MonitorState state_{{{"10.0.0.12", 47475, "10.0.0.12"}, {"10.0.0.13", 47475, "10.0.0.13"}}};
};

TEST_F(JsonLinesTest, AMonitoringPacketGivesEveryField) {
  MonitoringFields fields;
  fields.packet_clock = kWall - 3;
  const json object = Take(MonitoringDatagram(fields), "10.0.0.12");
  const json expected = json::parse(R"({
    "kind": "monitoring", "receivedAt": 1700000000000, "from": "10.0.0.12:40001",
    "device": "10.0.0.12:47475", "length": 104,
    "size": 104, "type": 2, "deviceIP": "10.0.0.12", "packetClock": 1699999999997,
    "isMaster": 1, "role": "parent",
    "syncPlay": {"size": 48, "type": 4, "syncId": 7, "playTime": 1500,
                 "elapsedTimeFromMaster": 30000, "ipLastNumber": 12,
                 "currentPageDuration": 15000, "frameScheduleDuration": 60000},
    "scheduleStart": 1699999968500})");
  EXPECT_EQ(object, expected) << object.dump(2);
}

TEST_F(JsonLinesTest, AChildThatWasNeverParentShowsItsUnsentSyncRecord) {
  MonitoringFields fields;
  fields.is_master = 0;
  fields.sync_type = 0;
  const json object = Take(MonitoringDatagram(fields), "10.0.0.12");
  EXPECT_EQ(object["isMaster"], 0);
  EXPECT_EQ(object["role"], "child");
  EXPECT_EQ(object["syncPlay"]["type"], 0);
  EXPECT_EQ(object["syncPlay"]["size"], 48);
}

TEST_F(JsonLinesTest, ANotifyPacketGivesEveryField) {
  const json object = Take(NotifyDatagram(7, "10.0.0.13", kWall - 20, "play-0001"), "10.0.0.13", 5);
  const json expected = json::parse(R"({
    "kind": "notify", "receivedAt": 1700000000005, "from": "10.0.0.13:40001",
    "device": "10.0.0.13:47475", "length": 72,
    "size": 72, "type": 3, "syncId": 7, "deviceIP": "10.0.0.13",
    "playStartedClock": 1699999999980, "timeStamp": "play-0001"})");
  EXPECT_EQ(object, expected) << object.dump(2);
}

TEST_F(JsonLinesTest, TextsFromTheNetworkAreEscaped) {
  MonitoringFields fields;
  fields.device_ip = "10.0.0.12\x1b[2J\xff";
  const json object = Take(MonitoringDatagram(fields), "10.0.0.12");
  EXPECT_EQ(object["deviceIP"], "10.0.0.12\\x1B[2J\\xFF");
  const json notify = Take(NotifyDatagram(7, "10.0.0.12", 0, "a\nb\\"), "10.0.0.12");
  EXPECT_EQ(notify["timeStamp"], "a\\x0Ab\\\\");
}

TEST_F(JsonLinesTest, AMalformedDatagramGivesItsReasonAndSender) {
  const std::string sync = tools_test::WireBytes(48).Put<int32_t>(0, 48).Put<int32_t>(4, 4).bytes();
  EXPECT_EQ(Take(sync, "10.0.0.99"), json::parse(R"({
    "kind": "malformed", "receivedAt": 1700000000000, "from": "10.0.0.99:40001",
    "device": null, "length": 48, "reason": "unknown type", "type": 4})"));
  EXPECT_EQ(Take("xy", "10.0.0.12"), json::parse(R"({
    "kind": "malformed", "receivedAt": 1700000000000, "from": "10.0.0.12:40001",
    "device": null, "length": 2, "reason": "too short"})"));
}

TEST_F(JsonLinesTest, AGroupGivesItsMembersAndSpread) {
  MonitoringFields parent;
  MonitoringFields child;
  child.device_ip = "10.0.0.13";
  child.is_master = 0;
  child.play_time = 1510;
  Take(MonitoringDatagram(parent), "10.0.0.12");
  Take(MonitoringDatagram(child), "10.0.0.13", 4);
  const GroupSpread group = state_.Groups(4).at(0);
  EXPECT_EQ(GroupJson(group, state_, kWall + 100), json::parse(R"({
    "kind": "group", "at": 1700000000100, "syncId": 7, "devices": 2, "parents": 1,
    "spreadMs": 6, "aroundScheduleMs": 60000,
    "members": [
      {"device": "10.0.0.12:47475", "role": "parent", "scheduleStart": 1699999968500},
      {"device": "10.0.0.13:47475", "role": "child", "scheduleStart": 1699999968494}]})"));
}

TEST(RequestJson, NamesTheDestinationTheDeviceIsGiven) {
  const SentRequest sent{"screen-2:47475", "10.0.0.2", "10.0.0.250", 47600, true, ""};
  EXPECT_EQ(RequestJson(sent, kWall), json::parse(R"({
    "kind": "request", "at": 1700000000000, "device": "screen-2:47475", "to": "10.0.0.2",
    "monitoringAddress": "10.0.0.250", "monitoringPort": 47600, "monitoringOn": 1})"));
  const SentRequest failed{"10.0.0.3:47475", "10.0.0.3", "", 47600, false, "no route"};
  const json object = RequestJson(failed, kWall);
  EXPECT_EQ(object["monitoringOn"], 0);
  EXPECT_EQ(object["error"], "no route");
}

}  // namespace
}  // namespace pacewire_monitor
