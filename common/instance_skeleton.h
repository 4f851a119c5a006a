// The skeleton both module instances are built on: the two worker threads, the
// 100 ms tick loop on mainThread, the receive loop, the upkeep of the receiver
// and of the broadcast sender, the reply rule and the clock.
//
// Threads. Three threads enter an instance: the platform's main thread (Init,
// page messages, destruction), mainThread (ticks, and the first datagram after
// each set-up of the receiver) and receivingThread (every later datagram). Every
// entry point takes the instance lock for its whole handler, so the logic and
// the sockets are never used by two threads at once. The lock is recursive
// because a refused PostWork runs its completion at once, inside the handler.
//
// Senders. A sender is used only once its set-up has finished: until then it
// has no usable socket, and a send on it would fail and make the sender drop
// the socket it is still setting up. At a re-check, a sender whose set-up
// never finished (one of its steps failed) is made again like a missing one;
// so is a receiver whose bind failed.
//
// Destruction. The derived instance calls Shutdown first: it logs the death
// line under the instance lock (a tick or datagram still being handled on a
// worker thread finishes first, and the tick and receive handlers that come
// later return at once, so none of them runs after that line), makes both
// worker loops quit and joins them, closes the sockets, and cancels every
// completion, so nothing that fires later reaches the instance.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "common/socket_upkeep.h"
#include "common/udp_receiver.h"
#include "common/udp_sender.h"
#include "platform/pp.h"

class InstanceSkeleton : public pp::Instance {
 public:
  static constexpr int64_t kTickDelayMs = 100;

  bool Init(uint32_t argc, const char* argn[], const char* argv[]) override;
  void HandleMessage(const pp::Var& message) final;

  // Wall-clock milliseconds since 1970-01-01 00:00 UTC, read anew on every call.
  int64_t GetCurentTick() const;

 protected:
  InstanceSkeleton(PP_Instance instance, CounterOnChange listener_counter_on_change);
  ~InstanceSkeleton() override;

  // What the module does with a page message, a tick and a datagram. Each runs
  // with the instance lock held.
  virtual void OnPageMessage(const pp::Var& message) = 0;
  virtual void OnTickAfterUpkeep() {}
  virtual void OnDatagram(const char* data, int32_t size) = 0;
  virtual std::string ListenPort() = 0;
  virtual std::string CastIpPort() = 0;
  // Closes the module's sockets in its own order, at destruction.
  virtual void CloseSockets() = 0;

  void Shutdown(const char* death_line);

  void PostMessageToNaCl(const std::string& key, const std::string& value);
  void PostMessageToNaCl(const pp::VarDictionary& message);
  // Posts `message` when it has at least one entry: an empty one means "nothing to say".
  void PostMessageIfNotEmpty(const pp::VarDictionary& message);

  // The tick loop.
  void RunMainThread();
  void RunMainThreadCallback(int32_t result);
  void PrepareListener();
  void PrepareSyncPacketCaster();
  // `chain` numbers the Create it reports on; only the latest one counts.
  void SenderCreateCallback(int32_t result, uint64_t chain);
  // True when `sender` has a socket whose set-up has finished.
  bool SenderReady();

  // The receive loop.
  void ListenPacketCallback(int32_t result, char* const& data);
  bool IsValidStatusForListening(int32_t result);
  void RunListenPacket();
  void ListenPacket(int32_t result);

  std::recursive_mutex& instance_lock() { return lock_; }

  pp::SimpleThread receivingThread;
  pp::SimpleThread mainThread;
  UDPReceiver receiver;
  UDPSender sender;  // the sync sender of Pacewire, the event sender of Cuebell
  SocketUpkeep listenerUpkeep;
  SocketUpkeep casterUpkeep;
  pp::CompletionCallbackFactory<InstanceSkeleton> callbackFactory;

 private:
  std::recursive_mutex lock_;
  bool shut_down_ = false;     // under lock_: the death line has been logged
  uint64_t sender_chain_ = 0;  // the latest Create of `sender`
  bool sender_ready_ = false;  // that Create's set-up has finished
};
