// pacewire-monitor against real pacewire-host devices, each module in a
// network namespace of its own on one bridge and the monitor in a third; and
// cuebell-event sending to a broadcast address typed by hand, inside the lab.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/netns/lab_for_test.h"
#include "tests/netns/page_lines.h"
#include "tests/tools/tool_runs.h"

namespace netns {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kSyncId = 4242;
constexpr int32_t kPageMs = 60000;  // no page ends while the test runs
constexpr int32_t kScheduleMs = 600000;
constexpr int kParentNumber = 12;  // the tie-break leaves the higher address as parent
constexpr int kChildNumber = 11;
constexpr uint16_t kMonitorPort = 47600;
constexpr char kTimeStamp[] = "play-0001";
// Sockets come up on the 31st tick and the parent search takes 31 more; the
// rest is margin for sanitizer builds on a busy machine.
constexpr milliseconds kSettleTimeout{30000};
constexpr milliseconds kMonitorTimeout{30000};

// The role a device logged last; every device starts as a child.
bool EndsAsParent(const ChildProcess& process) {
  bool parent = false;
  for (const auto& line : process.output().Snapshot()) {
    if (IsPostedText(line.value, "[LOG]: Device is set to parent")) parent = true;
    if (IsPostedText(line.value, "[LOG]: Device is set to child")) parent = false;
  }
  return parent;
}

// The device's changes of role and how many lines its page got, for failures.
std::string RoleHistory(const ChildProcess& process) {
  std::string history;
  const auto lines = process.output().Snapshot();
  for (const auto& line : lines) {
    if (IsPostedText(line.value, "[LOG]: Device is set to parent")) history += "parent ";
    if (IsPostedText(line.value, "[LOG]: Device is set to child")) history += "child ";
  }
  return history + "(" + std::to_string(lines.size()) + " lines)";
}

bool Logged(const ChildProcess& process, const std::string& text) {
  for (const auto& line : process.output().Snapshot()) {
    if (IsPostedText(line.value, text)) return true;
  }
  return false;
}

json Parse(const std::string& line) {
  return json::parse(line, nullptr, false);
}

class PacewireMonitorOnTheLab : public testing::Test {
 protected:
  void SetUp() override {
    MakeLabForTest({.host_numbers = {kChildNumber, kParentNumber, 250}, .tag = "mon"}, &lab_);
    if (!lab_) return;
    std::string error;
    for (size_t k = 0; k < 2; ++k) {
      ChildProcess* page = lab_->Spawn(k, {PACEWIRE_HOST_PATH}, &error);
      ASSERT_NE(page, nullptr) << error;
      page->WriteLine(PageMessage("SET_TOTAL_SCHEDULE_PLAYTIME", std::to_string(kScheduleMs)));
      page->WriteLine(PageMessage("SET_TOTAL_PLAYTIME", std::to_string(kPageMs)));
      page->WriteLine(PageMessage("START_CLOCK_WITH_SYNC_ID", std::to_string(kSyncId)));
      page->WriteLine(PageMessage("SET_DEVICEIP", lab_->device(k).address));
      pages_.push_back(page);
    }
    // Settled: one parent, one child, and the child has followed the parent's
    // packets for a while since the last change of role.
    const bool settled = PollUntil(
        [this] {
          return EndsAsParent(*pages_[1]) && !EndsAsParent(*pages_[0]) &&
                 pages_[0]->output().size() > 150;
        },
        kSettleTimeout);
    ASSERT_TRUE(settled) << "the devices did not settle on .12 as the only parent; .11 "
                         << RoleHistory(*pages_[0]) << "; .12 " << RoleHistory(*pages_[1]);
  }

  std::string Device(size_t k) const { return lab_->device(k).address + ":47475"; }

  std::vector<std::string> MonitorCommand(std::vector<std::string> options) const {
    options.insert(options.begin(), PACEWIRE_MONITOR_PATH);
    for (const std::string& option :
         {std::string("--listen"), ":" + std::to_string(kMonitorPort), Device(0), Device(1)}) {
      options.push_back(option);
    }
    return options;
  }

  std::unique_ptr<NetnsLab> lab_;
  std::vector<ChildProcess*> pages_;  // [0] is .11, [1] is .12
};

TEST_F(PacewireMonitorOnTheLab, SwitchesMonitoringOnAndDecodesEveryFieldOfBothPackets) {
  if (!lab_) return;
  std::string error;
  ChildProcess* monitor =
      lab_->Spawn(2, MonitorCommand({"--jsonl", "--resend", "1", "--interval", "0.5"}), &error);
  ASSERT_NE(monitor, nullptr) << error;

  // Each device starts sending on the 30th datagram after the request.
  const auto monitoring_from = [&](size_t k) {
    return monitor->output().WaitFor(
        [&](const std::string& line) {
          const json object = Parse(line);
          return object.value("kind", "") == "monitoring" &&
                 object.value("device", "") == Device(k);
        },
        kMonitorTimeout);
  };
  ASSERT_TRUE(monitoring_from(0)) << "nothing from .11; " << monitor->ErrorOutput();
  ASSERT_TRUE(monitoring_from(1)) << "nothing from .12; " << monitor->ErrorOutput();

  pages_[0]->WriteLine(PageMessage("PLAYER_TIMESTAMP_INFO", kTimeStamp));
  const auto notify = monitor->output().WaitFor(
      [](const std::string& line) { return Parse(line).value("kind", "") == "notify"; },
      kMonitorTimeout);
  ASSERT_TRUE(notify) << "no notify packet after PLAYER_TIMESTAMP_INFO";
  const size_t seen = monitor->output().size();
  const auto group = monitor->output().WaitFor(
      [](const std::string& line) {
        const json object = Parse(line);
        return object.value("kind", "") == "group" && object.value("devices", 0) == 2;
      },
      kMonitorTimeout, seen);
  ASSERT_TRUE(group) << "no group of both devices";

  EXPECT_EQ(DescribeWaitStatus(monitor->Stop(seconds(2))), "exit 0") << monitor->ErrorOutput();
  monitor->FinishReading();

  // Every device says where its monitoring datagrams go: the monitor's own
  // address in the lab, found by the route, and its port.
  const std::string destination = lab_->device(2).address + ":" + std::to_string(kMonitorPort);
  for (ChildProcess* page : pages_) {
    EXPECT_TRUE(Logged(*page, "[LOG]: Monitoring mode is set to true (Addr: " + destination + ")"));
  }

  // The last monitoring packet of each device, every field.
  std::map<std::string, json> last;
  for (const std::string& line : tools_test::OutputLines(*monitor)) {
    const json object = Parse(line);
    ASSERT_TRUE(object.is_object()) << line;
    if (object["kind"] == "monitoring") last[object["device"]] = object;
  }
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(Device(k));
    const json& packet = last[Device(k)];
    const bool parent = k == 1;
    const std::string address = lab_->device(k).address;
    EXPECT_EQ(packet["from"].get<std::string>().rfind(address + ":", 0), 0u) << packet["from"];
    EXPECT_EQ(packet["length"], 104);
    EXPECT_EQ(packet["size"], 104);
    EXPECT_EQ(packet["type"], 2);
    EXPECT_EQ(packet["deviceIP"], address);
    EXPECT_EQ(packet["isMaster"], parent ? 1 : 0);
    EXPECT_EQ(packet["role"], parent ? "parent" : "child");
    // The device and the monitor share the machine's clock.
    const int64_t received = packet["receivedAt"];
    EXPECT_NEAR(packet["packetClock"].get<int64_t>(), received, 2000);
    const json& sync = packet["syncPlay"];
    EXPECT_EQ(sync["size"], 48);
    if (parent) {
      EXPECT_EQ(sync["type"], 4) << "a parent has sent sync packets";
    }
    EXPECT_EQ(sync["syncId"], kSyncId);
    EXPECT_EQ(sync["ipLastNumber"], lab_->device(k).host_number);
    EXPECT_EQ(sync["currentPageDuration"], kPageMs);
    EXPECT_EQ(sync["frameScheduleDuration"], kScheduleMs);
    EXPECT_EQ(sync["elapsedTimeFromMaster"], 0) << "still on the first page";
    const int64_t play_time = sync["playTime"];
    EXPECT_GT(play_time, 0);
    EXPECT_LT(play_time, kPageMs);
    EXPECT_EQ(packet["scheduleStart"], received - play_time);
  }

  const json notify_packet = Parse(notify->value);
  EXPECT_EQ(notify_packet["device"], Device(0));
  EXPECT_EQ(notify_packet["from"].get<std::string>().rfind(lab_->device(0).address + ":", 0), 0u);
  EXPECT_EQ(notify_packet["length"], 72);
  EXPECT_EQ(notify_packet["size"], 72);
  EXPECT_EQ(notify_packet["type"], 3);
  EXPECT_EQ(notify_packet["syncId"], kSyncId);
  EXPECT_EQ(notify_packet["deviceIP"], lab_->device(0).address);
  EXPECT_EQ(notify_packet["timeStamp"], kTimeStamp);
  EXPECT_NEAR(notify_packet["playStartedClock"].get<int64_t>(),
              notify_packet["receivedAt"].get<int64_t>(), 2000);

  const json group_object = Parse(group->value);
  EXPECT_EQ(group_object["syncId"], kSyncId);
  EXPECT_EQ(group_object["parents"], 1);
  EXPECT_EQ(group_object["aroundScheduleMs"], kScheduleMs);
  // The child adopts the parent's clock on every packet: their schedule
  // starts agree to a few ms; a second would mean the child does not follow.
  EXPECT_LT(group_object["spreadMs"].get<int64_t>(), 1000);
  RecordProperty("schedule_start_spread_ms",
                 std::to_string(group_object["spreadMs"].get<int64_t>()));
}

TEST_F(PacewireMonitorOnTheLab, PlainLinesShowOneParentAndOneChildThenOffSwitchesBothOff) {
  if (!lab_) return;
  const CommandResult run = lab_->RunInNamespace(
      2, MonitorCommand({"--duration", "8", "--resend", "1", "--interval", "1"}),
      milliseconds(30000));
  EXPECT_EQ(DescribeWaitStatus(run.wait_status), "exit 0") << run.error;
  const std::vector<std::string> lines = tools_test::SplitLines(run.output);
  ASSERT_GE(lines.size(), 3u) << run.output;
  // The last snapshot: a line per device and one for the group.
  const auto has = [&](const std::string& text) {
    for (size_t i = lines.size() - 3; i < lines.size(); ++i) {
      if (lines[i].find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(
      has("device " + Device(0) + " ip=" + lab_->device(0).address + " sid=4242 role=child"))
      << run.output;
  EXPECT_TRUE(
      has("device " + Device(1) + " ip=" + lab_->device(1).address + " sid=4242 role=parent"))
      << run.output;
  EXPECT_TRUE(has("group 4242 devices=2 parents=1 spread=")) << run.output;

  const CommandResult off = lab_->RunInNamespace(2, MonitorCommand({"--off"}));
  EXPECT_EQ(DescribeWaitStatus(off.wait_status), "exit 0") << off.error;
  const std::string line =
      "[LOG]: Monitoring mode is set to false (Addr: " + lab_->device(2).address + ":" +
      std::to_string(kMonitorPort) + ")";
  for (ChildProcess* page : pages_) {
    EXPECT_TRUE(PollUntil([&] { return Logged(*page, line); }, seconds(10))) << line;
  }
}

// The event tool allows broadcast only for an address typed as one; inside the
// lab both the subnet's and the limited broadcast reach the other device.
TEST(CuebellEventOnTheLab, SendsToABroadcastAddressTypedByHand) {
  std::unique_ptr<NetnsLab> lab;
  MakeLabForTest({.host_numbers = {21, 22}, .tag = "evb"}, &lab);
  if (!lab) return;
  for (const std::string& broadcast : {lab->broadcast_address(), std::string("255.255.255.255")}) {
    SCOPED_TRACE(broadcast);
    std::string error;
    ChildProcess* listen =
        lab->Spawn(1, {CUEBELL_EVENT_PATH, "listen", "55555", "--count", "1", "--source"}, &error);
    ASSERT_NE(listen, nullptr) << error;
    ASSERT_TRUE(tools_test::ListeningPort(*listen, milliseconds(10000))) << listen->ErrorOutput();
    const CommandResult sent =
        lab->RunInNamespace(0, {CUEBELL_EVENT_PATH, "send", broadcast + ":55555", "lights"});
    EXPECT_EQ(DescribeWaitStatus(sent.wait_status), "exit 0") << sent.error;
    const auto status = listen->WaitForExit(milliseconds(10000));
    ASSERT_TRUE(status) << "the broadcast did not arrive";
    listen->FinishReading();
    const std::vector<std::string> lines = tools_test::OutputLines(*listen);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(lab->device(0).address + ":", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].find(' ') + 1), "lights");
  }
}

}  // namespace
}  // namespace netns
