// The service interface that a platform backend implements. Modules never see
// it: they use the pp:: classes (MessageLoop, SimpleThread, UDPSocket,
// HostResolver, Instance), which forward here through the instance's Embedding.
//
// Two backends implement it: platform/posix (real threads, kernel sockets, the
// system clock) and platform/sim (virtual time, logical loops, a simulated LAN).
//
// Every backend honours these rules:
//  - An asynchronous operation completes on the loop that was current on the
//    calling thread when it was started (MessageLoop::GetCurrent), never
//    synchronously inside the call. Without a current loop it returns
//    PP_ERROR_NO_MESSAGE_LOOP and never completes.
//  - Work posted to a loop that has quit is dropped without being run.
//  - Closing a socket completes its pending operations with PP_ERROR_ABORTED.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/completion_callback.h"
#include "platform/net_address.h"
#include "platform/var.h"

namespace pp {

class LoopBackend : public std::enable_shared_from_this<LoopBackend> {
 public:
  virtual ~LoopBackend() = default;
  // Queues `callback` to run on this loop `delay_ms` from now with PP_OK.
  // Returns PP_OK when queued; any other code means the callback will not run.
  virtual int32_t PostWork(const CompletionCallback& callback, int64_t delay_ms) = 0;
  // Makes the loop stop; work still queued is dropped.
  virtual void PostQuit() = 0;
  // A name for traces and tests ("device 3 mainThread", "posix main").
  virtual std::string name() const = 0;
};

class WorkerThreadBackend {
 public:
  virtual ~WorkerThreadBackend() = default;
  // The thread's loop; null when the platform could not make one.
  virtual std::shared_ptr<LoopBackend> loop() = 0;
  // Starts running the loop on its own thread. Returns false when it cannot.
  virtual bool Start() = 0;
  // Makes the loop quit and waits until its thread has finished. Idempotent.
  virtual void QuitAndJoin() = 0;
};

class UDPSocketBackend {
 public:
  virtual ~UDPSocketBackend() = default;
  virtual int32_t Bind(const NetAddress& address, const CompletionCallback& callback) = 0;
  virtual int32_t SetOption(int32_t name, const Var& value, const CompletionCallback& callback) = 0;
  // Copies the bytes before returning. Completes with the byte count sent or an error.
  virtual int32_t SendTo(const char* buffer, int32_t num_bytes, const NetAddress& address,
                         const CompletionCallback& callback) = 0;
  // Completes with the datagram's byte count (at most num_bytes; the rest of a
  // longer datagram is lost) and writes the source into callback.output().
  virtual int32_t RecvFrom(char* buffer, int32_t num_bytes,
                           const CompletionCallbackWithOutput<NetAddress>& callback) = 0;
  virtual void Close() = 0;
  // The address the socket is bound to (the port the platform picked for port
  // 0 included); null while unbound or after Close.
  virtual NetAddress GetBoundAddress() const { return NetAddress(); }
};

class HostResolverBackend {
 public:
  virtual ~HostResolverBackend() = default;
  // Resolves `host` to IPv4 addresses carrying `port` (host byte order).
  virtual int32_t Resolve(const std::string& host, uint16_t port,
                          const CompletionCallback& callback) = 0;
  virtual std::vector<NetAddress> addresses() const = 0;
};

// One embed of a module: the page it talks to and the platform it runs on.
class Embedding {
 public:
  virtual ~Embedding() = default;
  // Delivers a value to the page. Callable from any thread.
  virtual void PostMessage(const Var& message) = 0;
  virtual std::unique_ptr<WorkerThreadBackend> CreateWorkerThread() = 0;
  // Null when the platform refuses to make the resource.
  virtual std::shared_ptr<UDPSocketBackend> CreateUDPSocket() = 0;
  virtual std::shared_ptr<HostResolverBackend> CreateHostResolver() = 0;
  // Wall-clock microseconds since 1970-01-01 00:00 UTC.
  virtual int64_t WallClockMicros() = 0;
};

namespace internal {
// The loop whose work is running on this thread, for backends to set while they
// run work and for MessageLoop::GetCurrent to read.
LoopBackend* CurrentLoop();
void SetCurrentLoop(LoopBackend* loop);

// Sets the current loop for a scope and restores the previous one after it.
class ScopedCurrentLoop {
 public:
  explicit ScopedCurrentLoop(LoopBackend* loop) : previous_(CurrentLoop()) {
    SetCurrentLoop(loop);
  }
  ~ScopedCurrentLoop() { SetCurrentLoop(previous_); }
  ScopedCurrentLoop(const ScopedCurrentLoop&) = delete;
  ScopedCurrentLoop& operator=(const ScopedCurrentLoop&) = delete;

 private:
  LoopBackend* previous_;
};
}  // namespace internal

}  // namespace pp
