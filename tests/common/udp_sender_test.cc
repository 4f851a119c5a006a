#include "common/udp_sender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scripted_fixture.h"

namespace {

class SenderOwner {
 public:
  pp::CompletionCallback Created() { return factory_.NewCallback(&SenderOwner::OnCreated); }
  void OnCreated(int32_t result) {
    created.push_back(result);
    Logger::Log("owner: created");
  }
  std::vector<int32_t> created;

 private:
  pp::CompletionCallbackFactory<SenderOwner> factory_{this};
};

class UDPSenderTest : public ScriptedPlatformTest {
 protected:
  // A sender whose chain towards `destination` has succeeded; its lines are dropped.
  void CreateReady(const std::string& destination = "255.255.255.255:47475") {
    sender_.Create(destination, owner_.Created());
    RunUntilIdle();
    ASSERT_EQ(owner_.created, std::vector<int32_t>{PP_OK});
    owner_.created.clear();
    TakeLines();
  }
  scripted::SocketRecord& socket(size_t index = 0) { return embedding_.socket(index); }
  std::vector<std::string> SentBytes(size_t index = 0) {
    std::vector<std::string> out;
    for (const scripted::Sent& sent : socket(index).sent) out.push_back(sent.bytes);
    return out;
  }

  SenderOwner owner_;
  UDPSender sender_{&instance_};
};

TEST_F(UDPSenderTest, CreateResolvesBindsSetsBroadcastThenRunsTheCallbackBeforeItsLastLine) {
  EXPECT_FALSE(sender_.IsBound());
  sender_.Create("255.255.255.255:47475", owner_.Created());
  EXPECT_TRUE(sender_.IsBound()) << "bound from the start of the chain";
  EXPECT_EQ(embedding_.resolver(0).host, "255.255.255.255");
  EXPECT_EQ(embedding_.resolver(0).port, 47475);
  EXPECT_EQ(TakeLines(), std::vector<std::string>{
                             "[LOG]: UDPSender: Resolving ... host name: 255.255.255.255, port: "
                             "47475 0"});

  RunUntilIdle();
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "[LOG]: UDPSender: Resolved: 255.255.255.255:47475",
                             "[LOG]: UDPSender: Binding ...",
                             "[LOG]: owner: created",
                             "[LOG]: UDPSender: Successfully created and set to broadcast.",
                         }));
  EXPECT_EQ(owner_.created, std::vector<int32_t>{PP_OK});
  ASSERT_TRUE(socket().bound_to);
  EXPECT_EQ(socket().bound_to->DescribeAsString(true).AsString(), "0.0.0.0:0");
  ASSERT_EQ(socket().options.size(), 1u);
  EXPECT_EQ(socket().options[0].first, PP_UDPSOCKET_OPTION_BROADCAST);
  EXPECT_EQ(socket().options[0].second, pp::Var(true));
}

TEST_F(UDPSenderTest, DestinationWithoutAColonIsResolvedForPort80) {
  sender_.Create("example.lan", owner_.Created());
  EXPECT_EQ(embedding_.resolver(0).host, "example.lan");
  EXPECT_EQ(embedding_.resolver(0).port, 80);
  EXPECT_EQ(TakeLines(), std::vector<std::string>{
                             "[LOG]: UDPSender: Resolving ... host name: example.lan, port: 80 0"});
}

TEST_F(UDPSenderTest, EachFailingStepLogsItsLineStopsTheChainAndSkipsTheCallback) {
  struct Case {
    const char* name;
    std::function<void(scripted::ScriptedEmbedding&)> script;
    std::string last_line;
    bool bound;
  };
  const Case cases[] = {
      {"socket", [](auto& e) { e.refuse_sockets = true; },
       "[ERR]: UDPSender: Error creating UDPSocket.", false},
      {"resolver", [](auto& e) { e.refuse_resolvers = true; },
       "[ERR]: UDPSender: Error creating HostResolver.", true},
      {"resolution", [](auto& e) { e.resolver_script.result = PP_ERROR_NAME_NOT_RESOLVED; },
       "[ERR]: UDPSender: Resolve failed. -110", true},
      {"bind, bad resource", [](auto& e) { e.socket_script.bind_result = PP_ERROR_BADRESOURCE; },
       "[ERR]: UDPSender: Connection failed: -5(PP_ERROR_BADRESOURCE)", true},
      {"bind, other", [](auto& e) { e.socket_script.bind_result = PP_ERROR_FAILED; },
       "[ERR]: UDPSender: Connection failed: -2()", true},
      {"broadcast option", [](auto& e) { e.socket_script.set_option_result = PP_ERROR_FAILED; },
       "[ERR]: UDPSender: Set Option failed: -2", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    embedding_.refuse_sockets = false;
    embedding_.refuse_resolvers = false;
    embedding_.socket_script = {};
    embedding_.resolver_script = {};
    c.script(embedding_);
    SenderOwner owner;
    UDPSender sender(&instance_);
    sender.Create("255.255.255.255:47475", owner.Created());
    RunUntilIdle();
    const std::vector<std::string> lines = TakeLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), c.last_line);
    EXPECT_EQ(sender.IsBound(), c.bound);
    EXPECT_TRUE(owner.created.empty());
  }
}

TEST_F(UDPSenderTest, SendWithoutASocketIsAnError) {
  sender_.SendTo("x", 1);
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"[ERR]: UDPSender: Not bound. Cannot send."});
}

TEST_F(UDPSenderTest, OneDatagramInFlightAndTheNextOfferedMeanwhileIsDroppedSilently) {
  CreateReady();
  sender_.SendTo(std::string("first"));
  sender_.SendTo(std::string("second"));
  EXPECT_EQ(SentBytes(), std::vector<std::string>{"first"});
  RunUntilIdle();  // the first completes
  sender_.SendTo(std::string("third"));
  EXPECT_EQ(SentBytes(), (std::vector<std::string>{"first", "third"}));
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(UDPSenderTest, SendsExactlyTheGivenBytesToTheResolvedDestination) {
  CreateReady();
  sender_.SendTo(std::string("abc"));
  RunUntilIdle();
  const char with_zero[] = {'a', '\0', 'b'};
  sender_.SendTo(with_zero, 3);
  ASSERT_EQ(socket().sent.size(), 2u);
  EXPECT_EQ(socket().sent[0].bytes, "abc");
  EXPECT_EQ(socket().sent[0].to.DescribeAsString(true).AsString(), "255.255.255.255:47475");
  EXPECT_EQ(socket().sent[1].bytes, std::string(with_zero, 3));
}

TEST_F(UDPSenderTest, SendCompletionIsHandledByItsCode) {
  struct Case {
    int32_t result;
    std::optional<std::string> line;
    bool keeps_socket;
  };
  const Case cases[] = {
      {4, std::nullopt, true},
      {PP_ERROR_ADDRESS_UNREACHABLE,
       "[ERR]: UDPSender: Send failed with: PP_ERROR_ADDRESS_UNREACHABLE", false},
      {PP_ERROR_FAILED, "[ERR]: UDPSender: Send failed with: PP_ERROR_FAILED (unspecific)", false},
      {PP_ERROR_BADARGUMENT, "[ERR]: UDPSender: Send failed with: PP_ERROR_BADARGUMENT", true},
      {PP_ERROR_BADRESOURCE, std::nullopt, true},
      {PP_ERROR_ABORTED, "[ERR]: UDPSender: Send failed with: -3", true},
      {PP_ERROR_MESSAGE_TOO_BIG, "[ERR]: UDPSender: Send failed with: -109", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    embedding_.socket_script.send_result = c.result;
    UDPSender sender(&instance_);
    sender.Create("10.0.0.255:47475", owner_.Created());
    RunUntilIdle();
    TakeLines();
    scripted::SocketRecord& used = *embedding_.sockets().back();

    sender.SendTo(std::string("ping"));
    RunUntilIdle();
    const std::vector<std::string> lines = TakeLines();
    EXPECT_EQ(lines, c.line ? std::vector<std::string>{*c.line} : std::vector<std::string>{});
    EXPECT_EQ(sender.IsBound(), c.keeps_socket);
    EXPECT_EQ(used.closed, !c.keeps_socket) << "a dropped socket is closed, without its line";

    sender.SendTo(std::string("next"));
    if (c.keeps_socket) {
      EXPECT_EQ(used.sent.size(), 2u) << "nothing left in flight";
    } else {
      EXPECT_EQ(TakeLines(), std::vector<std::string>{"[ERR]: UDPSender: Not bound. Cannot send."});
    }
    if (sender.IsBound()) sender.Close();
  }
}

TEST_F(UDPSenderTest, SendRefusedAtOnceIsLoggedAndLeavesNothingInFlight) {
  embedding_.socket_script.send_returns = PP_ERROR_FAILED;
  CreateReady();
  sender_.SendTo(std::string("a"));
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"[ERR]: UDPSender: Send returned error: -2"});
  sender_.SendTo(std::string("b"));
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"[ERR]: UDPSender: Send returned error: -2"})
      << "tried again, not dropped as in flight";
  EXPECT_TRUE(sender_.IsBound());
}

TEST_F(UDPSenderTest, CloseTwiceClosesOnceThenSaysNotBound) {
  CreateReady();
  sender_.Close();
  sender_.Close();
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "[LOG]: UDPSender: Closed connection.",
                             "[ERR]: UDPSender: Not bound. No need to close.",
                         }));
  EXPECT_TRUE(socket().closed);
}

TEST_F(UDPSenderTest, CreateAgainStartsOverOnANewSocketAndReleasesTheOld) {
  CreateReady();
  sender_.Create("10.0.0.255:5000", owner_.Created());
  RunUntilIdle();
  EXPECT_TRUE(socket(0).released);
  EXPECT_FALSE(socket(1).released);
  EXPECT_EQ(owner_.created, std::vector<int32_t>{PP_OK});
  sender_.SendTo(std::string("x"));
  EXPECT_EQ(socket(1).sent.at(0).to.DescribeAsString(true).AsString(), "10.0.0.255:5000");
}

// ---- completions of a chain or socket ended since ----------------------------------

TEST_F(UDPSenderTest, ChainOvertakenByCloseAndCreateDoesNotActOnTheNewSocket) {
  sender_.Create("10.0.0.255:1111", owner_.Created());
  sender_.Close();
  sender_.Create("10.0.0.255:2222", owner_.Created());
  TakeLines();
  RunUntilIdle();
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "[LOG]: UDPSender: Resolved: 10.0.0.255:2222",
                             "[LOG]: UDPSender: Binding ...",
                             "[LOG]: owner: created",
                             "[LOG]: UDPSender: Successfully created and set to broadcast.",
                         }));
  EXPECT_EQ(owner_.created, std::vector<int32_t>{PP_OK});
  EXPECT_FALSE(socket(0).bound_to) << "the first chain stopped at its resolution";
  EXPECT_EQ(socket(1).options.size(), 1u);
}

TEST_F(UDPSenderTest, SendPendingAtCloseIsForgottenAndTheNextSocketStartsWithNoneInFlight) {
  embedding_.socket_script.send_result = PP_ERROR_ABORTED;  // what a close does to it
  CreateReady();
  sender_.SendTo(std::string("pending"));
  sender_.Close();
  sender_.Create("255.255.255.255:47475", owner_.Created());
  RunUntilIdle();
  const std::vector<std::string> lines = TakeLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[ERR]: UDPSender: Send failed with: -3"), 0);
  sender_.SendTo(std::string("fresh"));
  EXPECT_EQ(SentBytes(1), std::vector<std::string>{"fresh"});
}

TEST_F(UDPSenderTest, SocketDroppedByASendFailureEndsTheChainItWasIn) {
  embedding_.socket_script.send_result = PP_ERROR_ADDRESS_UNREACHABLE;
  sender_.Create("255.255.255.255:47475", owner_.Created());
  sender_.SendTo(std::string("early"));  // bound already, so it is handed over
  TakeLines();
  RunUntilIdle();
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "[LOG]: UDPSender: Resolved: 255.255.255.255:47475",
                             "[LOG]: UDPSender: Binding ...",
                             "[ERR]: UDPSender: Send failed with: PP_ERROR_ADDRESS_UNREACHABLE",
                         }));
  EXPECT_FALSE(sender_.IsBound());
  EXPECT_TRUE(owner_.created.empty());
  EXPECT_TRUE(socket().options.empty());
}

}  // namespace
