// Kernel UDP sockets and name resolution of the real platform, over loopback only.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "posix_fixture.h"

namespace posix_test {
namespace {

struct Completion {
  int32_t result;
  std::thread::id thread;
  pp::NetAddress source;
};

pp::CompletionCallback Into(Inbox<Completion>& inbox) {
  return pp::CompletionCallback([&inbox](int32_t result) {
    inbox.Push({result, std::this_thread::get_id(), pp::NetAddress()});
  });
}

pp::CompletionCallbackWithOutput<pp::NetAddress> ReceiveInto(Inbox<Completion>& inbox) {
  return pp::CompletionCallbackWithOutput<pp::NetAddress>(
      [&inbox](int32_t result, const pp::NetAddress& source) {
        inbox.Push({result, std::this_thread::get_id(), source});
      });
}

const pp::NetAddress kLoopbackAnyPort = pp::NetAddress::FromHostOrder(0x7F000001, 0);

class UDPSocketTest : public PosixPlatformTest {
 protected:
  UDPSocketTest() : a_(&embedding_), b_(&embedding_) {
    a_.Start();
    b_.Start();
  }

  // Binds `socket` on `loop` and returns the completion.
  Completion Bind(const pp::MessageLoop& loop, pp::UDPSocket& socket,
                  const pp::NetAddress& address) {
    Inbox<Completion> bound;
    RunOn(loop, [&] { EXPECT_EQ(socket.Bind(address, Into(bound)), PP_OK_COMPLETIONPENDING); });
    return bound.Wait(1).at(0);
  }
  // Sends on `loop` and returns the completion's result.
  int32_t Send(const pp::MessageLoop& loop, pp::UDPSocket& socket, const std::string& bytes,
               const pp::NetAddress& to) {
    Inbox<Completion> sent;
    int32_t immediate = 0;
    RunOn(loop, [&] {
      immediate = socket.SendTo(bytes.data(), static_cast<int32_t>(bytes.size()), to, Into(sent));
    });
    if (immediate != PP_OK_COMPLETIONPENDING) return immediate;
    return sent.Wait(1).at(0).result;
  }

  pp::SimpleThread a_;
  pp::SimpleThread b_;
};

TEST_F(UDPSocketTest, DatagramsOfEverySizeArriveWholeOnTheLoopThatAskedForThem) {
  pp::UDPSocket receiver(&embedding_);
  pp::UDPSocket sender(&embedding_);
  ASSERT_EQ(Bind(a_.message_loop(), receiver, kLoopbackAnyPort).result, PP_OK);
  ASSERT_EQ(Bind(b_.message_loop(), sender, kLoopbackAnyPort).result, PP_OK);
  const pp::NetAddress to = receiver.GetBoundAddress();
  ASSERT_NE(to.port_host_order(), 0) << "the platform picked a port";
  const std::thread::id a_thread = ThreadOf(a_.message_loop());
  const std::thread::id b_thread = ThreadOf(b_.message_loop());

  for (const size_t size : {size_t{1}, size_t{10}, size_t{1024}, size_t{0}}) {
    SCOPED_TRACE(size);
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>('a' + i % 26);
    std::vector<char> buffer(2048, '#');
    Inbox<Completion> received, sent;
    RunOn(a_.message_loop(), [&] {
      EXPECT_EQ(receiver.RecvFrom(buffer.data(), 2048, ReceiveInto(received)),
                PP_OK_COMPLETIONPENDING);
    });
    RunOn(b_.message_loop(), [&] {
      EXPECT_EQ(sender.SendTo(payload.data(), static_cast<int32_t>(size), to, Into(sent)),
                PP_OK_COMPLETIONPENDING);
    });

    const Completion send = sent.Wait(1).at(0);
    EXPECT_EQ(send.result, static_cast<int32_t>(size));
    EXPECT_EQ(send.thread, b_thread);
    const Completion receive = received.Wait(1).at(0);
    EXPECT_EQ(receive.result, static_cast<int32_t>(size));
    EXPECT_EQ(receive.thread, a_thread);
    EXPECT_EQ(receive.source, sender.GetBoundAddress());
    EXPECT_EQ(std::string(buffer.data(), size), payload);
    EXPECT_EQ(buffer[size], '#') << "nothing written past the datagram";
  }
}

TEST_F(UDPSocketTest, LongerDatagramIsCutToTheBuffer) {
  pp::UDPSocket receiver(&embedding_);
  pp::UDPSocket sender(&embedding_);
  ASSERT_EQ(Bind(a_.message_loop(), receiver, kLoopbackAnyPort).result, PP_OK);
  ASSERT_EQ(Bind(a_.message_loop(), sender, kLoopbackAnyPort).result, PP_OK);
  char buffer[10];
  Inbox<Completion> received;
  RunOn(a_.message_loop(), [&] { receiver.RecvFrom(buffer, 10, ReceiveInto(received)); });
  ASSERT_EQ(Send(a_.message_loop(), sender, std::string(100, 'x'), receiver.GetBoundAddress()),
            100);
  EXPECT_EQ(received.Wait(1).at(0).result, 10);
  EXPECT_EQ(std::string(buffer, 10), std::string(10, 'x'));
}

TEST_F(UDPSocketTest, CloseAbortsAPendingReceiveOnItsLoopAndRefusesLaterCalls) {
  pp::UDPSocket socket(&embedding_);
  ASSERT_EQ(Bind(a_.message_loop(), socket, kLoopbackAnyPort).result, PP_OK);
  char buffer[16];
  Inbox<Completion> received;
  RunOn(a_.message_loop(), [&] { socket.RecvFrom(buffer, 16, ReceiveInto(received)); });
  socket.Close();  // from a thread without a loop: Close needs none

  const Completion aborted = received.Wait(1).at(0);
  EXPECT_EQ(aborted.result, PP_ERROR_ABORTED);
  EXPECT_EQ(aborted.thread, ThreadOf(a_.message_loop()));
  RunOn(a_.message_loop(),
        [&] { EXPECT_EQ(socket.RecvFrom(buffer, 16, ReceiveInto(received)), PP_ERROR_FAILED); });
  EXPECT_TRUE(socket.GetBoundAddress().is_null());
}

TEST_F(UDPSocketTest, ReleasingTheSocketAbortsAPendingReceive) {
  auto socket = std::make_unique<pp::UDPSocket>(&embedding_);
  ASSERT_EQ(Bind(a_.message_loop(), *socket, kLoopbackAnyPort).result, PP_OK);
  auto buffer = std::make_unique<char[]>(16);
  Inbox<Completion> received;
  RunOn(a_.message_loop(), [&] { socket->RecvFrom(buffer.get(), 16, ReceiveInto(received)); });
  socket.reset();
  EXPECT_EQ(received.Wait(1).at(0).result, PP_ERROR_ABORTED);
}

TEST_F(UDPSocketTest, CallsFromAThreadWithoutALoopAreRefusedAndNeverComplete) {
  pp::UDPSocket socket(&embedding_);
  Inbox<Completion> completions;
  EXPECT_EQ(socket.Bind(kLoopbackAnyPort, Into(completions)), PP_ERROR_NO_MESSAGE_LOOP);
  pp::HostResolver resolver(&embedding_);
  EXPECT_EQ(resolver.Resolve("127.0.0.1", 1, PP_HostResolver_Hint(), Into(completions)),
            PP_ERROR_NO_MESSAGE_LOOP);
  // A completion, had there been one, would come after this round trip.
  ASSERT_EQ(Bind(a_.message_loop(), socket, kLoopbackAnyPort).result, PP_OK);
  EXPECT_TRUE(completions.items().empty());
}

TEST_F(UDPSocketTest, SendingAndReceivingNeedACompletedBind) {
  Inbox<Completion> completions;
  char buffer[4];
  pp::UDPSocket socket(&embedding_);
  RunOn(a_.message_loop(), [&] {
    EXPECT_EQ(socket.SendTo("x", 1, kLoopbackAnyPort, Into(completions)), PP_ERROR_FAILED);
    EXPECT_EQ(socket.RecvFrom(buffer, 4, ReceiveInto(completions)), PP_ERROR_FAILED);
    EXPECT_EQ(socket.Bind(kLoopbackAnyPort, Into(completions)), PP_OK_COMPLETIONPENDING);
    EXPECT_EQ(socket.Bind(kLoopbackAnyPort, Into(completions)), PP_ERROR_INPROGRESS);
    EXPECT_EQ(socket.SendTo("x", 1, kLoopbackAnyPort, Into(completions)), PP_ERROR_FAILED)
        << "not before the bind has completed";
  });
  EXPECT_EQ(completions.Wait(1).at(0).result, PP_OK);
  RunOn(a_.message_loop(), [&] {
    EXPECT_EQ(socket.RecvFrom(buffer, 4, ReceiveInto(completions)), PP_OK_COMPLETIONPENDING);
    EXPECT_EQ(socket.RecvFrom(buffer, 4, ReceiveInto(completions)), PP_ERROR_INPROGRESS);
  });
  socket.Close();
  EXPECT_EQ(completions.Wait(2).at(1).result, PP_ERROR_ABORTED);
}

TEST_F(UDPSocketTest, KernelErrorsReadAsPlatformCodes) {
  pp::UDPSocket first(&embedding_);
  pp::UDPSocket second(&embedding_);
  ASSERT_EQ(Bind(a_.message_loop(), first, kLoopbackAnyPort).result, PP_OK);
  EXPECT_EQ(Bind(a_.message_loop(), second, first.GetBoundAddress()).result,
            PP_ERROR_ADDRESS_IN_USE);

  // Neither datagram leaves: the kernel refuses both before sending anything.
  EXPECT_EQ(Send(a_.message_loop(), first, std::string(70000, 'x'), first.GetBoundAddress()),
            PP_ERROR_MESSAGE_TOO_BIG);
  const pp::NetAddress loopback_broadcast = pp::NetAddress::FromHostOrder(0x7FFFFFFF, 9);
  EXPECT_EQ(Send(a_.message_loop(), first, "x", loopback_broadcast), PP_ERROR_NOACCESS)
      << "broadcast without the broadcast option";
}

TEST_F(UDPSocketTest, AnICMPRefusalDoesNotEndAPendingReceive) {
  char buffer[16];
  Inbox<Completion> received;
  pp::UDPSocket socket(&embedding_);
  pp::UDPSocket peer(&embedding_);
  ASSERT_EQ(Bind(a_.message_loop(), socket, kLoopbackAnyPort).result, PP_OK);
  ASSERT_EQ(Bind(b_.message_loop(), peer, kLoopbackAnyPort).result, PP_OK);
  pp::NetAddress closed_port;
  {
    pp::UDPSocket gone(&embedding_);
    ASSERT_EQ(Bind(b_.message_loop(), gone, kLoopbackAnyPort).result, PP_OK);
    closed_port = gone.GetBoundAddress();
  }
  RunOn(a_.message_loop(), [&] { socket.RecvFrom(buffer, 16, ReceiveInto(received)); });
  // The kernel answers this one with "port unreachable".
  Send(a_.message_loop(), socket, "nobody", closed_port);
  Send(a_.message_loop(), socket, "nobody", closed_port);
  ASSERT_EQ(Send(b_.message_loop(), peer, "hello", socket.GetBoundAddress()), 5);

  EXPECT_EQ(received.Wait(1).at(0).result, 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
}

TEST_F(UDPSocketTest, OptionsAreCheckedAndMaySetBeforeOrAfterBind) {
  pp::UDPSocket socket(&embedding_);
  Inbox<Completion> set;
  RunOn(a_.message_loop(), [&] {
    EXPECT_EQ(socket.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(1), Into(set)),
              PP_ERROR_BADARGUMENT);
    EXPECT_EQ(socket.SetOption(PP_UDPSOCKET_OPTION_BROADCAST, pp::Var(true), Into(set)),
              PP_OK_COMPLETIONPENDING);
  });
  EXPECT_EQ(set.Wait(1).at(0).result, PP_OK);
  ASSERT_EQ(Bind(a_.message_loop(), socket, kLoopbackAnyPort).result, PP_OK);
  RunOn(a_.message_loop(), [&] {
    EXPECT_EQ(socket.SetOption(PP_UDPSOCKET_OPTION_ADDRESS_REUSE, pp::Var(true), Into(set)),
              PP_ERROR_FAILED)
        << "address reuse only before bind";
    EXPECT_EQ(socket.SetOption(PP_UDPSOCKET_OPTION_RECV_BUFFER_SIZE, pp::Var(65536), Into(set)),
              PP_OK_COMPLETIONPENDING);
  });
  EXPECT_EQ(set.Wait(2).at(1).result, PP_OK);
}

TEST_F(UDPSocketTest, AddressReuseLetsTwoSocketsShareAPort) {
  pp::UDPSocket first(&embedding_);
  pp::UDPSocket second(&embedding_);
  Inbox<Completion> set;
  RunOn(a_.message_loop(), [&] {
    first.SetOption(PP_UDPSOCKET_OPTION_ADDRESS_REUSE, pp::Var(true), Into(set));
    second.SetOption(PP_UDPSOCKET_OPTION_ADDRESS_REUSE, pp::Var(true), Into(set));
  });
  set.Wait(2);
  ASSERT_EQ(Bind(a_.message_loop(), first, kLoopbackAnyPort).result, PP_OK);
  EXPECT_EQ(Bind(a_.message_loop(), second, first.GetBoundAddress()).result, PP_OK);
}

TEST_F(UDPSocketTest, ResolvesANumericAddressOnTheAskingLoop) {
  pp::HostResolver resolver(&embedding_);
  Inbox<Completion> resolved;
  RunOn(a_.message_loop(), [&] {
    EXPECT_EQ(resolver.Resolve("127.0.0.1", 47475, PP_HostResolver_Hint(), Into(resolved)),
              PP_OK_COMPLETIONPENDING);
  });
  const Completion done = resolved.Wait(1).at(0);
  EXPECT_EQ(done.result, PP_OK);
  EXPECT_EQ(done.thread, ThreadOf(a_.message_loop()));
  ASSERT_EQ(resolver.GetNetAddressCount(), 1u);
  EXPECT_EQ(resolver.GetNetAddress(0).DescribeAsString(true).AsString(), "127.0.0.1:47475");
}

TEST_F(UDPSocketTest, AnEmptyHostNameIsNotResolved) {
  pp::HostResolver resolver(&embedding_);
  Inbox<Completion> resolved;
  RunOn(a_.message_loop(),
        [&] { resolver.Resolve("", 80, PP_HostResolver_Hint(), Into(resolved)); });
  EXPECT_EQ(resolved.Wait(1).at(0).result, PP_ERROR_NAME_NOT_RESOLVED);
  EXPECT_EQ(resolver.GetNetAddressCount(), 0u);
}

}  // namespace
}  // namespace posix_test
