// Running the tools as processes in tests: their output lines, the port a
// listener reports, and a plain loopback socket that plays a device.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/netns/child_process.h"
#include "tests/netns/timed_record.h"
#include "tools/event/udp_socket.h"

namespace tools_test {

// How long a test waits for a tool it started before it gives up on it.
constexpr std::chrono::milliseconds kProgramTimeout{20000};

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

inline std::vector<std::string> OutputLines(const netns::ChildProcess& process) {
  std::vector<std::string> lines;
  for (const auto& entry : process.output().Snapshot()) lines.push_back(entry.value);
  return lines;
}

// The port of "...: listening on ADDRESS:PORT" on the process's stderr,
// waiting up to `timeout` for it.
inline std::optional<uint16_t> ListeningPort(const netns::ChildProcess& process,
                                             std::chrono::milliseconds timeout) {
  std::optional<uint16_t> port;
  netns::PollUntil(
      [&] {
        const std::string error = process.ErrorOutput();
        const size_t at = error.find("listening on ");
        const size_t end = error.find('\n', at);
        if (at == std::string::npos || end == std::string::npos) return false;
        const std::string endpoint = error.substr(at, end - at);
        port = static_cast<uint16_t>(std::stoi(endpoint.substr(endpoint.rfind(':') + 1)));
        return true;
      },
      timeout);
  return port;
}

// A UDP socket on 127.0.0.1 that stands in for a device.
class LoopbackPeer {
 public:
  static std::unique_ptr<LoopbackPeer> Open(std::string* error) {
    auto socket = tool_io::UdpSocket::Open({"127.0.0.1", 0}, error);
    if (!socket) return nullptr;
    return std::unique_ptr<LoopbackPeer>(new LoopbackPeer(std::move(socket)));
  }

  uint16_t port() const { return socket_->local().port; }
  std::string endpoint() const { return socket_->local().ToString(); }

  std::optional<tool_io::ReceivedDatagram> WaitForDatagram(std::chrono::milliseconds timeout) {
    std::string error;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (auto datagram = socket_->Receive(&error)) return datagram;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd watched{socket_->fd(), POLLIN, 0};
      poll(&watched, 1, static_cast<int>(left.count()));
    }
  }

  bool SendTo(const tool_io::UdpEndpoint& to, const std::string& bytes) {
    std::string error;
    return socket_->SendTo(to, bytes, &error);
  }

 private:
  explicit LoopbackPeer(std::unique_ptr<tool_io::UdpSocket> socket) : socket_(std::move(socket)) {}
  std::unique_ptr<tool_io::UdpSocket> socket_;
};

}  // namespace tools_test
