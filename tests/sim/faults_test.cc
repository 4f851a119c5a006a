// A host's FaultPlan: refusals by count or by predicate, and how each kind
// shows through the pp:: interface.
#include <gtest/gtest.h>

#include "tests/sim/sim_fixture.h"

namespace sim_test {
namespace {

TEST(InjectionTest, RefusesByCountAfterSuccessesAlwaysOrByPredicate) {
  struct Case {
    const char* name;
    std::function<void(sim::Injection&)> arm;
    std::vector<int32_t> expected;  // five attempts, subject "a" then "b" alternately
  };
  const std::vector<Case> cases = {
      {"nothing armed", [](auto&) {}, {PP_OK, PP_OK, PP_OK, PP_OK, PP_OK}},
      {"next two",
       [](auto& i) { i.FailNext(2, PP_ERROR_FAILED); },
       {PP_ERROR_FAILED, PP_ERROR_FAILED, PP_OK, PP_OK, PP_OK}},
      {"one after two successes",
       [](auto& i) { i.FailAfter(2, 1, PP_ERROR_NOACCESS); },
       {PP_OK, PP_OK, PP_ERROR_NOACCESS, PP_OK, PP_OK}},
      {"always",
       [](auto& i) { i.FailAlways(PP_ERROR_ABORTED); },
       {PP_ERROR_ABORTED, PP_ERROR_ABORTED, PP_ERROR_ABORTED, PP_ERROR_ABORTED, PP_ERROR_ABORTED}},
      {"subject b",
       [](auto& i) { i.FailWhen([](std::string_view s) { return s == "b"; }, -9); },
       {PP_OK, -9, PP_OK, -9, PP_OK}},
  };
  for (const Case& c : cases) {
    sim::Injection injection;
    c.arm(injection);
    std::vector<int32_t> got;
    for (int attempt = 0; attempt < 5; ++attempt) {
      got.push_back(injection.Check(attempt % 2 ? "b" : "a"));
    }
    EXPECT_EQ(got, c.expected) << c.name;
    EXPECT_EQ(injection.attempts(), 5) << c.name;
  }
}

class FaultPlanTest : public SimTest {
 protected:
  sim::Host& host = lan.AddHost("10.0.0.1");
  sim::SimEmbedding& device = host.AddEmbedding();
  sim::FaultPlan& faults = host.faults();
};

TEST_F(FaultPlanTest, RefusedSocketAndResolverAreNullAndTheirOperationsFail) {
  faults.create_socket.FailNext(1, PP_ERROR_FAILED);
  faults.create_resolver.FailNext(1, PP_ERROR_FAILED);
  pp::UDPSocket socket(device.handle());
  pp::HostResolver resolver(device.handle());
  EXPECT_TRUE(socket.is_null());
  EXPECT_TRUE(resolver.is_null());
  EXPECT_EQ(
      Await(device, [&](const auto& done) { return socket.Bind(Address("0.0.0.0", 0), done); })
          .result,
      PP_ERROR_BADRESOURCE);
  EXPECT_FALSE(pp::UDPSocket(device.handle()).is_null()) << "only the next one was refused";
}

TEST_F(FaultPlanTest, AThreadWithoutALoopHasANullLoopAndDoesNotStart) {
  faults.create_message_loop.FailWhen(
      [](std::string_view loop) { return loop == "10.0.0.1 worker2"; }, PP_ERROR_FAILED);
  pp::SimpleThread first(device.handle());
  pp::SimpleThread second(device.handle());
  EXPECT_FALSE(first.message_loop().is_null());
  EXPECT_TRUE(second.message_loop().is_null());
  EXPECT_FALSE(second.Start());
  EXPECT_EQ(second.message_loop().PostWork(pp::CompletionCallback()), PP_ERROR_BADRESOURCE);
}

TEST_F(FaultPlanTest, ARefusedStartLeavesTheLoopIdle) {
  faults.start_thread.FailNext(1, PP_ERROR_FAILED);
  pp::SimpleThread worker(device.handle());
  int runs = 0;
  worker.message_loop().PostWork(pp::CompletionCallback([&](int32_t) { ++runs; }));
  EXPECT_FALSE(worker.Start());
  lan.RunFor(sim::kSecond);
  EXPECT_EQ(runs, 0);
}

TEST_F(FaultPlanTest, ARefusedPostWorkReturnsTheCodeAndNeverRuns) {
  faults.post_work.FailNext(1, PP_ERROR_NOMEMORY);
  int runs = 0;
  OnMain(device, [&] {
    const pp::MessageLoop loop = pp::MessageLoop::GetCurrent();
    EXPECT_EQ(loop.PostWork(pp::CompletionCallback([&](int32_t) { ++runs; })), PP_ERROR_NOMEMORY);
    EXPECT_EQ(loop.PostWork(pp::CompletionCallback([&](int32_t) { ++runs; })), PP_OK);
  });
  lan.RunFor(sim::kSecond);
  EXPECT_EQ(runs, 1);
}

TEST_F(FaultPlanTest, RefusedBindSetOptionResolveAndReceiveCompleteWithTheCode) {
  pp::UDPSocket socket(device.handle());
  faults.bind.FailNext(1, PP_ERROR_ADDRESS_IN_USE);
  EXPECT_EQ(
      Await(device, [&](const auto& done) { return socket.Bind(Address("0.0.0.0", 9), done); })
          .result,
      PP_ERROR_ADDRESS_IN_USE);
  EXPECT_EQ(host.SocketOnPort(9), nullptr);
  EXPECT_EQ(
      Await(device, [&](const auto& done) { return socket.Bind(Address("0.0.0.0", 9), done); })
          .result,
      PP_OK)
      << "a refused bind can be tried again";

  faults.set_option.FailNext(1, PP_ERROR_FAILED);
  EXPECT_EQ(Await(device,
                  [&](const auto& done) {
                    return socket.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(true), done);
                  })
                .result,
            PP_ERROR_FAILED);

  pp::HostResolver resolver(device.handle());
  faults.resolve.FailWhen([](std::string_view name) { return name == "10.0.0.1"; },
                          PP_ERROR_NAME_NOT_RESOLVED);
  EXPECT_EQ(Await(device,
                  [&](const auto& done) {
                    return resolver.Resolve("10.0.0.1", 80, PP_HostResolver_Hint(), done);
                  })
                .result,
            PP_ERROR_NAME_NOT_RESOLVED);

  faults.receive.FailNext(1, PP_ERROR_FAILED);
  Reception reception;
  StartReceive(device, socket, reception);
  lan.RunFor(sim::kMillisecond);
  EXPECT_EQ(reception.result, PP_ERROR_FAILED);
}

TEST_F(FaultPlanTest, RefusedSendsEitherReturnAtOnceOrCompleteWithTheCodeAndSendNothing) {
  pp::UDPSocket socket = BoundSocket(device, "0.0.0.0", 9);
  faults.send_immediate.FailNext(1, PP_ERROR_NOMEMORY);
  const Outcome at_once = Await(device, [&](const auto& done) {
    return socket.SendTo("x", 1, Address("10.0.0.1", 9), done);
  });
  EXPECT_FALSE(at_once.completed);
  EXPECT_EQ(at_once.result, PP_ERROR_NOMEMORY);

  faults.send_completion.FailNext(1, PP_ERROR_ADDRESS_UNREACHABLE);
  const Outcome completed = Await(device, [&](const auto& done) {
    return socket.SendTo("x", 1, Address("10.0.0.1", 9), done);
  });
  EXPECT_TRUE(completed.completed);
  EXPECT_EQ(completed.result, PP_ERROR_ADDRESS_UNREACHABLE);

  lan.RunFor(sim::kMillisecond);
  EXPECT_TRUE(lan.trace().EventsOfKind(sim::TraceKind::kSend).empty());
  EXPECT_EQ(SendTo(device, socket, "x", Address("10.0.0.1", 9)), 1);
}

}  // namespace
}  // namespace sim_test
