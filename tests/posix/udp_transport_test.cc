// UDPSender and UDPReceiver on the real backend, over loopback.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/logger.h"
#include "common/udp_receiver.h"
#include "common/udp_sender.h"
#include "posix_fixture.h"

namespace posix_test {
namespace {

struct Datagram {
  int32_t result;
  std::thread::id thread;
  std::string bytes;
  bool zero_after = false;  // the buffer holds a zero right after the bytes
};

// An owner that keeps receiving after every datagram, as the modules do.
class Listener {
 public:
  explicit Listener(pp::Instance* instance) : receiver(instance) {}

  pp::CompletionCallbackWithOutput<char*> Callback() {
    return factory_.NewCallbackWithOutput(&Listener::OnDatagram);
  }
  void OnDatagram(int32_t result, char* const& data) {
    std::lock_guard<std::mutex> hold(mutex);
    if (receiver.IsStaleDelivery()) return;
    Datagram got{result, std::this_thread::get_id(), "", false};
    if (result > 0) {
      got.bytes.assign(data, static_cast<size_t>(result));
      got.zero_after = data[result] == '\0';
    }
    received.Push(got);
    if (result < 0 || (result == 0 && close_on_failure)) {
      if (close_on_failure) receiver.Close();
      return;
    }
    if (receive_loop.is_null()) {
      receiver.Receive(Callback());
    } else {
      receive_loop.PostWork(factory_.NewCallback(&Listener::ReceiveNext));
    }
  }
  void ReceiveNext(int32_t) {
    std::lock_guard<std::mutex> hold(mutex);
    receiver.Receive(Callback());
  }

  std::mutex mutex;  // taken by every entry, as a module instance does
  UDPReceiver receiver;
  Inbox<Datagram> received;
  // As a module: close on failure, and start each next receive on this loop.
  bool close_on_failure = false;
  pp::MessageLoop receive_loop;

 private:
  pp::CompletionCallbackFactory<Listener> factory_{this};
};

class Creator {
 public:
  pp::CompletionCallback Callback() { return factory_.NewCallback(&Creator::OnCreated); }
  void OnCreated(int32_t result) { created.Push(result); }
  Inbox<int32_t> created;

 private:
  pp::CompletionCallbackFactory<Creator> factory_{this};
};

class TransportOverLoopbackTest : public PosixPlatformTest {
 protected:
  TransportOverLoopbackTest()
      : instance_(&embedding_), listening_(&embedding_), sending_(&embedding_) {
    Logger::InitializeInstance(&instance_);
    listening_.Start();
    sending_.Start();
  }
  ~TransportOverLoopbackTest() override { Logger::ForgetInstance(&instance_); }

  // A port that was free a moment ago.
  uint16_t FreePort() {
    pp::UDPSocket probe(&embedding_);
    Inbox<int32_t> bound;
    RunOn(listening_.message_loop(), [&] {
      probe.Bind(pp::NetAddress::FromHostOrder(0, 0),
                 pp::CompletionCallback([&](int32_t result) { bound.Push(result); }));
    });
    EXPECT_EQ(bound.Wait(1).at(0), PP_OK);
    return probe.GetBoundAddress().port_host_order();
  }

  // The log lines of one class, in order.
  std::vector<std::string> LinesOf(const std::string& name) {
    std::vector<std::string> out;
    for (const std::string& line : lines()) {
      if (line.find(name) != std::string::npos) out.push_back(line);
    }
    return out;
  }

  pp::Instance instance_;
  pp::SimpleThread listening_;
  pp::SimpleThread sending_;
};

TEST_F(TransportOverLoopbackTest, DatagramsOfEverySizeGoFromSenderToReceiver) {
  const std::string port = std::to_string(FreePort());
  Listener listener(&instance_);
  Creator creator;
  UDPSender sender(&instance_);

  RunOn(listening_.message_loop(), [&] { listener.receiver.Create(port, listener.Callback()); });
  ASSERT_TRUE(WaitForLine("[LOG]: UDPReceiver: Successfully created."));
  RunOn(sending_.message_loop(), [&] { sender.Create("127.0.0.1:" + port, creator.Callback()); });
  ASSERT_EQ(creator.created.Wait(1), std::vector<int32_t>{PP_OK});
  ASSERT_TRUE(WaitForLine("[LOG]: UDPSender: Successfully created and set to broadcast."));
  EXPECT_EQ(LinesOf("UDPReceiver"), (std::vector<std::string>{
                                        "[LOG]: UDPReceiver: Binding ...: 0.0.0.0:" + port,
                                        "[LOG]: UDPReceiver: Successfully created.",
                                    }));
  EXPECT_EQ(LinesOf("UDPSender"),
            (std::vector<std::string>{
                "[LOG]: UDPSender: Resolving ... host name: 127.0.0.1, port: " + port + " 0",
                "[LOG]: UDPSender: Resolved: 127.0.0.1:" + port,
                "[LOG]: UDPSender: Binding ...",
                "[LOG]: UDPSender: Successfully created and set to broadcast.",
            }));

  const std::thread::id listening_thread = ThreadOf(listening_.message_loop());
  size_t count = 0;
  for (const size_t size : {size_t{1}, size_t{10}, size_t{1024}, size_t{0}}) {
    SCOPED_TRACE(size);
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>('A' + i % 26);
    RunOn(sending_.message_loop(), [&] { sender.SendTo(payload); });
    ++count;
    const Datagram got = listener.received.Wait(count).at(count - 1);
    EXPECT_EQ(got.result, static_cast<int32_t>(size));
    EXPECT_EQ(got.bytes, payload);
    EXPECT_EQ(got.thread, listening_thread) << "completes where the receive was started";
    if (size > 0) {
      EXPECT_TRUE(got.zero_after);
    }
    // The send's completion was queued on the sending loop before the datagram
    // arrived: once this has run, nothing is in flight and the next send goes.
    RunOn(sending_.message_loop(), [] {});
  }
  EXPECT_EQ(lines().size(), 6u) << "nothing else was logged";
}

TEST_F(TransportOverLoopbackTest, ClosingTheReceiverHandsTheAbortedReceiveToItsOwner) {
  const std::string port = std::to_string(FreePort());
  Listener listener(&instance_);
  RunOn(listening_.message_loop(), [&] { listener.receiver.Create(port, listener.Callback()); });
  ASSERT_TRUE(WaitForLine("[LOG]: UDPReceiver: Successfully created."));
  RunOn(sending_.message_loop(), [&] { listener.receiver.Close(); });
  const Datagram got = listener.received.Wait(1).at(0);
  EXPECT_EQ(got.result, PP_ERROR_ABORTED);
  EXPECT_EQ(got.thread, ThreadOf(listening_.message_loop()));
}

// Under ThreadSanitizer this is the check that the transport and the backend
// share their state safely: the receiver is closed and made again on one
// thread while datagrams arrive and are handled on two others.
TEST_F(TransportOverLoopbackTest, ReceiverRemadeWhileDatagramsArriveOnlyHandsOverWholeDatagrams) {
  const std::string port = std::to_string(FreePort());
  Listener listener(&instance_);
  listener.close_on_failure = true;
  listener.receive_loop = listening_.message_loop();
  Creator creator;
  UDPSender sender(&instance_);
  RunOn(sending_.message_loop(), [&] { sender.Create("127.0.0.1:" + port, creator.Callback()); });
  ASSERT_EQ(creator.created.Wait(1), std::vector<int32_t>{PP_OK});

  pp::SimpleThread upkeep(&embedding_);
  ASSERT_TRUE(upkeep.Start());
  const pp::CompletionCallback remake([&](int32_t) {
    std::lock_guard<std::mutex> hold(listener.mutex);
    if (listener.receiver.IsBound()) listener.receiver.Close();
    listener.receiver.Create(port, listener.Callback());
  });
  const pp::CompletionCallback send([&](int32_t) { sender.SendTo(std::string("datagram")); });
  const auto bound = [](const pp::Var& value) {
    return value.AsString() == "[LOG]: UDPReceiver: Successfully created.";
  };
  for (size_t round = 1; round <= 100; ++round) {
    upkeep.message_loop().PostWork(remake);
    // Once bound, a receive is pending; the next round closes the receiver
    // while these datagrams are on their way or being handled.
    ASSERT_TRUE(posted_.WaitFor(bound, round));
    for (int datagram = 0; datagram < 3; ++datagram) sending_.message_loop().PostWork(send);
  }
  RunOn(upkeep.message_loop(), [] {});
  RunOn(sending_.message_loop(), [] {});
  RunOn(upkeep.message_loop(), [&] {
    std::lock_guard<std::mutex> hold(listener.mutex);
    listener.receiver.Close();
  });
  RunOn(listening_.message_loop(), [] {});

  for (const Datagram& got : listener.received.items()) {
    if (got.result > 0) {
      EXPECT_EQ(got.bytes, "datagram");
      EXPECT_TRUE(got.zero_after);
    } else {
      // Aborted by a close; or, for a request for the next datagram that
      // arrives after the last close, the failure of receiving without a socket.
      EXPECT_TRUE(got.result == PP_ERROR_ABORTED || got.result == PP_ERROR_BADRESOURCE)
          << got.result;
    }
  }
}

}  // namespace
}  // namespace posix_test
