// Another machine on the simulated LAN that talks to the devices with bare
// platform sockets, as a neighbour on a real network would: it sends datagrams
// and keeps every datagram that arrives on the ports it listens on.
//
// Declare it after the ModuleWorld whose LAN it lives on, so that it goes
// first: its destructor removes its embedding, which closes its sockets and
// drops every completion still queued for them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/pp.h"
#include "platform/sim/sim.h"

namespace scenario {

class UdpPeer {
 public:
  UdpPeer(sim::Lan& lan, const std::string& address)
      : lan_(lan), embedding_(lan.AddHost(address).AddEmbedding()) {}
  ~UdpPeer() { embedding_.host()->RemoveEmbedding(); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  // Binds a socket to 0.0.0.0:port and keeps receiving on it. Runs the LAN
  // only until the bind has completed, which takes no virtual time.
  void Listen(uint16_t port) {
    auto listener = std::make_unique<Listener>(embedding_.handle());
    Listener* raw = listener.get();
    listeners_[port] = std::move(listener);
    bool bound = false;
    embedding_.RunOnMainLoop([&, raw] {
      raw->socket.Bind(pp::NetAddress::FromHostOrder(sim::kAnyAddress, port),
                       pp::CompletionCallback([&, raw](int32_t result) {
                         bound = true;
                         EXPECT_EQ(result, PP_OK) << "the peer could not bind port " << port;
                         if (result == PP_OK) raw->ReceiveNext();
                       }));
    });
    ASSERT_TRUE(lan_.RunUntil([&] { return bound; }, sim::kSecond));
  }

  // The datagrams that arrived on `port` so far, in order.
  const std::vector<std::string>& ReceivedOn(uint16_t port) const {
    static const std::vector<std::string> kNothing;
    const auto it = listeners_.find(port);
    return it == listeners_.end() ? kNothing : it->second->received;
  }

  // Sends `bytes` as one datagram to address:port from a fresh socket on a
  // port of the platform's choosing. Runs the LAN until the datagram is on
  // the wire, which takes no virtual time; its delivery takes a little.
  void SendTo(const std::string& address, uint16_t port, const std::string& bytes) {
    senders_.push_back(std::make_unique<pp::UDPSocket>(embedding_.handle()));
    pp::UDPSocket* socket = senders_.back().get();
    const pp::NetAddress destination =
        pp::NetAddress::FromHostOrder(*sim::ParseIpv4(address), port);
    bool sent = false;
    embedding_.RunOnMainLoop([&, socket] {
      socket->Bind(pp::NetAddress::FromHostOrder(sim::kAnyAddress, 0),
                   pp::CompletionCallback([&, socket](int32_t bind_result) {
                     ASSERT_EQ(bind_result, PP_OK);
                     socket->SendTo(bytes.data(), static_cast<int32_t>(bytes.size()), destination,
                                    pp::CompletionCallback([&](int32_t send_result) {
                                      sent = true;
                                      EXPECT_EQ(send_result, static_cast<int32_t>(bytes.size()));
                                    }));
                   }));
    });
    ASSERT_TRUE(lan_.RunUntil([&] { return sent; }, sim::kSecond));
  }

 private:
  struct Listener {
    explicit Listener(const pp::InstanceHandle& instance) : socket(instance) {}

    void ReceiveNext() {
      socket.RecvFrom(buffer.data(), static_cast<int32_t>(buffer.size()),
                      pp::CompletionCallbackWithOutput<pp::NetAddress>(
                          [this](int32_t result, const pp::NetAddress&) {
                            if (result < 0) return;
                            received.emplace_back(buffer.data(), static_cast<size_t>(result));
                            ReceiveNext();
                          }));
    }

    pp::UDPSocket socket;
    // Room for the largest datagram there is.
    std::vector<char> buffer = std::vector<char>(65536);
    std::vector<std::string> received;
  };

  sim::Lan& lan_;
  sim::SimEmbedding& embedding_;
  std::map<uint16_t, std::unique_ptr<Listener>> listeners_;
  std::vector<std::unique_ptr<pp::UDPSocket>> senders_;
};

}  // namespace scenario
