// UDP sockets over the kernel.
//
// Rules beyond those of every backend:
//  - A call refused at once (no current loop, bad arguments, wrong state)
//    returns its code and never completes. Sending or receiving needs a
//    socket whose Bind has completed with PP_OK; a second receive while one
//    is pending is refused with PP_ERROR_INPROGRESS; any call after Close
//    is refused with PP_ERROR_FAILED.
//  - SO_REUSEADDR is off unless PP_UDPSOCKET_OPTION_ADDRESS_REUSE was set to
//    true before Bind. A second socket on a port in use fails its Bind with
//    PP_ERROR_ADDRESS_IN_USE instead of silently sharing the datagrams.
//    Closing and binding the same port again works without it: UDP keeps no
//    state after close, and the close is carried out before any later bind
//    (both run in call order on the network thread).
//  - Broadcast and buffer sizes may be set before or after Bind.
//  - Releasing the last reference closes the socket, as Close does: a pending
//    operation completes with PP_ERROR_ABORTED (the operation keeps what it
//    needs alive until then).
//  - The bytes of a datagram reach the caller's buffer on the caller's loop,
//    just before the completion runs, and never after Close has returned.
//  - An ICMP error left on the socket by an earlier send (port or host
//    unreachable) does not end a pending receive; it goes on waiting.
#pragma once

#include <memory>

#include "platform/backend.h"

namespace posix {

class Network;
class UDPSocketCore;

class UDPSocket final : public pp::UDPSocketBackend {
 public:
  explicit UDPSocket(Network& network);
  ~UDPSocket() override;
  UDPSocket(const UDPSocket&) = delete;
  UDPSocket& operator=(const UDPSocket&) = delete;

  int32_t Bind(const pp::NetAddress& address, const pp::CompletionCallback& callback) override;
  int32_t SetOption(int32_t name, const pp::Var& value,
                    const pp::CompletionCallback& callback) override;
  int32_t SendTo(const char* buffer, int32_t num_bytes, const pp::NetAddress& address,
                 const pp::CompletionCallback& callback) override;
  int32_t RecvFrom(char* buffer, int32_t num_bytes,
                   const pp::CompletionCallbackWithOutput<pp::NetAddress>& callback) override;
  void Close() override;
  pp::NetAddress GetBoundAddress() const override;

 private:
  std::shared_ptr<UDPSocketCore> core_;
};

}  // namespace posix
