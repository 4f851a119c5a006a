#include "tools/monitor/monitor_command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "tools/event/udp_socket.h"

namespace pacewire_monitor {
namespace {

constexpr char kDescription[] =
    "pacewire-monitor: switches monitoring mode on in Pacewire devices and shows their timer\n"
    "state as it arrives: one row per device, and per sync group the spread of the schedule\n"
    "start its devices imply.";

constexpr char kFooter[] =
    "DEVICE is HOST[:PORT], the device's sync port (default 47475). Datagrams go only to the\n"
    "devices named; broadcast is never allowed on the socket.\n"
    "\n"
    "--listen ADDR:PORT is where monitoring datagrams are to come to: the socket is bound\n"
    "there and ADDR goes into the requests. Without ADDR (or with 0.0.0.0) the socket listens\n"
    "on every address and each request names the local address that routes to its device;\n"
    "PORT 0 takes a free port.\n"
    "\n"
    "Each device gets a 48-byte set-monitoring-mode request at start and every --resend\n"
    "seconds (a device switches monitoring off by itself after about an hour, and forgets it\n"
    "when it restarts). A device starts sending on the 30th datagram it receives after a new\n"
    "destination: a few seconds in a group with a parent. Listening on a fixed port lets a\n"
    "device keep its monitoring socket from one run of the monitor to the next.\n"
    "\n"
    "Output: on a terminal a table redrawn in place every --interval; otherwise the same as\n"
    "plain lines ('device ...', 'group ...'). --jsonl prints one JSON object per line instead:\n"
    "'monitoring' and 'notify' for each packet with every field, 'group' every --interval,\n"
    "'request' for each request sent and 'malformed' for each datagram that is not a monitoring\n"
    "or notify packet (wrong length, size field or type, too short); those are counted, never\n"
    "fatal. Texts from the network are shown with \\\\ for a backslash and \\xHH for bytes that\n"
    "are not printable UTF-8.\n"
    "\n"
    "Schedule start of a device = time of receipt - playTime - elapsedTimeFromMaster. A group's\n"
    "spread is the largest minus the smallest over its devices' latest estimates, taken around\n"
    "the schedule when all of them have the same schedule duration; devices silent for 3 s do\n"
    "not count.\n"
    "\n"
    "Exit status: 0 after --duration, SIGINT or SIGTERM, or once --off is sent; 1 when the\n"
    "network refuses; 2 on a bad argument.";

// Runs `parse`, naming `what` in its error.
template <typename Parse>
auto For(const std::string& what, Parse parse) -> decltype(parse()) {
  try {
    return parse();
  } catch (const tool_io::UsageError& error) {
    throw tool_io::UsageError(what + ": " + error.what());
  }
}

void ParseListen(const std::string& text, MonitorOptions& options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw tool_io::UsageError("'" + text + "' is not ADDR:PORT");
  const std::string address = text.substr(0, colon);
  options.listen_port = tool_io::ParsePort(text.substr(colon + 1), true);
  if (address.empty() || address == "0.0.0.0") {
    options.listen_address.clear();
  } else if (tool_io::IsIpv4Literal(address)) {
    options.listen_address = address;
  } else {
    throw tool_io::UsageError("'" + address + "' is not a dotted IPv4 address");
  }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  MonitorOptions& options = result.options;

  CLI::App app(kDescription, "pacewire-monitor");
  app.footer(kFooter);
  app.get_formatter()->column_width(30);

  std::vector<std::string> device_texts;
  std::string listen_text, duration_text, resend_text, interval_text;
  app.add_option("DEVICE", device_texts, "Devices to watch")->required()->type_name("HOST[:PORT]");
  CLI::Option* listen_option =
      app.add_option("--listen", listen_text, "Where to receive (default :0, see below)")
          ->type_name("ADDR:PORT");
  app.add_flag("--jsonl", options.jsonl, "One JSON object per line instead of the table");
  CLI::Option* duration_option =
      app.add_option("--duration", duration_text, "Stop after this many seconds")
          ->type_name("SECONDS");
  CLI::Option* resend_option =
      app.add_option("--resend", resend_text, "Repeat the requests this often (default 30)")
          ->type_name("SECONDS");
  CLI::Option* interval_option =
      app.add_option("--interval", interval_text, "Show the state this often (default 1)")
          ->type_name("SECONDS");
  app.add_flag("--off", options.off, "Switch monitoring off in each device and exit");

  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
    for (const std::string& text : device_texts) {
      const tool_io::HostAndPort device =
          For("device", [&] { return tool_io::ParseHostAndPort(text, kDefaultDevicePort); });
      if (std::find(options.devices.begin(), options.devices.end(), device) !=
          options.devices.end()) {
        throw tool_io::UsageError("device " + device.host + ":" + std::to_string(device.port) +
                                  " is named twice");
      }
      options.devices.push_back(device);
    }
    if (listen_option->count() > 0) For("--listen", [&] { ParseListen(listen_text, options); });
    if (duration_option->count() > 0) {
      if (options.off) throw tool_io::UsageError("--off sends and exits: --duration has no use");
      options.duration =
          For("--duration", [&] { return tool_io::ParseSeconds(duration_text, 0.001); });
    }
    if (resend_option->count() > 0) {
      options.resend_every =
          For("--resend", [&] { return tool_io::ParseSeconds(resend_text, 0.1); });
    }
    if (interval_option->count() > 0) {
      options.show_every =
          For("--interval", [&] { return tool_io::ParseSeconds(interval_text, 0.05); });
    }
  } catch (const CLI::CallForHelp&) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 0;
    result.text = app.help();
  } catch (const CLI::ParseError& error) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 2;
    result.text = error.what();
  } catch (const tool_io::UsageError& error) {
    result.action = CommandLine::Action::kExit;
    result.exit_status = 2;
    result.text = error.what();
  }
  return result;
}

}  // namespace pacewire_monitor
