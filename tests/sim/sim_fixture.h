// A LAN for tests that drive the pp:: interface by hand, with helpers that run
// code on a device's platform main-thread loop and wait for asynchronous calls.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/pp.h"
#include "platform/sim/sim.h"

namespace sim_test {

// How an asynchronous call ended (see Await).
struct Outcome {
  bool done = false;
  bool completed = false;  // through its completion rather than at once
  int32_t result = 0;
  std::string loop;  // name of the loop the completion ran on
};

inline pp::NetAddress Address(const std::string& text, uint16_t port) {
  return pp::NetAddress::FromHostOrder(*sim::ParseIpv4(text), port);
}

// A receive kept pending on a socket; fills in when its completion runs.
struct Reception {
  std::vector<char> buffer = std::vector<char>(2048, '\0');
  bool done = false;
  int32_t result = 0;
  pp::NetAddress source;
  std::string text() const {
    return result > 0 ? std::string(buffer.data(), static_cast<size_t>(result)) : std::string();
  }
};

class SimTest : public ::testing::Test {
 protected:
  explicit SimTest(sim::LanOptions options = {}) : lan(options) {}

  // A host with a live embedding.
  sim::SimEmbedding& Device(const std::string& address) {
    return lan.AddHost(address).AddEmbedding();
  }

  // Runs `work` on the embedding's main loop now, and returns once it has run.
  void OnMain(sim::SimEmbedding& device, const std::function<void()>& work) {
    bool ran = false;
    device.RunOnMainLoop([&] {
      work();
      ran = true;
    });
    ASSERT_TRUE(lan.RunUntil([&] { return ran; }, sim::kSecond));
  }

  // Starts `operation` on the device's main loop; the outcome fills in as the LAN runs.
  std::shared_ptr<Outcome> Start(
      sim::SimEmbedding& device,
      const std::function<int32_t(const pp::CompletionCallback&)>& operation) {
    auto outcome = std::make_shared<Outcome>();
    OnMain(device, [&] {
      const int32_t returned = operation(pp::CompletionCallback([outcome](int32_t result) {
        outcome->done = outcome->completed = true;
        outcome->result = result;
        outcome->loop = pp::MessageLoop::GetCurrent().name();
      }));
      if (returned != PP_OK_COMPLETIONPENDING) {
        outcome->done = true;
        outcome->result = returned;
      }
    });
    return outcome;
  }

  // Starts `operation` on the device's main loop and runs the LAN until it ends.
  Outcome Await(sim::SimEmbedding& device,
                const std::function<int32_t(const pp::CompletionCallback&)>& operation) {
    auto outcome = Start(device, operation);
    EXPECT_TRUE(lan.RunUntil([&] { return outcome->done; }, sim::kSecond));
    return *outcome;
  }

  // A socket of `device` bound to address:port, with broadcasting as asked.
  pp::UDPSocket BoundSocket(sim::SimEmbedding& device, const std::string& address, uint16_t port,
                            bool broadcast = false) {
    pp::UDPSocket socket(device.handle());
    EXPECT_EQ(
        Await(device, [&](const auto& done) { return socket.Bind(Address(address, port), done); })
            .result,
        PP_OK);
    if (broadcast) {
      EXPECT_EQ(Await(device,
                      [&](const auto& done) {
                        return socket.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(true), done);
                      })
                    .result,
                PP_OK);
    }
    return socket;
  }

  int32_t SendTo(sim::SimEmbedding& device, pp::UDPSocket& socket, const std::string& bytes,
                 const pp::NetAddress& to) {
    return Await(device,
                 [&](const auto& done) {
                   return socket.SendTo(bytes.data(), static_cast<int32_t>(bytes.size()), to, done);
                 })
        .result;
  }

  // Starts a receive on the device's main loop; `reception` must outlive it.
  void StartReceive(sim::SimEmbedding& device, pp::UDPSocket& socket, Reception& reception) {
    OnMain(device, [&] {
      const int32_t returned =
          socket.RecvFrom(reception.buffer.data(), static_cast<int32_t>(reception.buffer.size()),
                          pp::CompletionCallbackWithOutput<pp::NetAddress>(
                              [&reception](int32_t result, const pp::NetAddress& source) {
                                reception.done = true;
                                reception.result = result;
                                reception.source = source;
                              }));
      if (returned != PP_OK_COMPLETIONPENDING) {
        reception.done = true;
        reception.result = returned;
      }
    });
  }

  sim::Lan lan;
};

}  // namespace sim_test
