#include "tests/netns/netns_lab.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace netns {

namespace {

using std::chrono::milliseconds;

// The three leading numbers of a /24 inside one of the private IPv4 ranges.
bool IsPrivateSubnet(const std::string& subnet) {
  int a = -1, b = -1, c = -1;
  char tail = 0;
  if (std::sscanf(subnet.c_str(), "%d.%d.%d%c", &a, &b, &c, &tail) != 3) return false;
  if (a < 0 || a > 255 || b < 0 || b > 255 || c < 0 || c > 255) return false;
  return a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168);
}

std::string Describe(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& arg : argv) text += (text.empty() ? "" : " ") + arg;
  return text;
}

std::string FirstLine(const std::string& text) {
  const size_t end = text.find('\n');
  return end == std::string::npos ? text : text.substr(0, end);
}

// The owner pid in a lab namespace name, or 0 when the name is not one of ours.
pid_t OwnerOf(const std::string& name) {
  const std::string prefix = NetnsLab::kNamePrefix;
  if (name.rfind(prefix, 0) != 0) return 0;
  const std::string rest = name.substr(prefix.size());
  const size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string::npos) return 0;
  pid_t pid = 0;
  for (size_t i = 0; i < dash; ++i) {
    if (rest[i] < '0' || rest[i] > '9' || pid > 10000000) return 0;
    pid = pid * 10 + (rest[i] - '0');
  }
  return pid;
}

bool IsAlive(pid_t pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

std::vector<std::string> ListNamespaces(const std::string& ip, std::string* problems) {
  std::vector<std::string> names;
  const CommandResult listed = RunCommand({ip, "netns", "list"}, NetnsLab::kCommandTimeout);
  if (!listed.succeeded()) {
    if (problems != nullptr) *problems += "ip netns list: " + FirstLine(listed.error) + "\n";
    return names;
  }
  std::istringstream lines(listed.output);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string name = line.substr(0, line.find(' '));  // "NAME (id: 3)"
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

}  // namespace

std::string FindProgram(const std::string& program) {
  std::string path;
  if (const char* env = std::getenv("PATH")) path = env;
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::istringstream directories(path);
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (directory.empty()) continue;
    const std::string candidate = directory + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::vector<std::string> NetnsLab::RemoveStaleLabs(std::string* problems) {
  std::vector<std::string> removed;
  const std::string ip = FindProgram("ip");
  if (ip.empty()) return removed;
  for (const std::string& name : ListNamespaces(ip, problems)) {
    const pid_t owner = OwnerOf(name);
    if (owner <= 0 || IsAlive(owner)) continue;
    const CommandResult deleted = RunCommand({ip, "netns", "delete", name}, kCommandTimeout);
    if (deleted.succeeded()) {
      removed.push_back(name);
    } else if (problems != nullptr) {
      *problems += "ip netns delete " + name + ": " + FirstLine(deleted.error) + "\n";
    }
  }
  return removed;
}

std::unique_ptr<NetnsLab> NetnsLab::Create(const LabOptions& options, LabProblem* problem) {
  *problem = {};
  std::unique_ptr<NetnsLab> lab(new NetnsLab);
  if (!lab->Build(options, problem)) return nullptr;  // the destructor removes what was made
  return lab;
}

bool NetnsLab::Build(const LabOptions& options, LabProblem* problem) {
  auto fail = [problem](LabProblem::Kind kind, std::string reason) {
    *problem = {kind, std::move(reason)};
    return false;
  };

  if (options.host_numbers.empty() || options.host_numbers.size() > kMaxDevices) {
    return fail(LabProblem::kFailed, "a lab has 1 to " + std::to_string(kMaxDevices) + " devices");
  }
  for (size_t i = 0; i < options.host_numbers.size(); ++i) {
    const int number = options.host_numbers[i];
    if (number < 1 || number > 254) {
      return fail(LabProblem::kFailed, "host number out of 1..254: " + std::to_string(number));
    }
    for (size_t j = 0; j < i; ++j) {
      if (options.host_numbers[j] == number) {
        return fail(LabProblem::kFailed, "host number used twice: " + std::to_string(number));
      }
    }
  }
  if (!IsPrivateSubnet(options.subnet)) {
    return fail(LabProblem::kFailed, "not a private /24: " + options.subnet);
  }
  for (char c : options.tag) {
    if (!std::isalnum(static_cast<unsigned char>(c)) || options.tag.size() > 16) {
      return fail(LabProblem::kFailed, "the tag must be up to 16 letters or digits");
    }
  }

  if (geteuid() != 0) {
    return fail(
        LabProblem::kCannotMakeNamespaces,
        "making network namespaces needs root (running as uid " + std::to_string(geteuid()) + ")");
  }
  ip_ = FindProgram("ip");
  if (ip_.empty()) {
    return fail(LabProblem::kCannotMakeNamespaces, "no `ip` program (iproute2) on this machine");
  }
  const std::optional<NetnsId> own = NetnsIdOf("/proc/thread-self/ns/net");
  if (!own) {
    return fail(LabProblem::kCannotMakeNamespaces, "cannot read /proc/thread-self/ns/net");
  }

  RemoveStaleLabs(nullptr);

  static std::atomic<int> labs_made{0};
  const std::string base = std::string(kNamePrefix) + std::to_string(getpid()) + "-" + options.tag +
                           std::to_string(labs_made++);
  subnet_ = options.subnet;
  bridge_netns_ = base + "-br";

  // Runs one `ip` command; a refusal of `refusal_kind` means the machine cannot
  // make the lab rather than a fault of the lab.
  auto ip = [&](std::vector<std::string> args, LabProblem::Kind refusal_kind) {
    args.insert(args.begin(), ip_);
    const CommandResult result = RunCommand(args, kCommandTimeout);
    if (result.succeeded()) return true;
    return fail(refusal_kind, "`" + Describe(args) + "` failed (" +
                                  DescribeWaitStatus(result.wait_status) +
                                  "): " + FirstLine(result.error));
  };
  auto add_netns = [&](const std::string& name) {
    if (!ip({"netns", "add", name}, LabProblem::kCannotMakeNamespaces)) return false;
    made_.push_back(name);
    return true;
  };

  if (!add_netns(bridge_netns_)) return false;
  const std::string& br = bridge_netns_;
  if (!ip({"-n", br, "link", "set", "lo", "up"}, LabProblem::kFailed) ||
      !ip({"-n", br, "link", "add", "br0", "type", "bridge"}, LabProblem::kCannotMakeNamespaces) ||
      !ip({"-n", br, "link", "set", "br0", "up"}, LabProblem::kFailed)) {
    return false;
  }

  for (size_t k = 0; k < options.host_numbers.size(); ++k) {
    LabDevice device;
    device.netns = base + "-d" + std::to_string(k);
    device.host_number = options.host_numbers[k];
    device.address = subnet_ + "." + std::to_string(device.host_number);
    const std::string& ns = device.netns;
    const std::string veth = "veth" + std::to_string(k);
    // The veth pair is made inside the bridge's namespace and its far end moved
    // straight into the device's: neither end ever appears in ours.
    if (!add_netns(ns) ||
        !ip({"-n", br, "link", "add", veth, "type", "veth", "peer", "name", "eth0", "netns", ns},
            LabProblem::kCannotMakeNamespaces) ||
        !ip({"-n", br, "link", "set", veth, "master", "br0"}, LabProblem::kFailed) ||
        !ip({"-n", br, "link", "set", veth, "up"}, LabProblem::kFailed) ||
        !ip({"-n", ns, "link", "set", "lo", "up"}, LabProblem::kFailed) ||
        !ip({"-n", ns, "addr", "add", device.address + "/24", "broadcast", broadcast_address(),
             "dev", "eth0"},
            LabProblem::kFailed) ||
        !ip({"-n", ns, "link", "set", "eth0", "up"}, LabProblem::kFailed) ||
        !ip({"-n", ns, "route", "add", "default", "dev", "eth0"}, LabProblem::kFailed)) {
      return false;
    }
    const std::optional<NetnsId> id = NetnsIdOf(NetnsFile(ns));
    if (!id || *id == *own) {
      return fail(LabProblem::kFailed, ns + " is not a namespace of its own");
    }
    device_ids_.push_back(*id);
    devices_.push_back(std::move(device));
  }
  return true;
}

NetnsLab::~NetnsLab() {
  StopAll(milliseconds(2000));
  processes_.clear();
  RemoveNamespaces();
}

void NetnsLab::RemoveNamespaces() {
  // Devices first, the bridge last: removing a device's namespace removes its
  // end of the veth pair, and with it the pair.
  for (auto name = made_.rbegin(); name != made_.rend(); ++name) {
    RunCommand({ip_, "netns", "delete", *name}, kCommandTimeout);
  }
  made_.clear();
}

std::vector<std::string> NetnsLab::namespaces() const {
  std::vector<std::string> names{bridge_netns_};
  for (const LabDevice& device : devices_) names.push_back(device.netns);
  return names;
}

bool NetnsLab::IsLabNamespace(size_t device) const {
  if (device >= devices_.size()) return false;
  const std::optional<NetnsId> own = NetnsIdOf("/proc/thread-self/ns/net");
  const std::optional<NetnsId> now = NetnsIdOf(NetnsFile(devices_[device].netns));
  return own && now && *now == device_ids_[device] && !(*now == *own);
}

ChildProcess* NetnsLab::Spawn(size_t device, const std::vector<std::string>& argv,
                              std::string* error) {
  if (!IsLabNamespace(device)) {
    *error = "device " + std::to_string(device) + " is not a namespace of this lab";
    return nullptr;
  }
  if (processes_.size() >= kMaxProcesses) {
    *error = "a lab starts at most " + std::to_string(kMaxProcesses) + " processes";
    return nullptr;
  }
  if (argv.empty()) {
    *error = "nothing to run";
    return nullptr;
  }
  std::vector<std::string> command{ip_, "netns", "exec", devices_[device].netns};
  command.insert(command.end(), argv.begin(), argv.end());
  std::unique_ptr<ChildProcess> process = ChildProcess::Start(command, error);
  if (!process) return nullptr;
  processes_.push_back(std::move(process));
  return processes_.back().get();
}

CommandResult NetnsLab::RunInNamespace(size_t device, const std::vector<std::string>& argv,
                                       milliseconds timeout) {
  if (!IsLabNamespace(device)) {
    CommandResult refused;
    refused.error = "device " + std::to_string(device) + " is not a namespace of this lab";
    return refused;
  }
  std::vector<std::string> command{ip_, "netns", "exec", devices_[device].netns};
  command.insert(command.end(), argv.begin(), argv.end());
  return RunCommand(command, timeout);
}

std::unique_ptr<NamespaceUdpSocket> NetnsLab::OpenUdpSocket(size_t device, uint16_t port,
                                                            std::string* error) {
  if (!IsLabNamespace(device)) {
    *error = "device " + std::to_string(device) + " is not a namespace of this lab";
    return nullptr;
  }
  return NamespaceUdpSocket::Open(devices_[device].netns, port, error);
}

void NetnsLab::StopAll(milliseconds grace) {
  for (auto& process : processes_) process->CloseInput();
  auto wait_all = [&] {
    const Clock::time_point deadline = Clock::now() + grace;
    for (auto& process : processes_) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      process->WaitForExit(std::max(left, milliseconds(0)));
    }
  };
  wait_all();
  for (auto& process : processes_) {
    if (!process->exited()) kill(process->pid(), SIGTERM);
  }
  wait_all();
  for (auto& process : processes_) process->Kill();
}

}  // namespace netns
