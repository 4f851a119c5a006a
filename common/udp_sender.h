// Sends datagrams to one destination, given as a host-and-port text, from a
// socket allowed to broadcast.
//
// Create runs a chain of platform steps (resolve the host, bind to every local
// address and a free port, switch broadcasting on); the owner's callback runs
// with PP_OK once every step has succeeded, and each failed step logs one line
// and stops the chain. SendTo keeps at most one datagram in flight and drops,
// silently, a datagram offered while another is in flight. A send that
// completes with PP_ERROR_ADDRESS_UNREACHABLE or PP_ERROR_FAILED drops the
// socket (IsBound turns false), which tells the owner to create it again.
//
// Threads. Calls and completions may come from different threads: the sender
// guards its own state and never holds its lock while it runs the owner's
// callback.
//
// Identity of chains. Each Create starts a new generation, and Close (or a
// send failure that drops the socket) ends the current one. A completion of
// an ended generation changes nothing and logs nothing: a chain overtaken by
// Close and Create does not act on the newer socket, and the send pending on
// a closed socket is forgotten (a new socket starts with no send in flight).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/pp.h"

class UDPSender {
 public:
  explicit UDPSender(pp::Instance* instance);
  // Releases the socket and resolver without Close and without a log line;
  // completions that fire afterwards do nothing.
  ~UDPSender();
  UDPSender(const UDPSender&) = delete;
  UDPSender& operator=(const UDPSender&) = delete;

  // Starts the creation chain towards `host_and_port` ("host:port"; without a
  // colon, the whole text is the host and the port is 80) on a new socket and
  // resolver, releasing any earlier ones. `callback` runs with PP_OK when the
  // chain has succeeded; it does not run when a step fails.
  void Create(const std::string& host_and_port, pp::CompletionCallback callback);
  // Sends `size` bytes from `data` as one datagram to the resolved
  // destination. The platform copies the bytes during the call.
  void SendTo(const char* data, int size);
  // Sends the text's bytes (its length, no terminating zero).
  void SendTo(const std::string& data);
  // True while the sender holds a socket, whether or not its chain has
  // finished or succeeded.
  bool IsBound();
  // Closes and drops the socket.
  void Close();

 private:
  void OnResolveCompletion(int32_t result, uint64_t generation);
  void OnBindCompletion(int32_t result, uint64_t generation);
  void OnSetBroadcastOption(int32_t result, uint64_t generation);
  void OnSendToCompletion(int32_t result, uint64_t generation);
  // Closes and forgets the socket, ending its generation. Lock held.
  void DropSocketLocked();

  pp::InstanceHandle instance_handle_;
  pp::CompletionCallbackFactory<UDPSender> callback_factory_;
  std::mutex mutex_;
  pp::HostResolver resolver_;
  pp::UDPSocket socket_;
  pp::NetAddress destination_;
  pp::CompletionCallback create_callback_;
  bool send_in_flight_ = false;
  uint64_t generation_ = 0;
};
