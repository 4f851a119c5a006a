// Logical loops: names that tell which device and thread run a piece of work,
// virtual-time delays, start and quit.
#include <gtest/gtest.h>

#include "tests/sim/sim_fixture.h"

namespace sim_test {
namespace {

class LoopTest : public SimTest {};

TEST_F(LoopTest, LoopNamesTellTheDeviceAndTheThread) {
  sim::HostOptions options;
  options.address = "10.0.0.3";
  options.worker_names = {"receivingThread", "mainThread"};
  sim::Host& host = lan.AddHost(options);
  sim::SimEmbedding& first = host.AddEmbedding();
  pp::SimpleThread receiving(first.handle());
  pp::SimpleThread main(first.handle());
  pp::SimpleThread extra(first.handle());
  EXPECT_EQ(first.main_loop()->name(), "10.0.0.3 platform-main");
  EXPECT_EQ(receiving.message_loop().name(), "10.0.0.3 receivingThread");
  EXPECT_EQ(main.message_loop().name(), "10.0.0.3 mainThread");
  EXPECT_EQ(extra.message_loop().name(), "10.0.0.3 worker3");

  sim::SimEmbedding& second = host.AddEmbedding();
  pp::SimpleThread after_restart(second.handle());
  EXPECT_EQ(second.main_loop()->name(), "10.0.0.3/2 platform-main");
  EXPECT_EQ(after_restart.message_loop().name(), "10.0.0.3/2 receivingThread");
}

TEST_F(LoopTest, WorkRunsExactlyItsDelayLaterOnItsOwnLoop) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::SimpleThread worker(device.handle());
  ASSERT_TRUE(worker.Start());
  int64_t ran_at = -1;
  std::string ran_on;
  lan.RunFor(sim::kSecond);
  worker.message_loop().PostWork(pp::CompletionCallback([&](int32_t) {
                                   ran_at = lan.now_us();
                                   ran_on = pp::MessageLoop::GetCurrent().name();
                                 }),
                                 250);
  lan.RunFor(sim::kSecond);
  EXPECT_EQ(ran_at, sim::kSecond + 250 * sim::kMillisecond);
  EXPECT_EQ(ran_on, "10.0.0.1 worker1");
}

TEST_F(LoopTest, WorkRunsInPostingOrderAcrossLoopsAtTheSameTime) {
  sim::SimEmbedding& a = Device("10.0.0.1");
  sim::SimEmbedding& b = Device("10.0.0.2");
  std::vector<std::string> order;
  auto record = [&] { order.push_back(pp::MessageLoop::GetCurrent().name()); };
  a.RunOnMainLoop(record, sim::kMillisecond);
  b.RunOnMainLoop(record, sim::kMillisecond);
  a.RunOnMainLoop(record, sim::kMillisecond);
  lan.RunFor(sim::kSecond);
  EXPECT_EQ(order, (std::vector<std::string>{"10.0.0.1 platform-main", "10.0.0.2 platform-main",
                                             "10.0.0.1 platform-main"}));
}

TEST_F(LoopTest, WorkPostedBeforeStartWaitsForIt) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::SimpleThread worker(device.handle());
  int runs = 0;
  ASSERT_EQ(worker.message_loop().PostWork(pp::CompletionCallback([&](int32_t) { ++runs; })),
            PP_OK);
  lan.RunFor(sim::kSecond);
  EXPECT_EQ(runs, 0);
  ASSERT_TRUE(worker.Start());
  EXPECT_FALSE(worker.Start()) << "a thread starts once";
  lan.RunFor(sim::kMillisecond);
  EXPECT_EQ(runs, 1);
}

TEST_F(LoopTest, AQuitLoopRefusesNewWorkAndDropsWhatWasQueuedWithATrace) {
  sim::SimEmbedding& device = Device("10.0.0.1");
  pp::SimpleThread worker(device.handle());
  ASSERT_TRUE(worker.Start());
  const pp::MessageLoop loop = worker.message_loop();
  int runs = 0;
  const pp::CompletionCallback count([&](int32_t) { ++runs; });
  ASSERT_EQ(loop.PostWork(count, 100), PP_OK);
  worker.Join();
  EXPECT_EQ(loop.PostWork(count, 0), PP_ERROR_FAILED);
  lan.RunFor(sim::kSecond);
  EXPECT_EQ(runs, 0);
  const auto dropped = lan.trace().EventsOfKind(sim::TraceKind::kDroppedWork);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].text, "10.0.0.1 worker1");
  EXPECT_EQ(dropped[0].time_us, 100 * sim::kMillisecond);
}

TEST_F(LoopTest, RemovingAnEmbeddingQuitsItsLoopsAndClosesItsSockets) {
  sim::Host& host = lan.AddHost("10.0.0.1");
  sim::SimEmbedding& device = host.AddEmbedding();
  pp::SimpleThread worker(device.handle());
  ASSERT_TRUE(worker.Start());
  pp::UDPSocket socket = BoundSocket(device, "0.0.0.0", 7000);
  int runs = 0;
  worker.message_loop().PostWork(pp::CompletionCallback([&](int32_t) { ++runs; }), 10);
  device.RunOnMainLoop([&] { ++runs; }, 10 * sim::kMillisecond);
  host.RemoveEmbedding();
  lan.RunFor(sim::kSecond);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(host.SocketOnPort(7000), nullptr);
  EXPECT_TRUE(socket.GetBoundAddress().is_null());
  EXPECT_TRUE(pp::UDPSocket(device.handle()).is_null()) << "a removed embedding makes nothing";
}

TEST(LanLifetimeTest, ASocketAndAThreadThatOutliveTheLanCanStillBeDestroyed) {
  std::unique_ptr<pp::UDPSocket> socket;
  std::unique_ptr<pp::SimpleThread> thread;
  char buffer[16];
  {
    sim::Lan lan;
    sim::SimEmbedding& device = lan.AddHost("10.0.0.1").AddEmbedding();
    socket = std::make_unique<pp::UDPSocket>(device.handle());
    thread = std::make_unique<pp::SimpleThread>(device.handle());
    thread->Start();
    device.RunOnMainLoop([&] {
      socket->Bind(Address("0.0.0.0", 9), pp::CompletionCallback([&](int32_t) {
                     socket->RecvFrom(buffer, sizeof buffer,
                                      pp::CompletionCallbackWithOutput<pp::NetAddress>());
                   }));
    });
    thread->message_loop().PostWork(pp::CompletionCallback(), 1000);
    lan.RunFor(sim::kMillisecond);
  }
  EXPECT_NE(thread->message_loop().PostWork(pp::CompletionCallback()), PP_OK);
  socket.reset();
  thread.reset();
}

}  // namespace
}  // namespace sim_test
