// A UDP socket of a simulated host (pp::UDPSocketBackend).
//
// Results come the platform's way: an operation returns PP_OK_COMPLETIONPENDING
// and later completes, on the loop that was current when it started, with its
// result. Refused at once (the completion never runs): no current loop
// (PP_ERROR_NO_MESSAGE_LOOP), a closed socket (PP_ERROR_FAILED), a bad buffer or
// size (PP_ERROR_BADARGUMENT), a second pending receive (PP_ERROR_INPROGRESS),
// and the host's send_immediate refusals. Everything else - a port in use, an
// address not the host's, sending before bind, a broadcast without the
// broadcast option (PP_ERROR_NOACCESS), no route, a datagram over 65507 bytes
// (PP_ERROR_MESSAGE_TOO_BIG), injected faults - arrives through the completion.
//
// A completion that runs after Close reports PP_ERROR_ABORTED instead of its
// result; a receive copies its datagram into the caller's buffer only when its
// completion runs, so a closed socket never writes into a buffer again.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "platform/backend.h"
#include "platform/sim/network.h"

namespace sim {

class Host;
class Lan;
class SimLoop;

constexpr int32_t kMaxDatagramBytes = 65507;

class SimSocket : public pp::UDPSocketBackend, public std::enable_shared_from_this<SimSocket> {
 public:
  SimSocket(Lan& lan, Host& host);
  ~SimSocket() override;

  int32_t Bind(const pp::NetAddress& address, const pp::CompletionCallback& callback) override;
  int32_t SetOption(int32_t name, const pp::Var& value,
                    const pp::CompletionCallback& callback) override;
  int32_t SendTo(const char* buffer, int32_t num_bytes, const pp::NetAddress& address,
                 const pp::CompletionCallback& callback) override;
  int32_t RecvFrom(char* buffer, int32_t num_bytes,
                   const pp::CompletionCallbackWithOutput<pp::NetAddress>& callback) override;
  void Close() override;
  pp::NetAddress GetBoundAddress() const override;

  // The network hands over a datagram that arrived for this socket. False when
  // the receive queue is full and the datagram is dropped.
  bool Receive(const Datagram& datagram);
  uint32_t bound_address() const { return bound_address_; }

 private:
  struct PendingReceive {
    char* buffer;
    int32_t capacity;
    pp::CompletionCallbackWithOutput<pp::NetAddress> callback;
    std::shared_ptr<SimLoop> loop;
    bool completion_queued;
    // What the queued completion hands over: a datagram, or an error.
    std::optional<Datagram> datagram;
    int32_t error;
  };

  // Queues `callback` with `result` on `loop`, or PP_ERROR_ABORTED if the
  // socket has been closed by the time it runs.
  void Complete(const std::shared_ptr<SimLoop>& loop, const pp::CompletionCallback& callback,
                int32_t result);
  // Queues the pending receive's completion: `datagram`, or `error` without one.
  void CompleteReceive(std::optional<Datagram> datagram, int32_t error);
  void FinishReceive();
  std::string BoundText() const;

  Lan& lan_;
  Host& host_;
  bool closed_ = false;
  bool bound_ = false;
  bool broadcast_ = false;
  uint32_t bound_address_ = 0;
  uint16_t port_ = 0;
  std::optional<PendingReceive> pending_receive_;
  std::deque<Datagram> queue_;
};

}  // namespace sim
