// What the monitor prints for people: the table and the plain lines.
#include "tools/monitor/table_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/tools/wire_bytes.h"

namespace pacewire_monitor {
namespace {

using tools_test::MonitoringDatagram;
using tools_test::MonitoringFields;

class TableViewTest : public testing::Test {
 protected:
  TableViewTest() {
    MonitoringFields parent;
    parent.device_ip = "10.0.0.12";
    parent.play_time = 1200;
    Take(MonitoringDatagram(parent), "10.0.0.12", 1000);
    MonitoringFields child = parent;
    child.device_ip = "10.0.0.11";
    child.is_master = 0;
    child.play_time = 1300;  // 100 ms later, 1 ms ahead
    Take(MonitoringDatagram(child), "10.0.0.11", 1101);
    const std::string notify = tools_test::NotifyDatagram(7, "10.0.0.11", 0, "play-0001");
    Take(notify, "10.0.0.11", 1200);
  }

  void Take(const std::string& bytes, const std::string& source, int64_t steady_ms) {
    state_.Take(bytes, bytes.size(), {source, 40001},
                ReceiptTime{1'700'000'000'000 + steady_ms, steady_ms});
  }

  MonitorState state_{{{"10.0.0.11", 47475, "10.0.0.11"},
                       {"10.0.0.12", 47475, "10.0.0.12"},
                       {"10.0.0.13", 47475, "10.0.0.13"}}};
  ViewMoment moment_{1500, 3000, "0.0.0.0:47600"};
};

TEST_F(TableViewTest, LinesGiveEachDeviceItsRoleAndTheGroupItsSpread) {
  EXPECT_EQ(FormatLines(state_, moment_),
            "[3.0s] device 10.0.0.11:47475 ip=10.0.0.11 sid=7 role=child play=1300 pages=30000 "
            "page=15000 schedule=60000 age=0.4s packets=1 notify=1 timestamp=\"play-0001\"\n"
            "[3.0s] device 10.0.0.12:47475 ip=10.0.0.12 sid=7 role=parent play=1200 pages=30000 "
            "page=15000 schedule=60000 age=0.5s packets=1 notify=0\n"
            "[3.0s] device 10.0.0.13:47475 waiting notify=0\n"
            "[3.0s] group 7 devices=2 parents=1 spread=1ms\n");
}

TEST_F(TableViewTest, TheTableHasARowPerDeviceAndPerGroup) {
  const std::string table = FormatTable(state_, moment_);
  EXPECT_NE(table.find("listening on 0.0.0.0:47600"), std::string::npos) << table;
  EXPECT_NE(table.find("10.0.0.11:47475  10.0.0.11  7    child"), std::string::npos) << table;
  EXPECT_NE(table.find("10.0.0.12:47475  10.0.0.12  7    parent"), std::string::npos) << table;
  EXPECT_NE(table.find("waiting for packets"), std::string::npos) << table;
  EXPECT_NE(table.find("1 ms"), std::string::npos) << table;
  EXPECT_NE(table.find("malformed datagrams: 0"), std::string::npos) << table;
}

TEST_F(TableViewTest, NothingFromTheNetworkReachesTheTerminalUnescaped) {
  MonitoringFields hostile;
  hostile.device_ip = "\x1b[2J\x1b]0;owned\x07\n";
  Take(MonitoringDatagram(hostile), "10.0.0.13", 1400);
  Take(tools_test::NotifyDatagram(7, hostile.device_ip, 0, "\x1b[H\r\n"), "10.0.0.13", 1400);
  Take("\x1b[2J", "10.0.0.66", 1400);  // malformed, from a sender of its own
  for (const std::string& text : {FormatTable(state_, moment_), FormatLines(state_, moment_)}) {
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    EXPECT_EQ(text.find('\x07'), std::string::npos) << text;
  }
  const std::string lines = FormatLines(state_, moment_);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 5) << lines;
  EXPECT_NE(lines.find("ip=\\x1B[2J\\x1B]0;owned\\x07\\x0A"), std::string::npos) << lines;
  EXPECT_NE(lines.find("malformed 1 (too short 1, unknown type 0, wrong length 0, wrong size "
                       "field 0; last from 10.0.0.66:40001)"),
            std::string::npos)
      << lines;
}

}  // namespace
}  // namespace pacewire_monitor
