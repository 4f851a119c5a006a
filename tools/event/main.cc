// cuebell-event: sends one event datagram, or prints the ones that arrive; see --help.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/event/event_command_line.h"
#include "tools/event/printable_text.h"
#include "tools/event/stop_signals.h"
#include "tools/event/udp_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

int Fail(const std::string& message) {
  std::fprintf(stderr, "cuebell-event: %s\n", message.c_str());
  return 1;
}

int Send(const cuebell_event::SendOptions& options) {
  const std::string_view bytes = cuebell_event::EventBytes(options.text);
  if (bytes.size() < options.text.size()) {
    std::fprintf(stderr,
                 "cuebell-event: warning: the text is %zu bytes; sending its first %zu (an event "
                 "carries at most %zu)\n",
                 options.text.size(), bytes.size(), cuebell_event::kMaxEventBytes);
  }
  std::string error;
  const auto address = tool_io::ResolveIpv4(options.destination.host, &error);
  if (!address) return Fail(error);
  const auto socket = tool_io::UdpSocket::Open({"0.0.0.0", 0}, &error);
  if (!socket) return Fail(error);
  // Only an address typed as a broadcast address gets broadcast; a name never does.
  if (tool_io::IsIpv4Literal(options.destination.host) && tool_io::IsBroadcastAddress(*address) &&
      !socket->AllowBroadcast(&error)) {
    return Fail(error);
  }
  if (!socket->SendTo({*address, options.destination.port}, bytes, &error)) return Fail(error);
  return 0;
}

int Listen(const cuebell_event::ListenOptions& options) {
  std::string error;
  const auto signals = tool_io::StopSignals::Install(&error);
  if (!signals) return Fail(error);
  const auto socket = tool_io::UdpSocket::Open({options.bind_address, options.port}, &error);
  if (!socket) return Fail(error);
  std::fprintf(stderr, "cuebell-event: listening on %s\n", socket->local().ToString().c_str());
  std::fflush(stderr);

  const std::optional<Clock::time_point> deadline =
      options.duration ? std::optional(Clock::now() + *options.duration) : std::nullopt;
  uint64_t printed = 0;
  while (!options.count || printed < *options.count) {
    std::chrono::milliseconds wait{60000};
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left.count() <= 0) break;
      wait = std::min(wait, left);
    }
    const tool_io::WaitOutcome outcome = tool_io::WaitForInput(socket->fd(), *signals, wait);
    if (outcome == tool_io::WaitOutcome::kStopRequested) break;
    if (outcome == tool_io::WaitOutcome::kFailed) return Fail("waiting for datagrams failed");
    if (outcome != tool_io::WaitOutcome::kReadable) continue;
    while (!options.count || printed < *options.count) {
      const auto datagram = socket->Receive(&error);
      if (!datagram) {
        if (!error.empty()) return Fail(error);
        break;
      }
      std::string line;
      if (options.show_source) line = datagram->from.ToString() + " ";
      line += tool_io::EscapeForLine(datagram->bytes);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fflush(stdout);
      ++printed;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const cuebell_event::CommandLine command_line = cuebell_event::ParseCommandLine(arguments);
  switch (command_line.action) {
    case cuebell_event::CommandLine::Action::kSend:
      return Send(command_line.send);
    case cuebell_event::CommandLine::Action::kListen:
      return Listen(command_line.listen);
    case cuebell_event::CommandLine::Action::kExit:
      break;
  }
  if (command_line.exit_status == 0) {
    std::fputs(command_line.text.c_str(), stdout);
    return 0;
  }
  std::string message = command_line.text;
  for (char& c : message) {
    if (c == '\n') c = ' ';
  }
  std::fprintf(stderr, "cuebell-event: %s (see --help)\n", message.c_str());
  return command_line.exit_status;
}
