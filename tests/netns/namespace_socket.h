// A plain UDP socket that lives inside one of the lab's network namespaces, for
// the harness's own senders and observers. It is made on a short-lived thread
// that enters the namespace; a socket stays in the namespace it was made in, so
// everything it sends stays there too.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "tests/netns/timed_record.h"

namespace netns {

// Which network namespace a namespace file (/run/netns/NAME,
// /proc/self/ns/net) stands for.
struct NetnsId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const NetnsId&) const = default;
};
std::optional<NetnsId> NetnsIdOf(const std::string& namespace_file);
// The file that `ip netns add NAME` makes for a namespace.
std::string NetnsFile(const std::string& name);

struct Datagram {
  std::string bytes;
  std::string source_address;  // dotted IPv4
  uint16_t source_port = 0;
};

class NamespaceUdpSocket {
 public:
  // A socket in namespace `netns_name` (made with `ip netns add`), bound to
  // `port` on all of its addresses (0 picks a free port). Refuses the harness's
  // own namespace. Nothing, with `error` set, on failure.
  static std::unique_ptr<NamespaceUdpSocket> Open(const std::string& netns_name, uint16_t port,
                                                  std::string* error);
  ~NamespaceUdpSocket();
  NamespaceUdpSocket(const NamespaceUdpSocket&) = delete;
  NamespaceUdpSocket& operator=(const NamespaceUdpSocket&) = delete;

  uint16_t port() const { return port_; }

  // Sends `bytes` as one datagram to ipv4:port; false with `error` set when the
  // kernel refuses it.
  bool SendTo(const std::string& ipv4, uint16_t port, std::string_view bytes,
              std::string* error = nullptr);

  // Records, from now on, every datagram that arrives (on a thread of its own).
  void StartRecording();
  const TimedRecord<Datagram>& received() const { return received_; }

 private:
  NamespaceUdpSocket() = default;
  void Record();

  int fd_ = -1;
  uint16_t port_ = 0;
  int wake_[2] = {-1, -1};
  TimedRecord<Datagram> received_;
  std::thread recorder_;
};

}  // namespace netns
