// Plain IPv4 UDP sockets for the command-line tools, and the address questions
// they ask before sending.
//
// A socket never has broadcast allowed unless its owner asks for it with
// AllowBroadcast; without it the kernel refuses to send to a broadcast address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tool_io {

struct UdpEndpoint {
  std::string address;  // dotted IPv4
  uint16_t port = 0;

  std::string ToString() const { return address + ":" + std::to_string(port); }
  bool operator==(const UdpEndpoint&) const = default;
};

// True when `text` is a dotted IPv4 address (four decimal numbers).
bool IsIpv4Literal(const std::string& text);

// The dotted IPv4 address of `host` (an address or a name). Nothing, with
// `error` set, when it has none.
std::optional<std::string> ResolveIpv4(const std::string& host, std::string* error);

// True when `dotted` is 255.255.255.255 or the broadcast address of one of this
// machine's interfaces (in the current network namespace).
bool IsBroadcastAddress(const std::string& dotted);

// The local address that the kernel would send from to reach `destination`.
// Asks the routing table only: nothing is sent.
std::optional<std::string> LocalAddressTowards(const UdpEndpoint& destination, std::string* error);

struct ReceivedDatagram {
  std::string bytes;  // at most the receive buffer's worth
  size_t length = 0;  // the datagram's real length, also when it was longer than `bytes`
  UdpEndpoint from;
};

class UdpSocket {
 public:
  // A non-blocking socket bound to `local` (address 0.0.0.0 for every address,
  // port 0 for any free one). Nothing, with `error` set, on failure.
  static std::unique_ptr<UdpSocket> Open(const UdpEndpoint& local, std::string* error);
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  int fd() const { return fd_; }
  // Where the socket is bound, with the port the kernel picked.
  const UdpEndpoint& local() const { return local_; }

  bool AllowBroadcast(std::string* error);
  // Sends `bytes` as one datagram; false with `error` set when the kernel refuses.
  bool SendTo(const UdpEndpoint& destination, std::string_view bytes, std::string* error);
  // The next waiting datagram; nothing when none is waiting (or on an error,
  // then with `error` set).
  std::optional<ReceivedDatagram> Receive(std::string* error);

 private:
  UdpSocket() = default;

  int fd_ = -1;
  UdpEndpoint local_;
};

}  // namespace tool_io
