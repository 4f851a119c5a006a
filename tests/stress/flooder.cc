#include "tests/stress/flooder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "pacewire/packets.h"
#include "tests/netns/namespace_socket.h"

namespace stress {

namespace {

using Clock = std::chrono::steady_clock;

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool IsLoopback(const in_addr& address) {
  return (ntohl(address.s_addr) >> 24) == 127;
}

// A UDP socket made on a thread that enters `netns_name` and ends right after;
// the socket stays in that namespace.
int SocketInNamespace(const std::string& netns_name, std::string* error) {
  const std::string path = netns::NetnsFile(netns_name);
  int fd = -1;
  std::thread maker([&] {
    const std::optional<netns::NetnsId> own = netns::NetnsIdOf("/proc/thread-self/ns/net");
    const std::optional<netns::NetnsId> target = netns::NetnsIdOf(path);
    if (!own || !target) {
      *error = "no network namespace file " + path;
      return;
    }
    if (*own == *target) {
      *error = path + " is the harness's own network namespace";
      return;
    }
    const int ns_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (ns_fd < 0) {
      *error = Errno("open namespace");
      return;
    }
    const int entered = setns(ns_fd, CLONE_NEWNET);
    close(ns_fd);
    if (entered != 0) {
      *error = Errno("setns");
      return;
    }
    if (netns::NetnsIdOf("/proc/thread-self/ns/net") != target) {
      *error = "the thread did not end up in " + path;
      return;
    }
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) *error = Errno("socket");
  });
  maker.join();
  return fd;
}

}  // namespace

std::unique_ptr<Flooder> Flooder::Open(const std::string& netns_name, std::string* error) {
  const bool on_loopback = netns_name.empty();
  const int fd = on_loopback ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)
                             : SocketInNamespace(netns_name, error);
  if (fd < 0) {
    if (on_loopback) *error = Errno("socket");
    return nullptr;
  }
  std::unique_ptr<Flooder> flooder(new Flooder);
  flooder->fd_ = fd;
  flooder->on_loopback_ = on_loopback;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(on_loopback ? INADDR_LOOPBACK : INADDR_ANY);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = Errno("bind");
    return nullptr;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  flooder->port_ = ntohs(address.sin_port);
  return flooder;
}

Flooder::~Flooder() {
  if (fd_ >= 0) close(fd_);
}

bool Flooder::Run(const DatagramPool& pool, const std::vector<FloodTarget>& targets,
                  std::chrono::milliseconds duration, uint64_t max_per_second, FloodStats* stats,
                  std::string* error) {
  *stats = {};
  if (pool.empty() || targets.empty()) {
    *error = "nothing to send or nowhere to send it";
    return false;
  }
  std::vector<sockaddr_in> addresses;
  for (const FloodTarget& target : targets) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(target.port);
    if (inet_pton(AF_INET, target.ipv4.c_str(), &address.sin_addr) != 1) {
      *error = "not an IPv4 address: " + target.ipv4;
      return false;
    }
    if (on_loopback_ && !IsLoopback(address.sin_addr)) {
      *error = "a flooder outside the lab sends to loopback only, not to " + target.ipv4;
      return false;
    }
    addresses.push_back(address);
  }

  mmsghdr messages[kBatch];
  iovec parts[kBatch];
  size_t next_datagram = 0;
  size_t next_target = 0;
  stats->started = Clock::now();
  const Clock::time_point deadline = stats->started + duration;
  uint64_t batches = 0;
  for (Clock::time_point now = stats->started; !stop_.load() && now < deadline;
       now = Clock::now()) {
    std::memset(messages, 0, sizeof messages);
    for (size_t i = 0; i < kBatch; ++i) {
      const std::string& bytes = pool[(next_datagram + i) % pool.size()].bytes;
      parts[i] = {const_cast<char*>(bytes.data()), bytes.size()};
      messages[i].msg_hdr.msg_iov = &parts[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_name = &addresses[(next_target + i) % addresses.size()];
      messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    }
    const int sent = sendmmsg(fd_, messages, kBatch, 0);
    if (sent > 0) {
      for (int i = 0; i < sent; ++i) {
        ++stats->sent[static_cast<size_t>(pool[(next_datagram + i) % pool.size()].kind)];
      }
      stats->total_sent += static_cast<uint64_t>(sent);
      next_datagram = (next_datagram + static_cast<size_t>(sent)) % pool.size();
      next_target = (next_target + static_cast<size_t>(sent)) % addresses.size();
    } else if (errno != EINTR) {
      // Full buffers on the way out, or a refusal that an earlier datagram's
      // ICMP answer left on the socket: skip that datagram and go on.
      ++stats->refused;
      next_datagram = (next_datagram + 1) % pool.size();
      next_target = (next_target + 1) % addresses.size();
      sched_yield();
    }
    if (++batches % 16 == 0) DrainReplies(stats);
    if (max_per_second > 0) {
      const auto due =
          stats->started + std::chrono::microseconds(stats->total_sent * 1000000 / max_per_second);
      if (due > Clock::now()) std::this_thread::sleep_until(std::min(due, deadline));
    }
  }
  stats->ended = Clock::now();
  DrainReplies(stats);
  return true;
}

void Flooder::DrainReplies(FloodStats* stats) {
  char buffer[2048];
  for (;;) {
    const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nothing more waiting (or a stored ICMP error, which recv has now taken)
    }
    ++stats->received;
    int32_t type = 0;
    if (n == pacewire::PacketMonitoring::kSize) {
      std::memcpy(&type, buffer + offsetof(pacewire::Packet, type), sizeof type);
      if (type == pacewire::kPacketTypeMonitoring) ++stats->monitoring_packets_received;
    }
  }
}

}  // namespace stress
