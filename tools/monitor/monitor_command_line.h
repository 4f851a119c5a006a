// pacewire-monitor's command line: which devices to watch, where to listen,
// how to show what arrives.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/event/argument_values.h"

namespace pacewire_monitor {

// The port a device listens on for sync packets and requests, unless told otherwise.
constexpr uint16_t kDefaultDevicePort = 47475;

struct MonitorOptions {
  std::vector<tool_io::HostAndPort> devices;
  // Where monitoring datagrams are to come to. An empty address: listen on
  // every address and name, in each device's request, the local address that
  // routes to that device. Port 0: a free port.
  std::string listen_address;
  uint16_t listen_port = 0;
  bool jsonl = false;
  bool off = false;
  std::optional<std::chrono::milliseconds> duration;
  std::chrono::milliseconds resend_every{30000};
  std::chrono::milliseconds show_every{1000};
};

struct CommandLine {
  enum class Action { kRun, kExit };
  Action action = Action::kRun;
  // For kExit: 0 after --help (the help is in `text`), 2 after a bad argument
  // (`text` is the one-line error).
  int exit_status = 0;
  std::string text;
  MonitorOptions options;
};

// `arguments` without the program name. Names are not resolved here.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace pacewire_monitor
