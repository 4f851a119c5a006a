// pacewire-monitor: switches monitoring mode on in Pacewire devices and shows
// what they report; see --help.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/event/stop_signals.h"
#include "tools/event/udp_socket.h"
#include "tools/monitor/json_lines.h"
#include "tools/monitor/monitor_command_line.h"
#include "tools/monitor/monitor_state.h"
#include "tools/monitor/monitoring_request.h"
#include "tools/monitor/table_view.h"

namespace pacewire_monitor {
namespace {

using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// A burst larger than this is read over several turns of the loop, so the
// display and the requests keep their pace.
constexpr int kMaxDatagramsPerTurn = 1000;

int64_t WallMs() {
  return std::chrono::duration_cast<milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t SteadyMs(SteadyClock::time_point at) {
  return std::chrono::duration_cast<milliseconds>(at.time_since_epoch()).count();
}

void Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void WriteJson(const nlohmann::json& object) {
  Write(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

class Monitor {
 public:
  enum class Output { kTable, kLines, kJsonLines };

  Monitor(const MonitorOptions& options, std::vector<WatchedDevice> devices,
          std::unique_ptr<tool_io::UdpSocket> socket, Output output)
      : options_(options),
        devices_(std::move(devices)),
        socket_(std::move(socket)),
        output_(output),
        state_(devices_),
        started_(SteadyClock::now()) {}

  // Sends every device its request; false when any could not be sent.
  bool SendRequests(bool on) {
    bool all_sent = true;
    for (size_t i = 0; i < devices_.size(); ++i) {
      const WatchedDevice& device = devices_[i];
      SentRequest request{
          device.name(), device.address, options_.listen_address, socket_->local().port, on, ""};
      if (request.monitoring_address.empty()) {
        if (auto local =
                tool_io::LocalAddressTowards({device.address, device.port}, &request.error)) {
          request.monitoring_address = *local;
        }
      }
      if (request.error.empty()) {
        socket_->SendTo(
            {device.address, device.port},
            SetMonitoringModeDatagram(request.monitoring_address, request.monitoring_port, on),
            &request.error);
      }
      state_.SetRequestError(i, request.error);
      if (output_ == Output::kJsonLines) WriteJson(RequestJson(request, WallMs()));
      if (!request.error.empty()) {
        all_sent = false;
        if (output_ != Output::kTable) {
          std::fprintf(stderr, "pacewire-monitor: %s: %s\n", device.name().c_str(),
                       request.error.c_str());
        }
      }
    }
    return all_sent;
  }

  // Runs until the duration is over or a stop signal arrives; the exit status.
  int Run(const tool_io::StopSignals& signals) {
    SendRequests(true);
    SteadyClock::time_point next_request = started_ + options_.resend_every;
    SteadyClock::time_point next_show = started_;
    const SteadyClock::time_point end =
        options_.duration ? started_ + *options_.duration : SteadyClock::time_point::max();
    for (;;) {
      const SteadyClock::time_point now = SteadyClock::now();
      if (now >= end) break;
      if (now >= next_request) {
        SendRequests(true);
        next_request = std::max(next_request + options_.resend_every, now);
      }
      if (now >= next_show) {
        Show(now);
        next_show = std::max(next_show + options_.show_every, now);
      }
      const SteadyClock::time_point wake = std::min({next_request, next_show, end});
      const auto wait = std::chrono::ceil<milliseconds>(wake - SteadyClock::now());
      switch (tool_io::WaitForInput(socket_->fd(), signals, std::max(wait, milliseconds(0)))) {
        case tool_io::WaitOutcome::kStopRequested:
          Show(SteadyClock::now());
          return 0;
        case tool_io::WaitOutcome::kFailed:
          std::fprintf(stderr, "pacewire-monitor: waiting for datagrams failed\n");
          return 1;
        case tool_io::WaitOutcome::kReadable:
          ReadWaitingDatagrams();
          break;
        case tool_io::WaitOutcome::kTimedOut:
          break;
      }
    }
    Show(SteadyClock::now());
    return 0;
  }

 private:
  void ReadWaitingDatagrams() {
    for (int i = 0; i < kMaxDatagramsPerTurn; ++i) {
      std::string error;
      const auto datagram = socket_->Receive(&error);
      if (!datagram) {
        // An error here is one reported back by the network (a port that was
        // unreachable, say); it is not the monitor's end.
        if (!error.empty()) std::fprintf(stderr, "pacewire-monitor: %s\n", error.c_str());
        return;
      }
      const TakenDatagram taken = state_.Take(datagram->bytes, datagram->length, datagram->from,
                                              ReceiptTime{WallMs(), SteadyMs(SteadyClock::now())});
      if (output_ == Output::kJsonLines) WriteJson(PacketJson(taken, state_));
    }
  }

  void Show(SteadyClock::time_point now) {
    const ViewMoment moment{SteadyMs(now),
                            std::chrono::duration_cast<milliseconds>(now - started_).count(),
                            socket_->local().ToString()};
    switch (output_) {
      case Output::kTable:
        Write(kRedrawInPlace + FormatTable(state_, moment));
        break;
      case Output::kLines:
        Write(FormatLines(state_, moment));
        break;
      case Output::kJsonLines:
        for (const GroupSpread& group : state_.Groups(moment.steady_ms)) {
          WriteJson(GroupJson(group, state_, WallMs()));
        }
        break;
    }
  }

  const MonitorOptions& options_;
  const std::vector<WatchedDevice> devices_;
  const std::unique_ptr<tool_io::UdpSocket> socket_;
  const Output output_;
  MonitorState state_;
  const SteadyClock::time_point started_;
};

int Main(const MonitorOptions& options) {
  std::string error;
  const auto signals = tool_io::StopSignals::Install(&error);
  if (!signals) {
    std::fprintf(stderr, "pacewire-monitor: %s\n", error.c_str());
    return 1;
  }
  std::vector<WatchedDevice> devices;
  for (const tool_io::HostAndPort& named : options.devices) {
    const auto address = tool_io::ResolveIpv4(named.host, &error);
    if (!address) {
      std::fprintf(stderr, "pacewire-monitor: %s\n", error.c_str());
      return 1;
    }
    devices.push_back({named.host, named.port, *address});
  }
  const tool_io::UdpEndpoint listen{
      options.listen_address.empty() ? "0.0.0.0" : options.listen_address, options.listen_port};
  auto socket = tool_io::UdpSocket::Open(listen, &error);
  if (!socket) {
    std::fprintf(stderr, "pacewire-monitor: %s\n", error.c_str());
    return 1;
  }
  const Monitor::Output output = options.jsonl                 ? Monitor::Output::kJsonLines
                                 : isatty(fileno(stdout)) != 0 ? Monitor::Output::kTable
                                                               : Monitor::Output::kLines;
  Monitor monitor(options, std::move(devices), std::move(socket), output);
  if (options.off) return monitor.SendRequests(false) ? 0 : 1;
  return monitor.Run(*signals);
}

}  // namespace
}  // namespace pacewire_monitor

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const pacewire_monitor::CommandLine command_line = pacewire_monitor::ParseCommandLine(arguments);
  if (command_line.action == pacewire_monitor::CommandLine::Action::kExit) {
    if (command_line.exit_status == 0) {
      std::fputs(command_line.text.c_str(), stdout);
      return 0;
    }
    std::string message = command_line.text;
    for (char& c : message) {
      if (c == '\n') c = ' ';
    }
    std::fprintf(stderr, "pacewire-monitor: %s (see --help)\n", message.c_str());
    return command_line.exit_status;
  }
  return pacewire_monitor::Main(command_line.options);
}
