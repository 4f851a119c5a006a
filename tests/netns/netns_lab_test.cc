// The harness itself: processes with piped streams, and the namespace lab.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/netns/lab_for_test.h"

namespace netns {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::string Program(const std::string& name) {
  const std::string path = FindProgram(name);
  EXPECT_FALSE(path.empty()) << "no " << name << " on this machine";
  return path;
}

bool NamespaceListed(const std::string& name) {
  const CommandResult listed = RunCommand({FindProgram("ip"), "netns", "list"}, seconds(10));
  return listed.output.find(name + " ") != std::string::npos ||
         listed.output.find(name + "\n") != std::string::npos;
}

// ---- ChildProcess ----

TEST(ChildProcess, RecordsEveryOutputLineItsErrorsAndItsExitStatus) {
  std::string error;
  auto child = ChildProcess::Start({Program("sh"), "-c",
                                    "read line; printf 'got %s\\nsecond\\nno newline' \"$line\"; "
                                    "echo trouble >&2; exit 3"},
                                   &error);
  ASSERT_TRUE(child) << error;
  ASSERT_TRUE(child->WriteLine("first"));
  ASSERT_TRUE(child->WaitForExit(seconds(10)));
  child->FinishReading();

  std::vector<std::string> lines;
  for (const auto& line : child->output().Snapshot()) lines.push_back(line.value);
  EXPECT_EQ(lines, (std::vector<std::string>{"got first", "second", "no newline"}));
  EXPECT_EQ(child->ErrorOutput(), "trouble\n");
  EXPECT_EQ(DescribeWaitStatus(*child->WaitForExit(milliseconds(0))), "exit 3");
  EXPECT_TRUE(child->output().closed());
}

TEST(ChildProcess, WritingToAChildThatHasEndedFailsQuietly) {
  std::string error;
  auto child = ChildProcess::Start({Program("true")}, &error);
  ASSERT_TRUE(child) << error;
  ASSERT_TRUE(child->WaitForExit(seconds(10)));
  // The pipe has no reader any more: the write fails instead of the harness
  // dying of SIGPIPE.
  EXPECT_FALSE(child->WriteLine("anyone there?"));
  EXPECT_FALSE(child->WriteLine("still nobody"));
}

TEST(ChildProcess, StopInsistsUntilAChildThatIgnoresItsInputAndSigtermEnds) {
  std::string error;
  auto child =
      ChildProcess::Start({Program("sh"), "-c", "trap '' TERM; echo ready; sleep 60"}, &error);
  ASSERT_TRUE(child) << error;
  ASSERT_TRUE(
      child->output().WaitFor([](const std::string& l) { return l == "ready"; }, seconds(10)));
  EXPECT_EQ(DescribeWaitStatus(child->Stop(milliseconds(200))), "signal 9");
  // Its own child, the sleep, went with it: the output ends.
  child->FinishReading();
  EXPECT_TRUE(child->output().closed());
}

TEST(RunCommand, ReportsAProgramThatCannotStart) {
  const CommandResult result = RunCommand({"/nonexistent/program"}, seconds(10));
  EXPECT_FALSE(result.succeeded());
  EXPECT_NE(result.error.find("exec failed"), std::string::npos) << result.error;
}

// ---- NetnsLab ----

TEST(NetnsLab, RefusesOptionsThatWouldReachBeyondAPrivateLab) {
  struct Case {
    std::string subnet;
    std::vector<int> host_numbers;
  };
  const std::vector<Case> cases = {
      {"8.8.8", {1}},   {"172.32.0", {1}},  {"192.169.1", {1}},  {"10.77.0.1", {1}},
      {"10.77.0", {0}}, {"10.77.0", {255}}, {"10.77.0", {5, 5}}, {"10.77.0", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subnet + " with " + std::to_string(c.host_numbers.size()) + " devices");
    LabProblem problem;
    EXPECT_EQ(NetnsLab::Create({.host_numbers = c.host_numbers, .subnet = c.subnet}, &problem),
              nullptr);
    EXPECT_EQ(problem.kind, LabProblem::kFailed) << problem.reason;
  }
}

TEST(NetnsLab, GivesEachDeviceItsAddressAndADefaultRouteIntoTheBridge) {
  std::unique_ptr<NetnsLab> lab;
  MakeLabForTest({.host_numbers = {5, 6}}, &lab);
  if (!lab) return;

  const std::string ip = Program("ip");
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(lab->device(k).netns);
    const CommandResult address = lab->RunInNamespace(k, {ip, "-4", "-o", "addr", "show"});
    ASSERT_TRUE(address.succeeded()) << address.error;
    EXPECT_NE(address.output.find("eth0    inet " + lab->device(k).address + "/24 brd 10.77.0.255"),
              std::string::npos)
        << address.output;
    EXPECT_NE(address.output.find("lo    inet 127.0.0.1/8"), std::string::npos) << address.output;
    const CommandResult route = lab->RunInNamespace(k, {ip, "route", "show", "default"});
    EXPECT_EQ(route.output, "default dev eth0 scope link \n");
  }
}

TEST(NetnsLab, RunsProcessesInTheDevicesNamespaceNeverInTheMachines) {
  std::unique_ptr<NetnsLab> lab;
  MakeLabForTest({.host_numbers = {5, 6}}, &lab);
  if (!lab) return;

  char own[64] = {};
  ASSERT_GT(readlink("/proc/self/ns/net", own, sizeof own - 1), 0);
  const CommandResult first = lab->RunInNamespace(0, {Program("readlink"), "/proc/self/ns/net"});
  const CommandResult second = lab->RunInNamespace(1, {Program("readlink"), "/proc/self/ns/net"});
  ASSERT_TRUE(first.succeeded()) << first.error;
  EXPECT_NE(first.output, std::string(own) + "\n");
  EXPECT_NE(second.output, std::string(own) + "\n");
  EXPECT_NE(first.output, second.output);

  std::string error;
  EXPECT_EQ(lab->Spawn(2, {Program("true")}, &error), nullptr) << "no device 2 in this lab";
}

TEST(NetnsLab, DevicesReachEachOtherOverTheBridge) {
  std::unique_ptr<NetnsLab> lab;
  MakeLabForTest({.host_numbers = {5, 6}}, &lab);
  if (!lab) return;

  std::string error;
  const auto receiver = lab->OpenUdpSocket(1, 40000, &error);
  ASSERT_TRUE(receiver) << error;
  receiver->StartRecording();
  const auto sender = lab->OpenUdpSocket(0, 0, &error);
  ASSERT_TRUE(sender) << error;
  ASSERT_TRUE(sender->SendTo(lab->device(1).address, 40000, "ping", &error)) << error;

  const auto arrived = receiver->received().WaitFor(
      [](const Datagram& datagram) { return datagram.bytes == "ping"; }, seconds(5));
  ASSERT_TRUE(arrived);
  EXPECT_EQ(arrived->value.source_address, lab->device(0).address);
  EXPECT_EQ(arrived->value.source_port, sender->port());
}

TEST(NetnsLab, EndsItsProcessesAndRemovesItsNamespacesWhenDestroyed) {
  std::unique_ptr<NetnsLab> lab;
  MakeLabForTest({.host_numbers = {5}}, &lab);
  if (!lab) return;

  std::string error;
  ChildProcess* stubborn =
      lab->Spawn(0, {Program("sh"), "-c", "trap '' TERM; echo ready; sleep 60"}, &error);
  ASSERT_NE(stubborn, nullptr) << error;
  ASSERT_TRUE(
      stubborn->output().WaitFor([](const std::string& l) { return l == "ready"; }, seconds(10)));
  const pid_t pid = stubborn->pid();
  const std::vector<std::string> names = lab->namespaces();
  for (const std::string& name : names) EXPECT_TRUE(NamespaceListed(name)) << name;

  lab->StopAll(milliseconds(200));
  lab.reset();

  EXPECT_NE(kill(pid, 0), 0) << "the process is gone and reaped";
  for (const std::string& name : names) EXPECT_FALSE(NamespaceListed(name)) << name;
}

TEST(NetnsLab, RemovesTheNamespacesOfLabsWhoseOwnerHasEnded) {
  std::unique_ptr<NetnsLab> lab;
  MakeLabForTest({.host_numbers = {5}}, &lab);
  if (!lab) return;

  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  const std::string ip = Program("ip");
  const std::string stale = std::string(NetnsLab::kNamePrefix) + std::to_string(ended) + "-x0-br";
  // Owned by pid 1, which never ends; our own pid keeps the name apart from
  // other runs of this test.
  const std::string live =
      std::string(NetnsLab::kNamePrefix) + "1-x" + std::to_string(getpid()) + "-br";
  struct RemovedAtTheEnd {
    std::string ip;
    std::vector<std::string> names;
    ~RemovedAtTheEnd() {
      for (const std::string& name : names) RunCommand({ip, "netns", "delete", name}, seconds(10));
    }
  } made_here{ip, {stale, live}};
  ASSERT_TRUE(RunCommand({ip, "netns", "add", stale}, seconds(10)).succeeded());
  ASSERT_TRUE(RunCommand({ip, "netns", "add", live}, seconds(10)).succeeded());

  std::string problems;
  const std::vector<std::string> removed = NetnsLab::RemoveStaleLabs(&problems);
  EXPECT_THAT(removed, testing::Contains(stale)) << problems;
  EXPECT_THAT(removed, testing::Not(testing::Contains(live)));
  EXPECT_FALSE(NamespaceListed(stale));
  EXPECT_TRUE(NamespaceListed(live));
  for (const std::string& name : lab->namespaces()) EXPECT_TRUE(NamespaceListed(name)) << name;
}

}  // namespace
}  // namespace netns
