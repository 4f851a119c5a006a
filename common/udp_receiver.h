// Listens on one UDP port of every local address and hands each datagram to
// its owner, one at a time, in a buffer of its own.
//
// The owner calls Create once (the first receive starts by itself once the
// bind has succeeded), then Receive after it has dealt with each datagram.
// The owner's callback gets the byte count and the buffer (1 to 1024 bytes),
// 0 for an empty datagram, or a negative platform code; the buffer address is
// written only for a count of 1 or more. The buffer has one byte more than a
// datagram can fill, always zero, so every datagram reads safely as a
// zero-terminated text.
//
// Threads. Every call and completion may come from a different thread: the
// receiver guards its own state, and never holds its lock while it runs the
// owner's callback, so the owner may call back into it from there.
//
// Identity of sockets. Each socket that Create makes is a new generation.
//  - A bind completion of a socket that has been closed or replaced since
//    changes nothing and logs nothing.
//  - A receive that completes for a socket that has been replaced since is
//    dropped: it never reaches an owner's callback.
//  - A receive of a socket that was closed and not replaced still reaches the
//    owner's callback, with the error the platform reports for it (a pending
//    receive ends with PP_ERROR_ABORTED when its socket is closed).
//  - The receiver checks the generation before it runs the owner's callback,
//    without the owner's lock. Between that check and the owner taking its
//    lock, another thread of the owner may close and create the receiver
//    again. So an owner whose threads share the receiver asks, under its own
//    lock and first thing in its callback:
//
//      void Owner::OnDatagram(int32_t result, char* const& data) {
//        std::lock_guard<std::mutex> hold(lock_);
//        if (receiver_.IsStaleDelivery()) return;  // an older socket's: ignore
//        ...
//
// One receive at a time: Receive does nothing while a bind or a receive is
// still pending on the current socket. A Receive made while the current
// socket's latest datagram is still being handed to the owner on another
// thread is held back, and goes ahead (from that thread) as soon as that
// delivery has returned: going ahead at once would clear the buffer under its
// reader, and dropping it would end the owner's receive loop for good (the
// owner's next request may overtake the end of the delivery that queued it).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/pp.h"

class UDPReceiver {
 public:
  // The largest datagram handed to the owner; longer ones are cut to it.
  static constexpr int32_t kMaxDatagramBytes = 1024;

  explicit UDPReceiver(pp::Instance* instance);
  // Releases the socket without Close and without a log line; completions
  // that fire afterwards do nothing.
  ~UDPReceiver();
  UDPReceiver(const UDPReceiver&) = delete;
  UDPReceiver& operator=(const UDPReceiver&) = delete;

  // Makes a socket and binds it to `port` (decimal text, read as atoi reads
  // it, modulo 65536) on every local address; once bound, the first receive
  // reports to `callback`. Returns 1 when the receiver already had a socket
  // (nothing else happens), otherwise the immediate result of the bind.
  int Create(const std::string& port, pp::CompletionCallbackWithOutput<char*> callback);
  // Starts the next receive, which reports to `callback`; clears the buffer.
  // Without a socket the platform reports the failure through `callback`.
  void Receive(pp::CompletionCallbackWithOutput<char*> callback);
  // True while the receiver holds a socket, bound or not, bind failed or not.
  bool IsBound();
  // True when the socket it holds failed to bind: it will never receive, and
  // the owner's upkeep makes it again.
  bool BindFailed();
  // Closes and drops the socket.
  void Close();

  // Called from inside the owner's callback: true when the receive being
  // delivered on this thread belongs to a socket older than the receiver's
  // current one (see above). False outside a delivery.
  bool IsStaleDelivery();

 private:
  enum class Pending { kNothing, kBind, kReceive };

  void OnBindCompletion(int32_t result, uint64_t generation);
  void OnReceiveFromCompletion(int32_t result, const pp::NetAddress& source, uint64_t generation);
  // Issues one receive on `socket_` for the current generation. Lock held.
  void StartReceiveLocked();
  // A delivery of the current socket is running on a thread other than this one. Lock held.
  bool DeliveryRunningElsewhereLocked() const;

  pp::InstanceHandle instance_handle_;
  pp::CompletionCallbackFactory<UDPReceiver> callback_factory_;
  std::mutex mutex_;
  pp::CompletionCallbackWithOutput<char*> receive_callback_;
  pp::UDPSocket socket_;
  char receive_buffer_[kMaxDatagramBytes + 1];
  // The socket made by the latest Create.
  uint64_t generation_ = 0;
  Pending pending_ = Pending::kNothing;
  bool bind_failed_ = false;  // the current socket's bind failed
  // A Receive held back until another thread's delivery has returned.
  bool receive_held_back_ = false;
  pp::CompletionCallbackWithOutput<char*> held_back_callback_;
  // The generation of each delivery running now, by the thread running it.
  std::vector<std::pair<std::thread::id, uint64_t>> deliveries_;
};
