// How datagrams travel on the simulated LAN: who receives a broadcast, which
// sends the kernel would refuse, and what each network fault does.
#include <gtest/gtest.h>

#include "tests/sim/sim_fixture.h"

namespace sim_test {
namespace {

using sim::DropReason;
using sim::TraceKind;

constexpr uint16_t kPort = 5000;

std::vector<sim::TraceEvent> Drops(const sim::Lan& lan, DropReason reason) {
  std::vector<sim::TraceEvent> out;
  for (const auto& event : const_cast<sim::Lan&>(lan).trace().EventsOfKind(TraceKind::kDrop)) {
    if (event.reason == reason) out.push_back(event);
  }
  return out;
}

class NetworkTest : public SimTest {};

// ---- broadcast ------------------------------------------------------------------

class BroadcastTest : public NetworkTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BroadcastTest, ReachesEveryHostOfTheSendersSubnetTheSenderIncluded) {
  sim::SimEmbedding& sender = Device("10.0.0.1");
  sim::SimEmbedding& neighbour = Device("10.0.0.2");
  sim::SimEmbedding& other_subnet = Device("10.0.1.3");
  pp::UDPSocket sender_socket = BoundSocket(sender, "0.0.0.0", kPort, /*broadcast=*/true);
  pp::UDPSocket neighbour_socket = BoundSocket(neighbour, "0.0.0.0", kPort);
  pp::UDPSocket far_socket = BoundSocket(other_subnet, "0.0.0.0", kPort);
  Reception at_sender, at_neighbour, at_far;
  StartReceive(sender, sender_socket, at_sender);
  StartReceive(neighbour, neighbour_socket, at_neighbour);
  StartReceive(other_subnet, far_socket, at_far);

  EXPECT_EQ(SendTo(sender, sender_socket, "hello", Address(GetParam(), kPort)), 5);
  lan.RunFor(10 * sim::kMillisecond);

  EXPECT_EQ(at_sender.text(), "hello");
  EXPECT_EQ(at_neighbour.text(), "hello");
  EXPECT_EQ(at_neighbour.source, Address("10.0.0.1", kPort));
  EXPECT_FALSE(at_far.done) << "a broadcast stays on its /24";
}

INSTANTIATE_TEST_SUITE_P(Destinations, BroadcastTest,
                         ::testing::Values("255.255.255.255", "10.0.0.255"));

TEST_F(NetworkTest, BroadcastWithoutTheBroadcastOptionIsRefusedLikeTheKernelDoes) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  Device("10.0.0.2");
  pp::UDPSocket socket = BoundSocket(device, "0.0.0.0", kPort, /*broadcast=*/false);
  EXPECT_EQ(SendTo(device, socket, "x", Address("255.255.255.255", kPort)), PP_ERROR_NOACCESS);
  EXPECT_EQ(SendTo(device, socket, "x", Address("10.0.0.255", kPort)), PP_ERROR_NOACCESS);
  EXPECT_EQ(SendTo(device, socket, "x", Address("10.0.0.2", kPort)), 1)
      << "unicast needs no option";
  EXPECT_EQ(lan.trace().EventsOfKind(TraceKind::kSend).size(), 1u);
}

TEST_F(NetworkTest, SocketBoundToItsHostAddressTakesUnicastButNotBroadcasts) {
  sim::SimEmbedding& sender = Device("10.0.0.1");
  sim::SimEmbedding& receiver = Device("10.0.0.2");
  pp::UDPSocket out = BoundSocket(sender, "0.0.0.0", 0, /*broadcast=*/true);
  pp::UDPSocket in = BoundSocket(receiver, "10.0.0.2", kPort);
  Reception reception;
  StartReceive(receiver, in, reception);

  SendTo(sender, out, "to all", Address("10.0.0.255", kPort));
  lan.RunFor(sim::kMillisecond);
  EXPECT_FALSE(reception.done);
  bool dropped_at_receiver = false;
  for (const auto& drop : Drops(lan, DropReason::kNoListener)) {
    dropped_at_receiver |= drop.to_address == *sim::ParseIpv4("10.0.0.2");
  }
  EXPECT_TRUE(dropped_at_receiver);

  SendTo(sender, out, "to you", Address("10.0.0.2", kPort));
  lan.RunFor(sim::kMillisecond);
  EXPECT_EQ(reception.text(), "to you");
}

// ---- unicast and routes ------------------------------------------------------------

TEST_F(NetworkTest, DatagramsNobodyCanTakeAreDroppedWithTheirReason) {
  sim::SimEmbedding& sender = Device("10.0.0.1");
  Device("10.0.0.2");
  pp::UDPSocket socket = BoundSocket(sender, "0.0.0.0", 0);
  EXPECT_EQ(SendTo(sender, socket, "x", Address("10.0.0.9", kPort)), 1);
  EXPECT_EQ(SendTo(sender, socket, "x", Address("10.0.0.2", kPort)), 1);
  lan.RunFor(sim::kMillisecond);
  ASSERT_EQ(Drops(lan, DropReason::kNoHost).size(), 1u);
  EXPECT_EQ(Drops(lan, DropReason::kNoHost)[0].to_address, *sim::ParseIpv4("10.0.0.9"));
  ASSERT_EQ(Drops(lan, DropReason::kNoListener).size(), 1u);
  EXPECT_EQ(Drops(lan, DropReason::kNoListener)[0].to_address, *sim::ParseIpv4("10.0.0.2"));
}

TEST_F(NetworkTest, AddressesOffTheSubnetAreUnreachable) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::UDPSocket socket = BoundSocket(device, "0.0.0.0", 0, /*broadcast=*/true);
  for (const char* far : {"10.0.1.5", "8.8.8.8", "10.0.1.255"}) {
    EXPECT_EQ(SendTo(device, socket, "x", Address(far, kPort)), PP_ERROR_ADDRESS_UNREACHABLE)
        << far;
  }
  EXPECT_TRUE(lan.trace().EventsOfKind(TraceKind::kSend).empty());
}

TEST_F(NetworkTest, LoopbackReachesTheSendersOwnHostFromTheLoopbackAddress) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::UDPSocket in = BoundSocket(device, "0.0.0.0", kPort);
  pp::UDPSocket out = BoundSocket(device, "0.0.0.0", 0);
  Reception reception;
  StartReceive(device, in, reception);
  SendTo(device, out, "local", Address("127.0.0.1", kPort));
  lan.RunFor(sim::kMillisecond);
  EXPECT_EQ(reception.text(), "local");
  EXPECT_EQ(reception.source.DescribeAsString(false).AsString(), "127.0.0.1");
}

// ---- refusals of the socket ------------------------------------------------------------

TEST_F(NetworkTest, DatagramsAboveTheUdpLimitAreTooBig) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::UDPSocket socket = BoundSocket(device, "0.0.0.0", kPort);
  const std::string largest(sim::kMaxDatagramBytes, 'a');
  EXPECT_EQ(SendTo(device, socket, largest, Address("10.0.0.1", kPort)), sim::kMaxDatagramBytes);
  EXPECT_EQ(SendTo(device, socket, largest + "a", Address("10.0.0.1", kPort)),
            PP_ERROR_MESSAGE_TOO_BIG);
}

TEST_F(NetworkTest, SendingBeforeBindingFails) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::UDPSocket socket(device.handle());
  const Outcome outcome = Await(device, [&](const auto& done) {
    return socket.SendTo("x", 1, Address("10.0.0.1", kPort), done);
  });
  EXPECT_TRUE(outcome.completed) << "reported through the completion, as the sender expects";
  EXPECT_EQ(outcome.result, PP_ERROR_FAILED);
}

TEST_F(NetworkTest, SendingToANullAddressIsABadArgument) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::UDPSocket socket = BoundSocket(device, "0.0.0.0", 0);
  EXPECT_EQ(SendTo(device, socket, "x", pp::NetAddress()), PP_ERROR_BADARGUMENT);
}

TEST_F(NetworkTest, BindingToAnotherHostsAddressIsInvalid) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  Device("10.0.0.2");
  pp::UDPSocket socket(device.handle());
  EXPECT_EQ(
      Await(device, [&](const auto& done) { return socket.Bind(Address("10.0.0.2", kPort), done); })
          .result,
      PP_ERROR_ADDRESS_INVALID);
}

TEST_F(NetworkTest, ASecondReceiveWhileOneIsPendingIsRefusedAtOnce) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::UDPSocket socket = BoundSocket(device, "0.0.0.0", kPort);
  Reception first, second;
  StartReceive(device, socket, first);
  StartReceive(device, socket, second);
  EXPECT_FALSE(first.done);
  EXPECT_EQ(second.result, PP_ERROR_INPROGRESS);
}

TEST_F(NetworkTest, ClosePortIsFreeAgainForTheNextBind) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::UDPSocket first = BoundSocket(device, "0.0.0.0", kPort);
  OnMain(device, [&] { first.Close(); });
  pp::UDPSocket second = BoundSocket(device, "0.0.0.0", kPort);
  EXPECT_EQ(second.GetBoundAddress().port_host_order(), kPort);
}

TEST_F(NetworkTest, ADatagramArrivingAfterCloseIsNeverCopiedIntoTheBuffer) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  sim::SimEmbedding& peer = Device("10.0.0.2");
  pp::UDPSocket in = BoundSocket(device, "0.0.0.0", kPort);
  pp::UDPSocket out = BoundSocket(peer, "0.0.0.0", 0);
  Reception reception;
  StartReceive(device, in, reception);
  SendTo(peer, out, "late", Address("10.0.0.1", kPort));
  // The datagram reaches the socket and its completion is queued; the socket
  // closes before that completion runs.
  const int64_t arrival = lan.now_us() + lan.options().faults.one_way_delay_min_us;
  lan.scheduler().At(arrival, [&] { in.Close(); });
  lan.RunFor(sim::kMillisecond);
  EXPECT_EQ(reception.result, PP_ERROR_ABORTED);
  EXPECT_EQ(reception.buffer[0], '\0');
}

TEST_F(NetworkTest, AFullReceiveQueueDropsWhatComesNext) {
  sim::LanOptions options;
  options.receive_queue_datagrams = 2;
  sim::Lan small(options);
  sim::SimEmbedding& device = small.AddHost("10.0.0.1").AddEmbedding();
  pp::UDPSocket in(device.handle());
  pp::UDPSocket out(device.handle());
  device.RunOnMainLoop([&] {
    in.Bind(Address("0.0.0.0", kPort), pp::CompletionCallback());
    out.Bind(Address("0.0.0.0", 0), pp::CompletionCallback());
  });
  small.RunFor(sim::kMillisecond);
  device.RunOnMainLoop([&] {
    for (int i = 0; i < 3; ++i)
      out.SendTo("x", 1, Address("10.0.0.1", kPort), pp::CompletionCallback());
  });
  small.RunFor(sim::kMillisecond);
  EXPECT_EQ(small.trace().EventsOfKind(TraceKind::kDeliver).size(), 2u);
  const auto drops = small.trace().EventsOfKind(TraceKind::kDrop);
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].reason, DropReason::kQueueFull);
}

// ---- network faults -----------------------------------------------------------------

struct FaultCase {
  const char* name;
  sim::NetworkFaults faults;
  std::vector<std::string> expected;  // what the receiver gets, in order
  size_t lost;
};

class NetworkFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(NetworkFaultTest, ShapesWhatTheReceiverGets) {
  sim::LanOptions options;
  options.faults = GetParam().faults;
  sim::Lan lan(options);
  sim::SimEmbedding& sender = lan.AddHost("10.0.0.1").AddEmbedding();
  sim::SimEmbedding& receiver = lan.AddHost("10.0.0.2").AddEmbedding();
  pp::UDPSocket out(sender.handle());
  pp::UDPSocket in(receiver.handle());
  std::vector<std::string> got;
  char buffer[64];
  std::function<void()> receive = [&] {
    in.RecvFrom(buffer, sizeof buffer,
                pp::CompletionCallbackWithOutput<pp::NetAddress>(
                    [&](int32_t result, const pp::NetAddress&) {
                      got.emplace_back(buffer, static_cast<size_t>(std::max(result, 0)));
                      receive();
                    }));
  };
  receiver.RunOnMainLoop([&] {
    in.Bind(Address("0.0.0.0", kPort), pp::CompletionCallback());
    receive();
  });
  sender.RunOnMainLoop([&] {
    out.Bind(Address("0.0.0.0", 0), pp::CompletionCallback());
    out.SendTo("first", 5, Address("10.0.0.2", kPort), pp::CompletionCallback());
  });
  sender.RunOnMainLoop(
      [&] { out.SendTo("second", 6, Address("10.0.0.2", kPort), pp::CompletionCallback()); },
      sim::kMillisecond);
  lan.RunFor(sim::kSecond);
  EXPECT_EQ(got, GetParam().expected);
  EXPECT_EQ(lan.trace().EventsOfKind(TraceKind::kDrop).size(), GetParam().lost);
}

sim::NetworkFaults Faults(std::function<void(sim::NetworkFaults&)> change) {
  sim::NetworkFaults faults;
  change(faults);
  return faults;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NetworkFaultTest,
    ::testing::Values(FaultCase{"perfect", {}, {"first", "second"}, 0},
                      FaultCase{"all_lost", Faults([](auto& f) { f.loss_probability = 1; }), {}, 2},
                      FaultCase{"all_duplicated",
                                Faults([](auto& f) { f.duplicate_probability = 1; }),
                                {"first", "first", "second", "second"},
                                0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetworkTest, AReorderedDatagramIsOvertakenByTheNextOne) {
  sim::SimEmbedding& sender = Device("10.0.0.1");
  sim::SimEmbedding& receiver = Device("10.0.0.2");
  pp::UDPSocket out = BoundSocket(sender, "0.0.0.0", 0);
  pp::UDPSocket in = BoundSocket(receiver, "0.0.0.0", kPort);
  lan.faults().reorder_probability = 1;
  lan.faults().reorder_delay_us = 5 * sim::kMillisecond;
  SendTo(sender, out, "first", Address("10.0.0.2", kPort));
  lan.faults().reorder_probability = 0;
  SendTo(sender, out, "second", Address("10.0.0.2", kPort));
  lan.RunFor(10 * sim::kMillisecond);
  Reception one, two;
  StartReceive(receiver, in, one);
  lan.RunFor(sim::kMillisecond);
  StartReceive(receiver, in, two);
  lan.RunFor(sim::kMillisecond);
  EXPECT_EQ(one.text(), "second");
  EXPECT_EQ(two.text(), "first");
}

TEST(NetworkDelayTest, EveryDatagramTakesAtLeastTheMinimumAndJitterStaysInItsBounds) {
  sim::LanOptions options;
  options.faults.one_way_delay_min_us = 300;
  options.faults.one_way_delay_mean_us = 800;
  options.faults.jitter_us = 100;
  sim::Lan lan(options);
  sim::SimEmbedding& sender = lan.AddHost("10.0.0.1").AddEmbedding();
  sim::SimEmbedding& receiver = lan.AddHost("10.0.0.2").AddEmbedding();
  pp::UDPSocket out(sender.handle());
  pp::UDPSocket in(receiver.handle());
  receiver.RunOnMainLoop([&] { in.Bind(Address("0.0.0.0", kPort), pp::CompletionCallback()); });
  sender.RunOnMainLoop([&] { out.Bind(Address("0.0.0.0", 0), pp::CompletionCallback()); });
  lan.RunFor(sim::kMillisecond);
  constexpr int kCount = 200;
  for (int i = 0; i < kCount; ++i) {
    sender.RunOnMainLoop(
        [&] { out.SendTo("x", 1, Address("10.0.0.2", kPort), pp::CompletionCallback()); },
        i * 10 * sim::kMillisecond);
  }
  lan.RunFor(3 * sim::kSecond);
  const auto sends = lan.trace().EventsOfKind(TraceKind::kSend);
  const auto deliveries = lan.trace().EventsOfKind(TraceKind::kDeliver);
  ASSERT_EQ(sends.size(), static_cast<size_t>(kCount));
  ASSERT_EQ(deliveries.size(), static_cast<size_t>(kCount));
  int64_t total = 0;
  for (const auto& delivery : deliveries) {
    const auto& send = sends[delivery.datagram - sends.front().datagram];
    const int64_t delay = delivery.time_us - send.time_us;
    EXPECT_GE(delay, 300);
    total += delay;
  }
  // The exponential part averages 500 us and the jitter 50 us on top of the minimum.
  EXPECT_NEAR(static_cast<double>(total) / kCount, 850.0, 150.0);
}

}  // namespace
}  // namespace sim_test
