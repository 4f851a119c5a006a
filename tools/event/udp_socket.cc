#include "tools/event/udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tool_io {
namespace {

// Big enough for any UDP datagram over IPv4.
constexpr size_t kReceiveBufferBytes = 65536;

std::string ErrnoText(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool ToSockaddr(const UdpEndpoint& endpoint, sockaddr_in* address) {
  std::memset(address, 0, sizeof *address);
  address->sin_family = AF_INET;
  address->sin_port = htons(endpoint.port);
  return inet_pton(AF_INET, endpoint.address.c_str(), &address->sin_addr) == 1;
}

UdpEndpoint FromSockaddr(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return UdpEndpoint{text, ntohs(address.sin_port)};
}

}  // namespace

bool IsIpv4Literal(const std::string& text) {
  in_addr parsed{};
  return inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

std::optional<std::string> ResolveIpv4(const std::string& host, std::string* error) {
  if (IsIpv4Literal(host)) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr) {
    *error = "cannot resolve " + host + ": " + gai_strerror(status);
    return std::nullopt;
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  freeaddrinfo(found);
  return FromSockaddr(address).address;
}

bool IsBroadcastAddress(const std::string& dotted) {
  in_addr wanted{};
  if (inet_pton(AF_INET, dotted.c_str(), &wanted) != 1) return false;
  if (wanted.s_addr == htonl(INADDR_BROADCAST)) return true;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool found = false;
  for (const ifaddrs* entry = interfaces; entry != nullptr && !found; entry = entry->ifa_next) {
    if ((entry->ifa_flags & IFF_BROADCAST) == 0 || entry->ifa_broadaddr == nullptr ||
        entry->ifa_broadaddr->sa_family != AF_INET) {
      continue;
    }
    sockaddr_in broadcast{};
    std::memcpy(&broadcast, entry->ifa_broadaddr, sizeof broadcast);
    found = broadcast.sin_addr.s_addr == wanted.s_addr;
  }
  freeifaddrs(interfaces);
  return found;
}

std::optional<std::string> LocalAddressTowards(const UdpEndpoint& destination, std::string* error) {
  sockaddr_in remote{};
  if (!ToSockaddr(destination, &remote)) {
    *error = destination.address + " is not an IPv4 address";
    return std::nullopt;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = ErrnoText("socket");
    return std::nullopt;
  }
  // Connecting a UDP socket only picks a route and a source address.
  std::optional<std::string> local;
  sockaddr_in chosen{};
  socklen_t length = sizeof chosen;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
    *error = ErrnoText("no route to " + destination.address);
  } else if (getsockname(fd, reinterpret_cast<sockaddr*>(&chosen), &length) != 0) {
    *error = ErrnoText("getsockname");
  } else {
    local = FromSockaddr(chosen).address;
  }
  close(fd);
  return local;
}

std::unique_ptr<UdpSocket> UdpSocket::Open(const UdpEndpoint& local, std::string* error) {
  sockaddr_in address{};
  if (!ToSockaddr(local, &address)) {
    *error = local.address + " is not an IPv4 address";
    return nullptr;
  }
  std::unique_ptr<UdpSocket> udp(new UdpSocket);
  udp->fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (udp->fd_ < 0) {
    *error = ErrnoText("socket");
    return nullptr;
  }
  if (bind(udp->fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = ErrnoText("cannot listen on " + local.ToString());
    return nullptr;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (getsockname(udp->fd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    *error = ErrnoText("getsockname");
    return nullptr;
  }
  udp->local_ = FromSockaddr(bound);
  return udp;
}

UdpSocket::~UdpSocket() {
  if (fd_ >= 0) close(fd_);
}

bool UdpSocket::AllowBroadcast(std::string* error) {
  const int on = 1;
  if (setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    *error = ErrnoText("cannot allow broadcast");
    return false;
  }
  return true;
}

bool UdpSocket::SendTo(const UdpEndpoint& destination, std::string_view bytes, std::string* error) {
  sockaddr_in remote{};
  if (!ToSockaddr(destination, &remote)) {
    *error = destination.address + " is not an IPv4 address";
    return false;
  }
  const ssize_t sent = sendto(fd_, bytes.data(), bytes.size(), 0,
                              reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
  if (sent < 0) {
    *error = ErrnoText("cannot send to " + destination.ToString());
    return false;
  }
  if (static_cast<size_t>(sent) != bytes.size()) {
    *error = "cannot send to " + destination.ToString() + ": datagram cut short";
    return false;
  }
  return true;
}

std::optional<ReceivedDatagram> UdpSocket::Receive(std::string* error) {
  ReceivedDatagram datagram;
  datagram.bytes.resize(kReceiveBufferBytes);
  sockaddr_in remote{};
  socklen_t remote_length = sizeof remote;
  // MSG_TRUNC: the result is the datagram's real length even when it is longer
  // than the buffer.
  const ssize_t received = recvfrom(fd_, datagram.bytes.data(), datagram.bytes.size(), MSG_TRUNC,
                                    reinterpret_cast<sockaddr*>(&remote), &remote_length);
  if (received < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) *error = ErrnoText("receive");
    return std::nullopt;
  }
  datagram.length = static_cast<size_t>(received);
  datagram.bytes.resize(std::min(datagram.length, kReceiveBufferBytes));
  datagram.from = FromSockaddr(remote);
  return datagram;
}

}  // namespace tool_io
