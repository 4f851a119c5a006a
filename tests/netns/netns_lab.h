// A small network of Linux network namespaces for tests that put real module
// processes on a real (virtual) LAN without any packet reaching the machine's
// own network.
//
// Layout: one namespace holds a bridge; each device has a namespace of its own
// with one interface, eth0, joined to the bridge by a veth pair, an address
// subnet.N/24, lo up and a default route through eth0 (so even the limited
// broadcast 255.255.255.255 goes into the bridge and nowhere else). No
// interface of the lab ever exists in the machine's own namespace.
//
// Names are "pwtest-<pid>-<tag><n>-br" and "...-d<k>", <pid> being the process
// that owns the lab. A lab whose owner has died is stale: the next lab (and the
// cleanup step that runs after the tests) removes it. The lab owns every
// process it starts and ends them all, then removes its namespaces, when it is
// destroyed. Make and use a lab from one thread that lives as long as the lab
// (a test's main thread): the processes it starts are killed when that thread
// ends.
//
// Use:
//   LabProblem problem;
//   auto lab = NetnsLab::Create({.host_numbers = {11, 12}}, &problem);
//   if (!lab) ...skip when problem.kind == kCannotMakeNamespaces, else fail...
//   ChildProcess* module = lab->Spawn(0, {"/abs/path/pacewire-host"}, &error);
//   module->WriteLine(R"({"key":"SET_DEVICEIP","value":"10.77.0.11"})");
//   auto observer = lab->OpenUdpSocket(1, 47475, &error);
//   observer->StartRecording();  // observer->received() fills up
// (lab_for_test.h does the skip-or-fail inside a GoogleTest test.)
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/netns/child_process.h"
#include "tests/netns/namespace_socket.h"

namespace netns {

struct LabOptions {
  // The last number of each device's address, one device per entry (1 to 254,
  // all different).
  std::vector<int> host_numbers = {1, 2};
  // The first three numbers of the lab's /24, a private range.
  std::string subnet = "10.77.0";
  // A short word in the namespace names that tells labs apart in `ip netns list`.
  std::string tag = "lab";
};

struct LabDevice {
  std::string netns;    // the namespace's name
  std::string address;  // dotted IPv4 on its eth0
  int host_number = 0;  // the address's last number
};

// Why a lab could not be made. kCannotMakeNamespaces means the machine does not
// let this process make them (not root, no `ip`, no kernel support): a test
// skips. kFailed is a fault worth a failing test.
struct LabProblem {
  enum Kind { kNone, kCannotMakeNamespaces, kFailed };
  Kind kind = kNone;
  std::string reason;
};

class NetnsLab {
 public:
  static constexpr const char* kNamePrefix = "pwtest-";
  static constexpr size_t kMaxDevices = 64;
  static constexpr size_t kMaxProcesses = 256;
  static constexpr std::chrono::milliseconds kCommandTimeout{10000};

  // Removes stale labs, then builds this one. Nothing, with `problem` set, when
  // it cannot be built; whatever was built by then is removed again.
  static std::unique_ptr<NetnsLab> Create(const LabOptions& options, LabProblem* problem);
  ~NetnsLab();
  NetnsLab(const NetnsLab&) = delete;
  NetnsLab& operator=(const NetnsLab&) = delete;

  const std::vector<LabDevice>& devices() const { return devices_; }
  const LabDevice& device(size_t index) const { return devices_.at(index); }
  // subnet.255
  std::string broadcast_address() const { return subnet_ + ".255"; }
  // Every namespace of the lab, the bridge's first.
  std::vector<std::string> namespaces() const;

  // Starts argv (argv[0] an absolute path) inside the device's namespace with
  // `ip netns exec`. The lab owns the process. Nothing, with `error` set, when
  // the device is unknown, its namespace is not the one the lab made, or the
  // process cannot start.
  ChildProcess* Spawn(size_t device, const std::vector<std::string>& argv, std::string* error);
  // Runs argv to completion inside the device's namespace.
  CommandResult RunInNamespace(size_t device, const std::vector<std::string>& argv,
                               std::chrono::milliseconds timeout = kCommandTimeout);
  // A plain UDP socket inside the device's namespace, bound to `port`.
  std::unique_ptr<NamespaceUdpSocket> OpenUdpSocket(size_t device, uint16_t port,
                                                    std::string* error);

  // Ends every process the lab started: end of input for all, `grace` to exit,
  // then SIGTERM, `grace` again, then SIGKILL.
  void StopAll(std::chrono::milliseconds grace);

  // Removes the namespaces of labs whose owner process has ended. Returns the
  // names removed; `problems` gets a line for each one that could not be.
  static std::vector<std::string> RemoveStaleLabs(std::string* problems);

 private:
  NetnsLab() = default;
  bool Build(const LabOptions& options, LabProblem* problem);
  bool IsLabNamespace(size_t device) const;
  void RemoveNamespaces();

  std::string ip_;  // absolute path of the `ip` program
  std::string subnet_;
  std::string bridge_netns_;
  std::vector<LabDevice> devices_;
  std::vector<NetnsId> device_ids_;
  std::vector<std::string> made_;  // namespaces made so far, in order
  std::vector<std::unique_ptr<ChildProcess>> processes_;
};

// The absolute path of `program` from PATH and the usual system directories;
// empty when there is none.
std::string FindProgram(const std::string& program);

}  // namespace netns
