// What every platform backend promises the modules, checked through the pp::
// interface alone. Each backend's test binary supplies a BackendDriver
// (MakeBackendDriver) and links this file; the real backend runs it over
// loopback only.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/pp.h"
#include "tests/platform/conformance/backend_driver.h"

namespace conformance {
namespace {

constexpr int64_t kTimeoutMs = 5000;

// How an asynchronous call ended: the code it returned at once when that was
// not PP_OK_COMPLETIONPENDING, otherwise what its completion reported, and
// the loop the completion ran on.
struct Outcome {
  std::atomic<bool> done{false};
  std::atomic<bool> completed{false};  // through the completion, not at once
  std::atomic<int32_t> result{0};
  std::atomic<pp::LoopBackend*> loop{nullptr};
};

pp::CompletionCallback Recording(const std::shared_ptr<Outcome>& outcome) {
  return pp::CompletionCallback([outcome](int32_t result) {
    outcome->loop = pp::MessageLoop::GetCurrent().backend();
    outcome->result = result;
    outcome->completed = true;
    outcome->done = true;
  });
}

void Settle(Outcome& outcome, int32_t returned) {
  if (returned != PP_OK_COMPLETIONPENDING) {
    outcome.result = returned;
    outcome.done = true;
  }
}

// A receive in progress: its buffer, and what it got.
struct Reception {
  explicit Reception(int32_t capacity) : buffer(static_cast<size_t>(capacity), '\0') {}
  std::vector<char> buffer;
  std::atomic<bool> done{false};
  int32_t result = 0;
  pp::NetAddress source;

  std::string bytes() const {
    return result > 0 ? std::string(buffer.data(), static_cast<size_t>(result)) : std::string();
  }
};

// Bytes that differ from one position to the next, so that a shifted or
// truncated copy shows.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return bytes;
}

class ConformanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_ = MakeBackendDriver();
    ASSERT_TRUE(driver_);
  }

  BackendDriver& driver() { return *driver_; }
  pp::InstanceHandle instance() { return pp::InstanceHandle(&driver_->embedding()); }

  pp::NetAddress LocalAddress(uint16_t port) const {
    unsigned a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(std::sscanf(driver_->local_address().c_str(), "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    return pp::NetAddress::FromHostOrder((a << 24) | (b << 16) | (c << 8) | d, port);
  }
  static pp::NetAddress AnyAddress(uint16_t port) { return pp::NetAddress::FromHostOrder(0, port); }

  pp::LoopBackend* MainLoop() {
    pp::LoopBackend* main = nullptr;
    driver().RunOnMainLoop([&] { main = pp::MessageLoop::GetCurrent().backend(); });
    return main;
  }

  // Starts `operation` on the main loop, as page-message code would.
  std::shared_ptr<Outcome> Start(
      const std::function<int32_t(const pp::CompletionCallback&)>& operation) {
    auto outcome = std::make_shared<Outcome>();
    driver().RunOnMainLoop([&] { Settle(*outcome, operation(Recording(outcome))); });
    return outcome;
  }

  bool Wait(const std::function<bool()>& done) { return driver().RunUntil(done, kTimeoutMs); }

  // Starts `operation` on the main loop and waits for how it ends.
  int32_t Await(const std::function<int32_t(const pp::CompletionCallback&)>& operation) {
    auto outcome = Start(operation);
    EXPECT_TRUE(Wait([&] { return outcome->done.load(); })) << "the operation never completed";
    return outcome->result;
  }

  int32_t Bind(pp::UDPSocket& socket, const pp::NetAddress& address) {
    return Await([&](const pp::CompletionCallback& done) { return socket.Bind(address, done); });
  }

  int32_t SendTo(pp::UDPSocket& socket, const std::string& bytes, const pp::NetAddress& to) {
    return Await([&](const pp::CompletionCallback& done) {
      return socket.SendTo(bytes.data(), static_cast<int32_t>(bytes.size()), to, done);
    });
  }

  // Starts a receive on the main loop; `reception` must outlive it.
  void StartReceive(pp::UDPSocket& socket, Reception& reception) {
    driver().RunOnMainLoop([&] {
      pp::CompletionCallbackWithOutput<pp::NetAddress> done(
          [&reception](int32_t result, const pp::NetAddress& source) {
            reception.result = result;
            reception.source = source;
            reception.done = true;
          });
      const int32_t returned = socket.RecvFrom(reception.buffer.data(),
                                               static_cast<int32_t>(reception.buffer.size()), done);
      if (returned != PP_OK_COMPLETIONPENDING) {
        reception.result = returned;
        reception.done = true;
      }
    });
  }

  bool WaitFor(const Reception& reception) {
    return Wait([&] { return reception.done.load(); });
  }

  std::unique_ptr<BackendDriver> driver_;
};

// ---- message loops ------------------------------------------------------------

TEST_F(ConformanceTest, WorkRunsInOrderOfDueTimeThenInOrderOfPosting) {
  std::mutex mutex;
  std::vector<std::string> order;
  auto step = [&](const char* name) {
    return pp::CompletionCallback([&, name](int32_t) {
      std::lock_guard<std::mutex> lock(mutex);
      order.push_back(name);
    });
  };
  driver().RunOnMainLoop([&] {
    const pp::MessageLoop loop = pp::MessageLoop::GetCurrent();
    ASSERT_FALSE(loop.is_null());
    EXPECT_EQ(loop.PostWork(step("late"), 60), PP_OK);
    EXPECT_EQ(loop.PostWork(step("first"), 0), PP_OK);
    EXPECT_EQ(loop.PostWork(step("second"), 0), PP_OK);
    EXPECT_EQ(loop.PostWork(step("middle"), 20), PP_OK);
  });
  ASSERT_TRUE(Wait([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return order.size() == 4;
  }));
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "middle", "late"}));
}

TEST_F(ConformanceTest, DelayedWorkWaitsAtLeastItsDelay) {
  std::atomic<int64_t> posted_at{0};
  std::atomic<int64_t> ran_at{0};
  pp::Embedding& embedding = driver().embedding();
  driver().RunOnMainLoop([&] {
    posted_at = embedding.WallClockMicros();
    pp::MessageLoop::GetCurrent().PostWork(
        pp::CompletionCallback([&](int32_t) { ran_at = embedding.WallClockMicros(); }), 50);
  });
  ASSERT_TRUE(Wait([&] { return ran_at.load() != 0; }));
  EXPECT_GE(ran_at - posted_at, 50 * 1000);
}

TEST_F(ConformanceTest, WorkPostedToAWorkerThreadRunsOnItsLoop) {
  pp::SimpleThread worker(instance());
  ASSERT_TRUE(worker.Start());
  const pp::MessageLoop worker_loop = worker.message_loop();
  ASSERT_FALSE(worker_loop.is_null());
  std::atomic<pp::LoopBackend*> ran_on{nullptr};
  // Posting is allowed from any thread, this one (on no loop) included.
  ASSERT_EQ(worker_loop.PostWork(pp::CompletionCallback([&](int32_t result) {
    EXPECT_EQ(result, PP_OK);
    ran_on = pp::MessageLoop::GetCurrent().backend();
  })),
            PP_OK);
  ASSERT_TRUE(Wait([&] { return ran_on.load() != nullptr; }));
  EXPECT_EQ(ran_on.load(), worker_loop.backend());
  EXPECT_NE(ran_on.load(), MainLoop());
}

TEST_F(ConformanceTest, QuitLoopDropsQueuedAndLaterWork) {
  pp::SimpleThread worker(instance());
  ASSERT_TRUE(worker.Start());
  const pp::MessageLoop worker_loop = worker.message_loop();
  std::atomic<int> runs{0};
  const pp::CompletionCallback count([&](int32_t) { ++runs; });
  ASSERT_EQ(worker_loop.PostWork(count, 30), PP_OK);
  worker.Join();
  worker_loop.PostWork(count, 0);  // refused or dropped; either way it must not run
  driver().RunFor(100);
  EXPECT_EQ(runs, 0);
}

TEST_F(ConformanceTest, CompletionOfADestroyedFactoryDoesNothing) {
  struct Owner {
    std::atomic<int> runs{0};
    void OnWork(int32_t) { ++runs; }
    void OnReceive(int32_t, const pp::NetAddress&) { ++runs; }
  };
  Owner owner;
  auto factory = std::make_unique<pp::CompletionCallbackFactory<Owner>>(&owner);
  pp::UDPSocket receiver(instance());
  pp::UDPSocket sender(instance());
  ASSERT_EQ(Bind(receiver, AnyAddress(0)), PP_OK);
  ASSERT_EQ(Bind(sender, AnyAddress(0)), PP_OK);
  char buffer[64];
  driver().RunOnMainLoop([&] {
    pp::MessageLoop::GetCurrent().PostWork(factory->NewCallback(&Owner::OnWork), 20);
    EXPECT_EQ(
        receiver.RecvFrom(buffer, sizeof buffer, factory->NewCallbackWithOutput(&Owner::OnReceive)),
        PP_OK_COMPLETIONPENDING);
  });
  factory.reset();
  EXPECT_EQ(SendTo(sender, "late", LocalAddress(receiver.GetBoundAddress().port_host_order())), 4);
  driver().RunFor(100);
  EXPECT_EQ(owner.runs, 0);
}

// ---- where completions run ----------------------------------------------------

struct StartingLoopCase {
  const char* operation;
  bool on_worker;
};

class CompletionLoopTest : public ConformanceTest,
                           public ::testing::WithParamInterface<StartingLoopCase> {};

TEST_P(CompletionLoopTest, CompletionRunsOnTheLoopThatStartedTheOperation) {
  pp::SimpleThread worker(instance());
  ASSERT_TRUE(worker.Start());
  pp::UDPSocket socket(instance());
  pp::HostResolver resolver(instance());
  const std::string operation = GetParam().operation;
  const std::string local = driver().local_address();
  auto outcome = std::make_shared<Outcome>();
  const pp::CompletionCallback start([&](int32_t) {
    if (operation == "bind") {
      Settle(*outcome, socket.Bind(AnyAddress(0), Recording(outcome)));
    } else {
      Settle(*outcome,
             resolver.Resolve(local.c_str(), 80, PP_HostResolver_Hint(), Recording(outcome)));
    }
  });
  pp::LoopBackend* starting_loop;
  if (GetParam().on_worker) {
    starting_loop = worker.message_loop().backend();
    ASSERT_EQ(worker.message_loop().PostWork(start), PP_OK);
  } else {
    starting_loop = MainLoop();
    driver().RunOnMainLoop([&] { start.Run(PP_OK); });
  }
  ASSERT_TRUE(Wait([&] { return outcome->done.load(); }));
  EXPECT_TRUE(outcome->completed) << "returned " << pp::ResultName(outcome->result) << " at once";
  EXPECT_EQ(outcome->result, PP_OK);
  EXPECT_EQ(outcome->loop.load(), starting_loop);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, CompletionLoopTest,
    ::testing::Values(StartingLoopCase{"bind", false}, StartingLoopCase{"bind", true},
                      StartingLoopCase{"resolve", false}, StartingLoopCase{"resolve", true}),
    [](const auto& info) {
      return std::string(info.param.operation) + (info.param.on_worker ? "_on_worker" : "_on_main");
    });

TEST_F(ConformanceTest, OperationStartedOutsideAnyLoopIsRefusedAndNeverCompletes) {
  pp::UDPSocket socket(instance());
  auto outcome = std::make_shared<Outcome>();
  EXPECT_EQ(socket.Bind(AnyAddress(0), Recording(outcome)), PP_ERROR_NO_MESSAGE_LOOP);
  driver().RunFor(50);
  EXPECT_FALSE(outcome->completed);
}

// ---- binding --------------------------------------------------------------------

TEST_F(ConformanceTest, BindingToPortZeroPicksADifferentFreePortEachTime) {
  pp::UDPSocket first(instance());
  pp::UDPSocket second(instance());
  EXPECT_TRUE(first.GetBoundAddress().is_null());
  ASSERT_EQ(Bind(first, AnyAddress(0)), PP_OK);
  ASSERT_EQ(Bind(second, AnyAddress(0)), PP_OK);
  const uint16_t first_port = first.GetBoundAddress().port_host_order();
  EXPECT_NE(first_port, 0);
  EXPECT_NE(second.GetBoundAddress().port_host_order(), first_port);
}

TEST_F(ConformanceTest, BindingToAPortInUseFailsAndTheFirstKeepsIt) {
  pp::UDPSocket first(instance());
  pp::UDPSocket second(instance());
  ASSERT_EQ(Bind(first, AnyAddress(0)), PP_OK);
  const uint16_t port = first.GetBoundAddress().port_host_order();
  EXPECT_EQ(Bind(second, AnyAddress(port)), PP_ERROR_ADDRESS_IN_USE);
  EXPECT_EQ(first.GetBoundAddress().port_host_order(), port);
}

// ---- datagrams to the device itself ---------------------------------------------

class DatagramSizeTest : public ConformanceTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(DatagramSizeTest, DatagramToTheLocalAddressArrivesWholeWithItsSource) {
  pp::UDPSocket receiver(instance());
  pp::UDPSocket sender(instance());
  ASSERT_EQ(Bind(receiver, AnyAddress(0)), PP_OK);
  ASSERT_EQ(Bind(sender, AnyAddress(0)), PP_OK);
  Reception reception(2048);
  StartReceive(receiver, reception);
  const std::string bytes = Pattern(GetParam());
  EXPECT_EQ(SendTo(sender, bytes, LocalAddress(receiver.GetBoundAddress().port_host_order())),
            static_cast<int32_t>(bytes.size()));
  ASSERT_TRUE(WaitFor(reception));
  EXPECT_EQ(reception.result, static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(reception.bytes(), bytes);
  EXPECT_EQ(reception.source, LocalAddress(sender.GetBoundAddress().port_host_order()))
      << reception.source.DescribeAsString(true).AsString();
}

INSTANTIATE_TEST_SUITE_P(Sizes, DatagramSizeTest, ::testing::Values(1, 10, 1024, 0),
                         [](const auto& info) { return std::to_string(info.param) + "_bytes"; });

TEST_F(ConformanceTest, DatagramsSentBeforeAReceiveWaitInOrder) {
  pp::UDPSocket receiver(instance());
  pp::UDPSocket sender(instance());
  ASSERT_EQ(Bind(receiver, AnyAddress(0)), PP_OK);
  ASSERT_EQ(Bind(sender, AnyAddress(0)), PP_OK);
  const pp::NetAddress to = LocalAddress(receiver.GetBoundAddress().port_host_order());
  ASSERT_EQ(SendTo(sender, "one", to), 3);
  ASSERT_EQ(SendTo(sender, "two", to), 3);
  for (const char* expected : {"one", "two"}) {
    Reception reception(64);
    StartReceive(receiver, reception);
    ASSERT_TRUE(WaitFor(reception));
    EXPECT_EQ(reception.bytes(), expected);
  }
}

TEST_F(ConformanceTest, ReceiveKeepsWhatFitsItsBufferAndLosesTheRestOfThatDatagram) {
  pp::UDPSocket receiver(instance());
  pp::UDPSocket sender(instance());
  ASSERT_EQ(Bind(receiver, AnyAddress(0)), PP_OK);
  ASSERT_EQ(Bind(sender, AnyAddress(0)), PP_OK);
  const pp::NetAddress to = LocalAddress(receiver.GetBoundAddress().port_host_order());
  const std::string long_datagram = Pattern(100);
  ASSERT_EQ(SendTo(sender, long_datagram, to), 100);
  ASSERT_EQ(SendTo(sender, "next", to), 4);

  Reception truncated(10);
  StartReceive(receiver, truncated);
  ASSERT_TRUE(WaitFor(truncated));
  EXPECT_EQ(truncated.result, 10);
  EXPECT_EQ(truncated.bytes(), long_datagram.substr(0, 10));

  Reception following(64);
  StartReceive(receiver, following);
  ASSERT_TRUE(WaitFor(following));
  EXPECT_EQ(following.bytes(), "next");
}

// ---- closing ----------------------------------------------------------------------

TEST_F(ConformanceTest, ClosingASocketFailsItsPendingReceiveWithAborted) {
  pp::UDPSocket socket(instance());
  ASSERT_EQ(Bind(socket, AnyAddress(0)), PP_OK);
  Reception reception(64);
  StartReceive(socket, reception);
  driver().RunFor(10);
  EXPECT_FALSE(reception.done) << "nothing was sent, yet the receive ended";
  driver().RunOnMainLoop([&] { socket.Close(); });
  ASSERT_TRUE(WaitFor(reception));
  EXPECT_EQ(reception.result, PP_ERROR_ABORTED);
  EXPECT_TRUE(socket.GetBoundAddress().is_null());
}

TEST_F(ConformanceTest, EveryOperationOnAClosedSocketFails) {
  pp::UDPSocket socket(instance());
  ASSERT_EQ(Bind(socket, AnyAddress(0)), PP_OK);
  const pp::NetAddress self = LocalAddress(socket.GetBoundAddress().port_host_order());
  driver().RunOnMainLoop([&] { socket.Close(); });

  EXPECT_LT(Bind(socket, AnyAddress(0)), 0) << "bind";
  EXPECT_LT(SendTo(socket, "x", self), 0) << "send";
  EXPECT_LT(Await([&](const pp::CompletionCallback& done) {
              return socket.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(true), done);
            }),
            0)
      << "set option";
  Reception reception(16);
  StartReceive(socket, reception);
  ASSERT_TRUE(WaitFor(reception));
  EXPECT_LT(reception.result, 0) << "receive";
}

// ---- name resolution ----------------------------------------------------------------

TEST_F(ConformanceTest, ResolvingADottedAddressGivesThatAddressWithThePort) {
  pp::HostResolver resolver(instance());
  const std::string local = driver().local_address();
  ASSERT_EQ(Await([&](const pp::CompletionCallback& done) {
              return resolver.Resolve(local.c_str(), 4242, PP_HostResolver_Hint(), done);
            }),
            PP_OK);
  ASSERT_GE(resolver.GetNetAddressCount(), 1u);
  EXPECT_EQ(resolver.GetNetAddress(0), LocalAddress(4242));
  EXPECT_TRUE(resolver.GetNetAddress(resolver.GetNetAddressCount()).is_null());
}

TEST_F(ConformanceTest, ResolvingAnUnknownNameFails) {
  pp::HostResolver resolver(instance());
  const std::string name = driver().unresolvable_name();
  EXPECT_LT(Await([&](const pp::CompletionCallback& done) {
              return resolver.Resolve(name.c_str(), 80, PP_HostResolver_Hint(), done);
            }),
            0);
}

// ---- addresses ------------------------------------------------------------------------

TEST_F(ConformanceTest, NetAddressesDescribeThemselvesAsDottedText) {
  struct Case {
    uint32_t address;
    uint16_t port;
    const char* with_port;
    const char* without_port;
  };
  for (const Case& c :
       {Case{0x0A000003, 47475, "10.0.0.3:47475", "10.0.0.3"},
        Case{0xFFFFFFFF, 55555, "255.255.255.255:55555", "255.255.255.255"},
        Case{0x7F000001, 80, "127.0.0.1:80", "127.0.0.1"}, Case{0, 0, "0.0.0.0:0", "0.0.0.0"}}) {
    const pp::NetAddress address = pp::NetAddress::FromHostOrder(c.address, c.port);
    EXPECT_EQ(address.DescribeAsString(true).AsString(), c.with_port);
    EXPECT_EQ(address.DescribeAsString(false).AsString(), c.without_port);
    EXPECT_EQ(address.GetFamily(), PP_NETADDRESS_FAMILY_IPV4);
  }
  EXPECT_TRUE(pp::NetAddress().DescribeAsString(true).is_undefined());
  EXPECT_EQ(LocalAddress(9).DescribeAsString(false).AsString(), driver().local_address());
}

}  // namespace
}  // namespace conformance
