// pacewire-monitor as a program, against a socket on 127.0.0.1 that plays a
// device: the requests it sends, and what it makes of what comes back.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/netns/child_process.h"
#include "tests/tools/tool_runs.h"
#include "tests/tools/wire_bytes.h"

namespace tools_test {
namespace {

using netns::ChildProcess;
using netns::DescribeWaitStatus;
using nlohmann::json;
using std::chrono::milliseconds;

struct Request {
  tool_io::UdpEndpoint from;
  int32_t size = 0;
  int32_t type = 0;
  int32_t port = 0;
  std::string address;
  int on = -1;
};

std::optional<Request> WaitForRequest(LoopbackPeer& device) {
  const auto datagram = device.WaitForDatagram(kProgramTimeout);
  if (!datagram || datagram->bytes.size() != 48) return std::nullopt;
  const std::string& bytes = datagram->bytes;
  Request request;
  request.from = datagram->from;
  request.size = ReadAt<int32_t>(bytes, 0);
  request.type = ReadAt<int32_t>(bytes, 4);
  request.port = ReadAt<int32_t>(bytes, 8);
  request.address = bytes.substr(12, 32).c_str();
  request.on = bytes[44];
  return request;
}

std::vector<json> JsonLines(const ChildProcess& monitor) {
  std::vector<json> objects;
  for (const std::string& line : OutputLines(monitor)) {
    objects.push_back(json::parse(line, nullptr, false));
    EXPECT_TRUE(objects.back().is_object()) << "not a JSON object: " << line;
  }
  return objects;
}

class PacewireMonitorLoopback : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    device_ = LoopbackPeer::Open(&error);
    ASSERT_TRUE(device_) << error;
  }

  std::unique_ptr<ChildProcess> StartMonitor(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), PACEWIRE_MONITOR_PATH);
    arguments.push_back(device_->endpoint());
    std::string error;
    auto monitor = ChildProcess::Start(arguments, &error);
    EXPECT_TRUE(monitor) << error;
    return monitor;
  }

  void ExpectExitZero(ChildProcess& monitor) {
    const auto status = monitor.WaitForExit(kProgramTimeout);
    ASSERT_TRUE(status) << "the monitor outlived its --duration";
    EXPECT_EQ(DescribeWaitStatus(*status), "exit 0") << monitor.ErrorOutput();
    monitor.FinishReading();
  }

  std::unique_ptr<LoopbackPeer> device_;
};

TEST_F(PacewireMonitorLoopback, RequestsMonitoringAgainAndAgainAndDecodesWhatComesBack) {
  const auto monitor =
      StartMonitor({"--jsonl", "--duration", "3", "--resend", "0.5", "--interval", "0.25"});
  ASSERT_TRUE(monitor);

  // Without --listen the request names the local address that routes to the
  // device and the port the monitor receives on, which is where it sends from.
  const auto request = WaitForRequest(*device_);
  ASSERT_TRUE(request) << monitor->ErrorOutput();
  EXPECT_EQ(request->size, 48);
  EXPECT_EQ(request->type, 1);
  EXPECT_EQ(request->address, "127.0.0.1");
  EXPECT_EQ(request->port, request->from.port);
  EXPECT_EQ(request->on, 1);

  MonitoringFields fields;
  fields.device_ip = "127.0.0.1";
  fields.sync_id = 7;
  const std::string sync = WireBytes(48).Put<int32_t>(0, 48).Put<int32_t>(4, 4).bytes();
  const std::string notify_long_as_monitoring =
      WireBytes(104).Put<int32_t>(0, 72).Put<int32_t>(4, 3).bytes();
  for (const std::string& bytes :
       {MonitoringDatagram(fields), NotifyDatagram(7, "127.0.0.1", 1'700'000'000'001, "ts-1"),
        std::string("abc"), sync, notify_long_as_monitoring}) {
    ASSERT_TRUE(device_->SendTo(request->from, bytes));
  }
  const auto second = WaitForRequest(*device_);
  ASSERT_TRUE(second) << "no request repeated within the run";
  EXPECT_EQ(second->from, request->from);

  ExpectExitZero(*monitor);
  std::map<std::string, std::vector<json>> by_kind;
  for (const json& object : JsonLines(*monitor))
    by_kind[object.value("kind", "")].push_back(object);

  EXPECT_GE(by_kind["request"].size(), 2u);
  for (const json& sent : by_kind["request"]) {
    EXPECT_EQ(sent["device"], device_->endpoint());
    EXPECT_EQ(sent["monitoringAddress"], "127.0.0.1");
    EXPECT_EQ(sent["monitoringPort"], request->from.port);
    EXPECT_EQ(sent["monitoringOn"], 1);
  }
  ASSERT_EQ(by_kind["monitoring"].size(), 1u);
  const json& monitoring = by_kind["monitoring"][0];
  EXPECT_EQ(monitoring["device"], device_->endpoint());
  EXPECT_EQ(monitoring["from"], device_->endpoint());
  EXPECT_EQ(monitoring["syncPlay"]["syncId"], 7);
  EXPECT_EQ(monitoring["syncPlay"]["playTime"], fields.play_time);
  EXPECT_EQ(monitoring["packetClock"], fields.packet_clock);
  ASSERT_EQ(by_kind["notify"].size(), 1u);
  EXPECT_EQ(by_kind["notify"][0]["timeStamp"], "ts-1");

  std::vector<std::string> reasons;
  for (const json& malformed : by_kind["malformed"]) reasons.push_back(malformed["reason"]);
  EXPECT_EQ(reasons, (std::vector<std::string>{"too short", "unknown type", "wrong length"}));

  ASSERT_FALSE(by_kind["group"].empty()) << "the device reported within the last 3 s";
  const json& group = by_kind["group"].back();
  EXPECT_EQ(group["syncId"], 7);
  EXPECT_EQ(group["devices"], 1);
  EXPECT_EQ(group["parents"], 1);
  EXPECT_EQ(group["spreadMs"], 0);
}

TEST_F(PacewireMonitorLoopback, PlainLinesShowTheDeviceWithItsRoleAndItsGroup) {
  const auto monitor = StartMonitor({"--duration", "2", "--interval", "0.5"});
  ASSERT_TRUE(monitor);
  const auto request = WaitForRequest(*device_);
  ASSERT_TRUE(request) << monitor->ErrorOutput();
  MonitoringFields fields;
  fields.device_ip = "127.0.0.1";
  fields.is_master = 0;
  ASSERT_TRUE(device_->SendTo(request->from, MonitoringDatagram(fields)));

  ExpectExitZero(*monitor);
  const std::vector<std::string> lines = OutputLines(*monitor);
  ASSERT_GE(lines.size(), 2u);
  const std::string device_line = lines[lines.size() - 2];
  EXPECT_NE(device_line.find("] device " + device_->endpoint() +
                             " ip=127.0.0.1 sid=7 role=child play=1500 pages=30000 page=15000 "
                             "schedule=60000 age="),
            std::string::npos)
      << device_line;
  EXPECT_NE(lines.back().find("] group 7 devices=1 parents=0 spread=0ms"), std::string::npos)
      << lines.back();
  EXPECT_NE(lines.front().find("] device " + device_->endpoint() + " waiting"), std::string::npos)
      << lines.front();
}

TEST_F(PacewireMonitorLoopback, OffSendsOneRequestThatSwitchesMonitoringOffAndExits) {
  const netns::CommandResult run = netns::RunCommand(
      {PACEWIRE_MONITOR_PATH, "--off", "--listen", "127.0.0.1:0", device_->endpoint()},
      kProgramTimeout);
  EXPECT_EQ(DescribeWaitStatus(run.wait_status), "exit 0") << run.error;
  const auto request = WaitForRequest(*device_);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->type, 1);
  EXPECT_EQ(request->address, "127.0.0.1");
  EXPECT_EQ(request->on, 0);
  EXPECT_FALSE(device_->WaitForDatagram(milliseconds(200))) << "one request only";
}

}  // namespace
}  // namespace tools_test
