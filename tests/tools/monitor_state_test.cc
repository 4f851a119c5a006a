// Which row a datagram lands in, what is counted, and the groups with their spread.
#include "tools/monitor/monitor_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/wire_bytes.h"

namespace pacewire_monitor {
namespace {

using tools_test::kWall;
using tools_test::MonitoringDatagram;
using tools_test::MonitoringFields;
using tools_test::NotifyDatagram;

ReceiptTime At(int64_t steady_ms) {
  return ReceiptTime{kWall + steady_ms, steady_ms};
}

tool_io::UdpEndpoint From(const std::string& address) {
  return tool_io::UdpEndpoint{address, 40001};
}

MonitoringFields Device(const std::string& ip, int32_t sync_id, bool parent) {
  MonitoringFields fields;
  fields.device_ip = ip;
  fields.sync_id = sync_id;
  fields.is_master = parent ? 1 : 0;
  return fields;
}

std::optional<size_t> TakeMonitoring(MonitorState& state, const MonitoringFields& fields,
                                     const std::string& source, int64_t steady_ms = 0) {
  const std::string bytes = MonitoringDatagram(fields);
  return state.Take(bytes, bytes.size(), From(source), At(steady_ms)).row;
}

TEST(MonitorStateRows, APacketGoesToTheDeviceAtItsSourceAddress) {
  MonitorState state({{"10.0.0.1", 47475, "10.0.0.1"}, {"screen-2", 47475, "10.0.0.2"}});
  EXPECT_EQ(TakeMonitoring(state, Device("10.0.0.2", 7, true), "10.0.0.2"), 1u);
  EXPECT_EQ(TakeMonitoring(state, Device("10.0.0.1", 7, false), "10.0.0.1"), 0u);
  ASSERT_EQ(state.rows().size(), 2u);
  EXPECT_EQ(state.rows()[1].name, "screen-2:47475");
  EXPECT_EQ(state.rows()[1].monitoring_packets, 1u);
  EXPECT_EQ(state.rows()[1].device_ip, "10.0.0.2");
}

TEST(MonitorStateRows, DevicesSharingAnAddressAreToldApartByTheirDeviceIP) {
  // Two modules on one machine's loopback, on two sync ports.
  MonitorState state({{"127.0.0.1", 47810, "127.0.0.1"}, {"127.0.0.1", 47811, "127.0.0.1"}});
  EXPECT_EQ(TakeMonitoring(state, Device("127.0.0.5", 7, true), "127.0.0.1"), 0u);
  EXPECT_EQ(TakeMonitoring(state, Device("127.0.0.6", 7, false), "127.0.0.1"), 1u);
  EXPECT_EQ(TakeMonitoring(state, Device("127.0.0.5", 7, true), "127.0.0.1"), 0u);
  EXPECT_EQ(TakeMonitoring(state, Device("127.0.0.6", 7, false), "127.0.0.1"), 1u);
  EXPECT_EQ(state.rows().size(), 2u);
}

TEST(MonitorStateRows, AnotherSourceAddressIsMatchedByTheDeviceIPText) {
  // A device with two addresses sends from the one that is not the named one.
  MonitorState state({{"10.0.0.1", 47475, "10.0.0.1"}});
  EXPECT_EQ(TakeMonitoring(state, Device("10.0.0.1", 7, true), "192.168.5.1"), 0u);
  EXPECT_EQ(state.rows().size(), 1u);
}

TEST(MonitorStateRows, AnUnnamedSenderGetsARowOfItsOwnUpToALimit) {
  MonitorState state({{"10.0.0.1", 47475, "10.0.0.1"}});
  EXPECT_EQ(TakeMonitoring(state, Device("10.0.0.9", 7, true), "10.0.0.9"), 1u);
  EXPECT_EQ(TakeMonitoring(state, Device("10.0.0.9", 7, true), "10.0.0.9"), 1u);
  ASSERT_EQ(state.rows().size(), 2u);
  EXPECT_FALSE(state.rows()[1].requested);
  EXPECT_EQ(state.rows()[1].name, "10.0.0.9");

  for (size_t i = 0; i < MonitorState::kMaxUnrequestedRows + 5; ++i) {
    const std::string address = "10.1.0." + std::to_string(i);
    TakeMonitoring(state, Device(address, 7, true), address);
  }
  EXPECT_EQ(state.rows().size(), 1 + MonitorState::kMaxUnrequestedRows);
  EXPECT_EQ(state.dropped(), 6u);
  EXPECT_EQ(state.rows()[1].monitoring_packets, 2u) << "rows already there keep counting";
}

TEST(MonitorStateRows, ANotifyPacketIsKeptBesideTheMonitoringPacket) {
  MonitorState state({{"10.0.0.1", 47475, "10.0.0.1"}});
  TakeMonitoring(state, Device("10.0.0.1", 7, true), "10.0.0.1");
  const std::string notify = NotifyDatagram(7, "10.0.0.1", kWall + 5, "ts-1");
  const TakenDatagram taken = state.Take(notify, notify.size(), From("10.0.0.1"), At(10));
  EXPECT_EQ(taken.row, 0u);
  const DeviceRow& row = state.rows()[0];
  EXPECT_EQ(row.notify_packets, 1u);
  EXPECT_EQ(row.monitoring_packets, 1u);
  ASSERT_TRUE(row.notify);
  EXPECT_EQ(row.notify->record.getTimeStamp(), "ts-1");
  EXPECT_EQ(row.notify->at.steady_ms, 10);
  ASSERT_TRUE(row.monitoring);
  EXPECT_EQ(row.monitoring->at.steady_ms, 0);
}

TEST(MonitorStateRows, MalformedDatagramsAreCountedByReasonAndChangeNoRow) {
  MonitorState state({{"10.0.0.1", 47475, "10.0.0.1"}});
  const std::string sync = tools_test::WireBytes(48).Put<int32_t>(0, 48).Put<int32_t>(4, 4).bytes();
  const std::string short_monitoring = MonitoringDatagram(MonitoringFields{}).substr(0, 100);
  for (const std::string& bytes : {std::string("abc"), sync, sync, short_monitoring}) {
    const TakenDatagram taken = state.Take(bytes, bytes.size(), From("10.0.0.1"), At(0));
    EXPECT_FALSE(taken.row);
  }
  EXPECT_EQ(state.malformed().total(), 4u);
  EXPECT_EQ(state.malformed().of(MalformedReason::kTooShort), 1u);
  EXPECT_EQ(state.malformed().of(MalformedReason::kUnknownType), 2u);
  EXPECT_EQ(state.malformed().of(MalformedReason::kWrongLength), 1u);
  EXPECT_EQ(state.malformed().last_from, "10.0.0.1:40001");
  EXPECT_EQ(state.rows()[0].monitoring_packets, 0u);
  EXPECT_EQ(state.dropped(), 0u);
}

class MonitorStateGroups : public testing::Test {
 protected:
  MonitorStateGroups()
      : state_({{"10.0.0.1", 47475, "10.0.0.1"},
                {"10.0.0.2", 47475, "10.0.0.2"},
                {"10.0.0.3", 47475, "10.0.0.3"},
                {"10.0.0.4", 47475, "10.0.0.4"}}) {}

  // Device k reports its position at steady time `at`; the schedule start it
  // implies is kWall + at - play - elapsed.
  void Report(int k, int32_t sync_id, bool parent, int64_t at, int64_t play, int64_t elapsed,
              int32_t schedule_ms = 60000) {
    MonitoringFields fields = Device("10.0.0." + std::to_string(k), sync_id, parent);
    fields.play_time = play;
    fields.elapsed = elapsed;
    fields.schedule_duration = schedule_ms;
    TakeMonitoring(state_, fields, fields.device_ip, at);
  }

  MonitorState state_;
};

TEST_F(MonitorStateGroups, GroupsFreshDevicesBySyncIdWithTheirSpread) {
  Report(1, 7, true, 1000, 5000, 30000);   // start kWall - 34000
  Report(2, 7, false, 1050, 5046, 30000);  // start kWall - 33996
  Report(3, 9, true, 1100, 100, 0);
  const std::vector<GroupSpread> groups = state_.Groups(1200);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].sync_id, 7);
  EXPECT_EQ(groups[0].members.size(), 2u);
  EXPECT_EQ(groups[0].parents, 1u);
  EXPECT_EQ(groups[0].spread_ms, 4u);
  EXPECT_EQ(groups[0].schedule_duration_ms, 60000);
  EXPECT_EQ(groups[0].members[0].schedule_start, kWall - 34000);
  EXPECT_EQ(groups[1].sync_id, 9);
  EXPECT_EQ(groups[1].members.size(), 1u);
  EXPECT_EQ(groups[1].spread_ms, 0u);
}

TEST_F(MonitorStateGroups, UsesEachDevicesLatestPacket) {
  Report(1, 7, true, 1000, 5000, 0);
  Report(2, 7, false, 1000, 4000, 0);  // 1000 ms behind
  Report(2, 7, false, 1100, 5098, 0);  // caught up to 2 ms
  EXPECT_EQ(state_.Groups(1200).at(0).spread_ms, 2u);
}

TEST_F(MonitorStateGroups, LeavesOutSilentDevicesAndDevicesWithoutAGroup) {
  Report(1, 7, true, 10'000, 5000, 0);
  Report(2, 7, false, 10'000 - MonitorState::kFreshForMs - 1, 1000, 0);  // silent too long
  Report(3, -1, true, 10'000, 0, 0);                                     // plays alone
  Report(4, 7, false, 10'000 - MonitorState::kFreshForMs, 1003, 0);      // just fresh
  const std::vector<GroupSpread> groups = state_.Groups(10'000);
  ASSERT_EQ(groups.size(), 1u);
  ASSERT_EQ(groups[0].members.size(), 2u);
  EXPECT_EQ(groups[0].members[0].row, 0u);
  EXPECT_EQ(groups[0].members[1].row, 3u);
  EXPECT_TRUE(state_.Groups(20'000).empty());
}

TEST_F(MonitorStateGroups, ComparesAroundTheScheduleOnlyWhenAllDurationsAgree) {
  // Device 2 has just begun the next pass: its start is one schedule later.
  Report(1, 7, true, 1000, 59'998, 0);
  Report(2, 7, false, 1000, 1, 0);
  EXPECT_EQ(state_.Groups(1000).at(0).spread_ms, 3u);

  Report(2, 7, false, 1000, 1, 0, 50'000);
  const GroupSpread group = state_.Groups(1000).at(0);
  EXPECT_EQ(group.schedule_duration_ms, 0);
  EXPECT_EQ(group.spread_ms, 59'997u);
}

TEST_F(MonitorStateGroups, CountsTwoParentsWhileAGroupHasNotSettled) {
  Report(1, 7, true, 1000, 0, 0);
  Report(2, 7, true, 1000, 0, 0);
  Report(3, 7, false, 1000, 0, 0);
  EXPECT_EQ(state_.Groups(1000).at(0).parents, 2u);
}

}  // namespace
}  // namespace pacewire_monitor
