// The event relay module in namespaces of its own: event datagrams from the LAN
// reach its page, and with "DEBUGGER" on, the page's events reach every other
// device on the LAN through the limited broadcast (which, inside a device
// namespace, goes into the lab's bridge and nowhere else).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/netns/lab_for_test.h"
#include "tests/netns/page_lines.h"

namespace netns {
namespace {

constexpr uint16_t kEventPort = 55555;
// Sockets are made on the 31st tick, a little over 3.1 s after start; the rest
// is margin for sanitizer builds on a busy machine.
constexpr auto kSocketsUp = std::chrono::seconds(20);
constexpr auto kDelivery = std::chrono::seconds(5);

bool WaitForLine(const ChildProcess& module, const std::string& line,
                 Clock::duration timeout = kDelivery) {
  return module.output()
      .WaitFor([&](const std::string& posted) { return posted == line; }, timeout)
      .has_value();
}

bool WaitForText(const ChildProcess& module, const std::string& text,
                 Clock::duration timeout = kDelivery) {
  return module.output()
      .WaitFor([&](const std::string& posted) { return IsPostedText(posted, text); }, timeout)
      .has_value();
}

std::string EventLine(const std::string& text) {
  return nlohmann::json{{"EVENT_TYPE", text}}.dump();
}

class CuebellOnTheWire : public testing::Test {
 protected:
  ChildProcess* StartModule(size_t device) {
    std::string error;
    ChildProcess* module = lab_->Spawn(device, {CUEBELL_HOST_PATH}, &error);
    EXPECT_NE(module, nullptr) << error;
    return module;
  }

  std::unique_ptr<NetnsLab> lab_;
};

TEST_F(CuebellOnTheWire, ADatagramOnTheListenPortReachesThePageAsItsText) {
  MakeLabForTest({.host_numbers = {1, 2}, .tag = "cb"}, &lab_);
  if (!lab_) return;
  ChildProcess* module = StartModule(0);
  ASSERT_NE(module, nullptr);
  std::string error;
  const auto sender = lab_->OpenUdpSocket(1, 0, &error);
  ASSERT_TRUE(sender) << error;
  ASSERT_TRUE(WaitForText(*module, "[LOG]: UDPReceiver: Successfully created.", kSocketsUp))
      << Transcript(*module);

  struct Case {
    std::string datagram;
    std::string page_line;
  };
  const std::vector<Case> cases = {
      {"abc", R"({"EVENT_TYPE":"abc"})"},
      {std::string("ab\0cd", 5), R"({"EVENT_TYPE":"ab"})"},  // the text ends at a zero byte
      {"100% %s%n", R"({"EVENT_TYPE":"100% %s%n"})"},        // never read as a format
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("datagram \"" + c.datagram + "\"");
    const size_t seen = module->output().size();
    ASSERT_TRUE(sender->SendTo(lab_->device(0).address, kEventPort, c.datagram, &error)) << error;
    EXPECT_TRUE(module->output().WaitFor(
        [&](const std::string& line) { return line == c.page_line; }, kDelivery, seen))
        << Transcript(*module);
  }
  lab_->StopAll(std::chrono::seconds(3));
  EXPECT_EQ(DescribeWaitStatus(*module->WaitForExit(std::chrono::milliseconds(0))), "exit 0");
}

TEST_F(CuebellOnTheWire, WithDebuggerOnThePagesEventsReachTheOtherDevices) {
  MakeLabForTest({.host_numbers = {1, 2, 3}, .tag = "cb"}, &lab_);
  if (!lab_) return;
  ChildProcess* sending = StartModule(0);
  ChildProcess* receiving = StartModule(1);
  ASSERT_TRUE(sending && receiving);
  std::string error;
  const auto observer = lab_->OpenUdpSocket(2, kEventPort, &error);
  ASSERT_TRUE(observer) << error;
  observer->StartRecording();
  ASSERT_TRUE(WaitForText(*sending, "[LOG]: UDPSender: Successfully created and set to broadcast.",
                          kSocketsUp))
      << Transcript(*sending);
  ASSERT_TRUE(WaitForText(*sending, "[LOG]: UDPReceiver: Successfully created.", kSocketsUp))
      << Transcript(*sending);
  ASSERT_TRUE(WaitForText(*receiving, "[LOG]: UDPReceiver: Successfully created.", kSocketsUp))
      << Transcript(*receiving);

  // An event before "DEBUGGER" only waits in the module; "DEBUGGER" sends it.
  sending->WriteLine(PageMessage("EVENT_TYPE", "early"));
  ASSERT_TRUE(WaitForText(*sending, "[LOG]: Trialhorn set eventData to getting message: early"));
  sending->WriteLine(PageMessage("DEBUGGER", ""));
  EXPECT_TRUE(WaitForLine(*receiving, EventLine("early"))) << Transcript(*receiving);
  // The broadcast also comes back to the sender's own listener. Waiting for it
  // also lets the send finish: the module drops a send offered while one is
  // still in flight.
  EXPECT_TRUE(WaitForLine(*sending, EventLine("early"))) << Transcript(*sending);

  sending->WriteLine(PageMessage("EVENT_TYPE", "hello"));
  EXPECT_TRUE(WaitForLine(*receiving, EventLine("hello"))) << Transcript(*receiving);
  ASSERT_TRUE(observer->received().WaitUntil(
      [](const auto& datagrams) { return datagrams.size() >= 2; }, kDelivery));

  std::vector<std::string> payloads;
  for (const auto& datagram : observer->received().Snapshot()) {
    payloads.push_back(datagram.value.bytes);
    EXPECT_EQ(datagram.value.source_address, lab_->device(0).address);
  }
  EXPECT_EQ(payloads, (std::vector<std::string>{"early", "hello"}))
      << "each event is the bare text, sent once per page message after \"DEBUGGER\"";

  lab_->StopAll(std::chrono::seconds(3));
  for (ChildProcess* module : {sending, receiving}) {
    EXPECT_EQ(DescribeWaitStatus(*module->WaitForExit(std::chrono::milliseconds(0))), "exit 0")
        << module->ErrorOutput();
  }
}

}  // namespace
}  // namespace netns
