// cuebell-event's command line: send one event, or listen for events.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/event/argument_values.h"

namespace cuebell_event {

// An event datagram carries at most this many bytes of text.
constexpr size_t kMaxEventBytes = 255;

struct SendOptions {
  tool_io::HostAndPort destination;
  std::string text;  // as given; cut to kMaxEventBytes when sent
};

struct ListenOptions {
  std::string bind_address = "0.0.0.0";
  uint16_t port = 0;  // 0: any free port (the one chosen is reported on stderr)
  std::optional<uint64_t> count;
  std::optional<std::chrono::milliseconds> duration;
  bool show_source = false;
};

struct CommandLine {
  enum class Action { kSend, kListen, kExit };
  Action action = Action::kExit;
  // For kExit: 0 after --help (the help is in `text`), 2 after a bad argument
  // (`text` is the one-line error).
  int exit_status = 0;
  std::string text;
  SendOptions send;
  ListenOptions listen;
};

// `arguments` without the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The bytes an event datagram carries for `text`: its first kMaxEventBytes
// bytes, like the module cuts it (the cut may fall inside a UTF-8 character).
std::string_view EventBytes(std::string_view text);

}  // namespace cuebell_event
