#include "common/udp_receiver.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "scripted_fixture.h"

namespace {

// What the owner's callback was told, each time it ran.
struct Delivery {
  int32_t result;
  char* data;
  std::string text;  // the buffer read as a zero-terminated text, when there is one
};

char untouched_marker[] = "untouched";
char* const kUntouched = untouched_marker;

class Owner {
 public:
  // A callback whose output starts as kUntouched.
  pp::CompletionCallbackWithOutput<char*> Callback() {
    auto callback = factory_.NewCallbackWithOutput(&Owner::OnReceive);
    *callback.output() = kUntouched;
    return callback;
  }
  void OnReceive(int32_t result, char* const& data) {
    deliveries.push_back({result, data, data && data != kUntouched ? std::string(data) : ""});
    if (then) then(result, data);
  }

  std::vector<Delivery> deliveries;
  std::function<void(int32_t, char*)> then;  // what the owner does next, if anything

 private:
  pp::CompletionCallbackFactory<Owner> factory_{this};
};

class UDPReceiverTest : public ScriptedPlatformTest {
 protected:
  // A receiver bound on `port` whose first receive is pending; the set-up lines are dropped.
  void CreateBound(const std::string& port = "47475") {
    ASSERT_EQ(receiver_.Create(port, owner_.Callback()), PP_OK_COMPLETIONPENDING);
    RunUntilIdle();
    ASSERT_TRUE(embedding_.sockets().back()->pending_receive);
    TakeLines();
  }
  scripted::SocketRecord& socket(size_t index = 0) { return embedding_.socket(index); }

  Owner owner_;
  UDPReceiver receiver_{&instance_};
};

TEST_F(UDPReceiverTest, CreateBindsEveryLocalAddressThenTheFirstDatagramReachesCreatesCallback) {
  EXPECT_FALSE(receiver_.IsBound());
  EXPECT_EQ(receiver_.Create("47475", owner_.Callback()), PP_OK_COMPLETIONPENDING);
  EXPECT_TRUE(receiver_.IsBound());
  EXPECT_EQ(TakeLines(),
            std::vector<std::string>{"[LOG]: UDPReceiver: Binding ...: 0.0.0.0:47475"});
  EXPECT_FALSE(socket().pending_receive) << "no receive before the bind has completed";

  RunUntilIdle();
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"[LOG]: UDPReceiver: Successfully created."});
  ASSERT_TRUE(socket().pending_receive);
  EXPECT_EQ(socket().pending_receive->capacity, 1024);

  socket().Deliver("hello");
  RunUntilIdle();
  ASSERT_EQ(owner_.deliveries.size(), 1u);
  EXPECT_EQ(owner_.deliveries[0].result, 5);
  EXPECT_EQ(owner_.deliveries[0].text, "hello");
  EXPECT_TRUE(TakeLines().empty()) << "a receive logs nothing";
}

TEST_F(UDPReceiverTest, PortTextIsReadAsAtoiReadsItModulo65536) {
  struct Case {
    const char* text;
    uint16_t port;
  };
  for (const Case& c : {Case{"47475", 47475}, Case{"abc", 0}, Case{"", 0}, Case{"70000", 4464},
                        Case{"-1", 65535}, Case{" 80x", 80}}) {
    UDPReceiver receiver(&instance_);
    receiver.Create(c.text, owner_.Callback());
    ASSERT_TRUE(embedding_.sockets().back()->bound_to);
    EXPECT_EQ(embedding_.sockets().back()->bound_to->port_host_order(), c.port) << c.text;
    EXPECT_EQ(embedding_.sockets().back()->bound_to->address_host_order(), 0u);
    receiver.Close();
  }
}

TEST_F(UDPReceiverTest, WhatTheOwnerIsToldForEachKindOfResult) {
  struct Case {
    const char* name;
    std::function<void(scripted::SocketRecord&)> arrive;
    int32_t result;
    bool buffer_handed_over;
    size_t datagram_size;
  };
  const Case cases[] = {
      {"10 bytes", [](auto& s) { s.Deliver(std::string(10, 'a')); }, 10, true, 10},
      {"1024 bytes", [](auto& s) { s.Deliver(std::string(1024, 'b')); }, 1024, true, 1024},
      {"longer than 1024", [](auto& s) { s.Deliver(std::string(1500, 'c')); }, 1024, true, 1024},
      {"empty", [](auto& s) { s.Deliver(""); }, 0, false, 0},
      {"error", [](auto& s) { s.FailReceive(PP_ERROR_FAILED); }, PP_ERROR_FAILED, false, 0},
  };
  CreateBound();
  // A full-size datagram first, so that a later short one shows whether the buffer was cleared.
  socket().Deliver(std::string(1024, 'x'));
  RunUntilIdle();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    owner_.deliveries.clear();
    receiver_.Receive(owner_.Callback());
    c.arrive(socket());
    RunUntilIdle();
    ASSERT_EQ(owner_.deliveries.size(), 1u);
    const Delivery& delivery = owner_.deliveries[0];
    EXPECT_EQ(delivery.result, c.result);
    if (!c.buffer_handed_over) {
      EXPECT_EQ(delivery.data, kUntouched);
      continue;
    }
    ASSERT_NE(delivery.data, kUntouched);
    EXPECT_EQ(delivery.text.size(), c.datagram_size) << "ends at the datagram's end";
    for (size_t i = c.datagram_size; i <= 1024; ++i) {
      ASSERT_EQ(delivery.data[i], '\0') << "byte " << i;
    }
  }
}

TEST_F(UDPReceiverTest, SecondCreateOnlyWarnsAndKeepsThePendingReceiveAndItsCallback) {
  CreateBound();
  Owner other;
  EXPECT_EQ(receiver_.Create("5000", other.Callback()), 1);
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"[WARN]: UDPReceiver: Already bound."});
  EXPECT_EQ(embedding_.sockets().size(), 1u);

  socket().Deliver("x");
  RunUntilIdle();
  EXPECT_EQ(owner_.deliveries.size(), 1u);
  EXPECT_TRUE(other.deliveries.empty());
}

TEST_F(UDPReceiverTest, RefusedBindIsLoggedAtOnce) {
  struct Case {
    const char* name;
    bool refuse_socket;
    int32_t bind_returns;
    std::vector<std::string> lines;
    bool bound;
  };
  const Case cases[] = {
      // The platform made no socket: the bind on the null object is refused and still completes.
      {"no socket",
       true,
       PP_OK_COMPLETIONPENDING,
       {"[LOG]: UDPReceiver: Binding ...: 0.0.0.0:47475",
        "[ERR]: UDPReceiver: Error binding listening socket.",
        "[ERR]: UDPReceiver: Connection failed: -5"},
       false},
      {"bind refused",
       false,
       PP_ERROR_NOACCESS,
       {"[LOG]: UDPReceiver: Binding ...: 0.0.0.0:47475",
        "[ERR]: UDPReceiver: Error binding listening socket."},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    embedding_.refuse_sockets = c.refuse_socket;
    embedding_.socket_script.bind_returns = c.bind_returns;
    Owner owner;
    UDPReceiver receiver(&instance_);
    EXPECT_NE(receiver.Create("47475", owner.Callback()), PP_OK_COMPLETIONPENDING);
    RunUntilIdle();
    EXPECT_EQ(TakeLines(), c.lines);
    EXPECT_EQ(receiver.IsBound(), c.bound);
    EXPECT_TRUE(owner.deliveries.empty());
  }
}

TEST_F(UDPReceiverTest, FailedBindStallsUntilCloseAndCreate) {
  embedding_.socket_script.bind_result = PP_ERROR_ADDRESS_IN_USE;
  receiver_.Create("47475", owner_.Callback());
  RunUntilIdle();
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{"[LOG]: UDPReceiver: Binding ...: 0.0.0.0:47475",
                                                   "[ERR]: UDPReceiver: Connection failed: -108"}));
  EXPECT_TRUE(receiver_.IsBound());
  EXPECT_EQ(socket().receives_started, 0);
  EXPECT_TRUE(owner_.deliveries.empty());

  EXPECT_EQ(receiver_.Create("47475", owner_.Callback()), 1);
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"[WARN]: UDPReceiver: Already bound."});

  embedding_.socket_script.bind_result = PP_OK;
  receiver_.Close();
  receiver_.Create("47475", owner_.Callback());
  RunUntilIdle();
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{"[LOG]: UDPReceiver: Closed connection.",
                                                   "[LOG]: UDPReceiver: Binding ...: 0.0.0.0:47475",
                                                   "[LOG]: UDPReceiver: Successfully created."}));
  EXPECT_TRUE(socket(1).pending_receive);
}

TEST_F(UDPReceiverTest, CloseTwiceClosesOnceThenSaysNotBound) {
  CreateBound();
  receiver_.Close();
  receiver_.Close();
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "[LOG]: UDPReceiver: Closed connection.",
                             "[ERR]: UDPReceiver: Not bound. No need to close.",
                         }));
  EXPECT_TRUE(socket().closed);
  EXPECT_FALSE(receiver_.IsBound());
}

TEST_F(UDPReceiverTest, ClosingWithAReceivePendingHandsItsErrorToTheOwner) {
  CreateBound();
  owner_.then = [&](int32_t result, char*) {
    if (result <= 0) receiver_.Close();  // as the module's receive loop does
  };
  receiver_.Close();
  RunUntilIdle();
  ASSERT_EQ(owner_.deliveries.size(), 1u);
  EXPECT_EQ(owner_.deliveries[0].result, PP_ERROR_ABORTED);
  EXPECT_EQ(TakeLines(), (std::vector<std::string>{
                             "[LOG]: UDPReceiver: Closed connection.",
                             "[ERR]: UDPReceiver: Not bound. No need to close.",
                         }));
}

TEST_F(UDPReceiverTest, ReceiveWithoutASocketReportsTheFailureThroughTheCallback) {
  receiver_.Receive(owner_.Callback());
  RunUntilIdle();
  ASSERT_EQ(owner_.deliveries.size(), 1u);
  EXPECT_EQ(owner_.deliveries[0].result, PP_ERROR_BADRESOURCE);
  EXPECT_EQ(owner_.deliveries[0].data, kUntouched);
}

TEST_F(UDPReceiverTest, ReceiveWhileOneIsPendingIsIgnored) {
  CreateBound();
  Owner other;
  receiver_.Receive(other.Callback());
  EXPECT_EQ(socket().receives_started, 1);
  socket().Deliver("once");
  RunUntilIdle();
  EXPECT_EQ(owner_.deliveries.size(), 1u);
  EXPECT_TRUE(other.deliveries.empty());
}

// ---- completions that belong to a socket closed or replaced since ---------------

TEST_F(UDPReceiverTest, BindCompletionAfterCloseDoesNothing) {
  receiver_.Create("47475", owner_.Callback());
  receiver_.Close();
  TakeLines();
  RunUntilIdle();
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_EQ(socket().receives_started, 0);
  EXPECT_TRUE(owner_.deliveries.empty());
}

TEST_F(UDPReceiverTest, OldSocketsBindCompletionDoesNotTouchTheNewSocket) {
  embedding_.socket_script.bind_result = PP_ERROR_FAILED;  // the old socket's bind fails
  receiver_.Create("47475", owner_.Callback());
  receiver_.Close();
  embedding_.socket_script.bind_result = PP_OK;
  receiver_.Create("47476", owner_.Callback());
  TakeLines();
  RunUntilIdle();
  EXPECT_EQ(TakeLines(), std::vector<std::string>{"[LOG]: UDPReceiver: Successfully created."});
  EXPECT_EQ(socket(0).receives_started, 0);
  EXPECT_EQ(socket(1).receives_started, 1);
}

TEST_F(UDPReceiverTest, OldSocketsReceiveCompletionNeverReachesTheOwnerOnceANewSocketExists) {
  for (const bool datagram : {true, false}) {
    SCOPED_TRACE(datagram ? "datagram taken in before the close" : "aborted by the close");
    Owner owner;
    UDPReceiver receiver(&instance_);
    receiver.Create("47475", owner.Callback());
    RunUntilIdle();
    scripted::SocketRecord& old_socket = *embedding_.sockets().back();
    if (datagram) old_socket.Deliver("old");
    receiver.Close();  // aborts the receive, if still pending
    receiver.Create("47475", owner.Callback());
    RunUntilIdle();
    EXPECT_TRUE(owner.deliveries.empty());

    embedding_.sockets().back()->Deliver("new");
    RunUntilIdle();
    ASSERT_EQ(owner.deliveries.size(), 1u);
    EXPECT_EQ(owner.deliveries[0].text, "new");
    receiver.Close();
  }
}

TEST_F(UDPReceiverTest, RequestFromAnotherThreadWaitsUntilTheDatagramHasBeenHandled) {
  CreateBound();
  Owner next;
  std::string read_after;
  int receives_during_delivery = -1;
  owner_.then = [&](int32_t, char* data) {
    // The owner's receive loop on another thread asks for the next datagram
    // while this one is still being handed over: it must neither clear the
    // buffer under its reader nor be lost.
    std::thread other([&] { receiver_.Receive(next.Callback()); });
    other.join();
    receives_during_delivery = socket().receives_started;
    read_after = data;
  };
  socket().Deliver("keep me");
  RunUntilIdle();
  EXPECT_EQ(read_after, "keep me");
  EXPECT_EQ(receives_during_delivery, 1);
  EXPECT_EQ(socket().receives_started, 2) << "the held-back request goes ahead afterwards";

  owner_.then = nullptr;
  socket().Deliver("next one");
  RunUntilIdle();
  ASSERT_EQ(next.deliveries.size(), 1u);
  EXPECT_EQ(next.deliveries[0].text, "next one");
}

TEST_F(UDPReceiverTest, HeldBackRequestIsForgottenWhenTheSocketIsReplaced) {
  CreateBound();
  Owner next;
  owner_.then = [&](int32_t, char*) {
    std::thread other([&] { receiver_.Receive(next.Callback()); });
    other.join();
    receiver_.Close();
    receiver_.Create("47475", owner_.Callback());
  };
  socket(0).Deliver("old");
  RunUntilIdle();
  EXPECT_EQ(socket(0).receives_started, 1) << "nothing more on the closed socket";
  EXPECT_TRUE(next.deliveries.empty());
}

TEST_F(UDPReceiverTest, DeliveryIsStaleWhenANewSocketWasMadeBeforeTheOwnerGotToIt) {
  CreateBound();
  EXPECT_FALSE(receiver_.IsStaleDelivery()) << "outside a delivery";
  std::vector<bool> stale;
  owner_.then = [&](int32_t, char*) {
    if (stale.empty()) {
      stale.push_back(receiver_.IsStaleDelivery());
      receiver_.Receive(owner_.Callback());
      return;
    }
    // As if another thread of the owner closed and made the receiver again
    // between the receiver's check and the owner taking its lock.
    receiver_.Close();
    receiver_.Create("47475", owner_.Callback());
    stale.push_back(receiver_.IsStaleDelivery());
  };
  socket().Deliver("current");
  RunUntilIdle();
  socket().Deliver("overtaken");
  RunUntilIdle();
  EXPECT_EQ(stale, (std::vector<bool>{false, true}));
}

}  // namespace
