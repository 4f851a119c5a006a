#include "tools/event/event_command_line.h"

#include "tools/event/udp_socket.h"

#include <CLI/CLI.hpp>
#include <algorithm>

namespace cuebell_event {
namespace {

constexpr char kDescription[] =
    "cuebell-event: sends and receives Cuebell event datagrams (plain text, at most 255 bytes,\n"
    "no header).";

constexpr char kFooter[] =
    "Examples:\n"
    "  cuebell-event send 127.0.0.1:55555 doorbell\n"
    "  cuebell-event listen 55555 --count 1\n"
    "\n"
    "Run 'cuebell-event send --help' or 'cuebell-event listen --help' for the details.\n"
    "Exit status: 0 when done, 1 when the network refuses, 2 on a bad argument.";

constexpr char kSendFooter[] =
    "TEXT is sent as its bytes, without a terminating zero. A text longer than 255 bytes is\n"
    "cut to its first 255 bytes, with a warning on stderr, as the module would cut it.\n"
    "Broadcast is allowed on the socket only when HOST is typed as 255.255.255.255 or as the\n"
    "broadcast address of one of this machine's interfaces; any other broadcast is refused by\n"
    "the kernel.";

constexpr char kListenFooter[] =
    "Each datagram is printed as one line, all of its bytes: printable ASCII and printable\n"
    "UTF-8 as they are, a backslash as \\\\, any other byte (control bytes, zero bytes, broken\n"
    "UTF-8) as \\xHH. The module itself reads an event only up to its first zero byte and\n"
    "keeps at most 255 bytes. When the socket is bound, 'cuebell-event: listening on\n"
    "ADDRESS:PORT' goes to stderr (PORT 0 picks a free port). Ends after --count events,\n"
    "after --duration, or on SIGINT/SIGTERM, with exit status 0.";

// Runs `parse`, naming `what` in its error.
template <typename Parse>
auto For(const std::string& what, Parse parse) -> decltype(parse()) {
  try {
    return parse();
  } catch (const tool_io::UsageError& error) {
    throw tool_io::UsageError(what + ": " + error.what());
  }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  CLI::App app(kDescription, "cuebell-event");
  app.footer(kFooter);
  app.require_subcommand(1);

  std::string destination_text, port_text, count_text, duration_text;
  CLI::App* send = app.add_subcommand("send", "Send one event datagram");
  send->footer(kSendFooter);
  send->add_option("HOST:PORT", destination_text, "Where to send it")->required()->type_name("");
  send->add_option("TEXT", result.send.text, "The event text")->required()->type_name("");

  CLI::App* listen = app.add_subcommand("listen", "Print the event datagrams that arrive");
  listen->footer(kListenFooter);
  listen->add_option("PORT", port_text, "UDP port to listen on, 0 for any free one")
      ->required()
      ->type_name("");
  listen
      ->add_option("--bind", result.listen.bind_address,
                   "Local IPv4 address to listen on (default 0.0.0.0)")
      ->type_name("ADDRESS");
  CLI::Option* count_option =
      listen->add_option("--count", count_text, "Stop after N events")->type_name("N");
  CLI::Option* duration_option =
      listen->add_option("--duration", duration_text, "Stop after this many seconds")
          ->type_name("SECONDS");
  listen->add_flag("--source", result.listen.show_source,
                   "Begin each line with the sender's ADDRESS:PORT and a space");

  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
    if (send->parsed()) {
      result.action = CommandLine::Action::kSend;
      result.send.destination =
          For("send", [&] { return tool_io::ParseHostAndPort(destination_text, std::nullopt); });
    } else {
      result.action = CommandLine::Action::kListen;
      result.listen.port = For("listen", [&] { return tool_io::ParsePort(port_text, true); });
      if (!tool_io::IsIpv4Literal(result.listen.bind_address)) {
        throw tool_io::UsageError("--bind: '" + result.listen.bind_address +
                                  "' is not a dotted IPv4 address");
      }
      if (count_option->count() > 0) {
        result.listen.count =
            For("--count", [&] { return tool_io::ParseCount(count_text, 1'000'000'000); });
      }
      if (duration_option->count() > 0) {
        result.listen.duration =
            For("--duration", [&] { return tool_io::ParseSeconds(duration_text, 0.001); });
      }
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

std::string_view EventBytes(std::string_view text) {
  return text.substr(0, std::min(text.size(), kMaxEventBytes));
}

}  // namespace cuebell_event
