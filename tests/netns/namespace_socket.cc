#include "tests/netns/namespace_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace netns {

namespace {

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::optional<NetnsId> NetnsIdOf(const std::string& namespace_file) {
  struct stat info {};
  if (stat(namespace_file.c_str(), &info) != 0) return std::nullopt;
  return NetnsId{info.st_dev, info.st_ino};
}

std::string NetnsFile(const std::string& name) {
  return "/run/netns/" + name;
}

std::unique_ptr<NamespaceUdpSocket> NamespaceUdpSocket::Open(const std::string& netns_name,
                                                             uint16_t port, std::string* error) {
  const std::string path = NetnsFile(netns_name);
  int fd = -1;
  std::string failure;
  // Only this thread changes namespace; it ends right after, and the socket it
  // made stays where it was made.
  std::thread maker([&] {
    const std::optional<NetnsId> own = NetnsIdOf("/proc/thread-self/ns/net");
    const std::optional<NetnsId> target = NetnsIdOf(path);
    if (!own || !target) {
      failure = "no network namespace file " + path;
      return;
    }
    if (*own == *target) {
      failure = path + " is the harness's own network namespace";
      return;
    }
    const int ns_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (ns_fd < 0) {
      failure = Errno("open namespace");
      return;
    }
    const int entered = setns(ns_fd, CLONE_NEWNET);
    close(ns_fd);
    if (entered != 0) {
      failure = Errno("setns");
      return;
    }
    if (NetnsIdOf("/proc/thread-self/ns/net") != target) {
      failure = "the thread did not end up in " + path;
      return;
    }
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) failure = Errno("socket");
  });
  maker.join();
  if (fd < 0) {
    *error = failure;
    return nullptr;
  }

  std::unique_ptr<NamespaceUdpSocket> socket_in_ns(new NamespaceUdpSocket);
  socket_in_ns->fd_ = fd;
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = Errno("bind");
    return nullptr;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  socket_in_ns->port_ = ntohs(address.sin_port);
  if (pipe2(socket_in_ns->wake_, O_CLOEXEC) != 0) {
    *error = Errno("pipe");
    return nullptr;
  }
  return socket_in_ns;
}

NamespaceUdpSocket::~NamespaceUdpSocket() {
  if (recorder_.joinable()) {
    const char byte = 0;
    [[maybe_unused]] ssize_t ignored = write(wake_[1], &byte, 1);
    recorder_.join();
  }
  for (int fd : {fd_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

bool NamespaceUdpSocket::SendTo(const std::string& ipv4, uint16_t port, std::string_view bytes,
                                std::string* error) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  if (inet_pton(AF_INET, ipv4.c_str(), &destination.sin_addr) != 1) {
    if (error != nullptr) *error = "not an IPv4 address: " + ipv4;
    return false;
  }
  const ssize_t sent = sendto(fd_, bytes.data(), bytes.size(), 0,
                              reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  if (sent != static_cast<ssize_t>(bytes.size())) {
    if (error != nullptr) *error = Errno("sendto");
    return false;
  }
  return true;
}

void NamespaceUdpSocket::StartRecording() {
  if (!recorder_.joinable()) recorder_ = std::thread([this] { Record(); });
}

void NamespaceUdpSocket::Record() {
  std::string buffer(65536, '\0');
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    if (fds[0].revents == 0) continue;
    sockaddr_in source{};
    socklen_t length = sizeof source;
    const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&source), &length);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &source.sin_addr, text, sizeof text);
    received_.Add({buffer.substr(0, static_cast<size_t>(n)), text, ntohs(source.sin_port)});
  }
  received_.Close();
}

}  // namespace netns
