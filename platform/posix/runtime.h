// The real platform of an embedder program: the main thread's message loop,
// and the network thread that serves every socket and name resolution.
//
// Typical use:
//   posix::Runtime runtime;
//   posix::Embedding embedding(runtime, [](const pp::Var& value) { ... });
//   runtime.main_loop().PostWork(...);   // e.g. create the instance, call Init
//   runtime.RunMainLoop();               // until QuitMainLoop
#pragma once

#include <atomic>
#include <memory>

#include "platform/backend.h"
#include "platform/message_loop.h"

namespace posix {

class AsioLoop;
class Network;

class Runtime {
 public:
  Runtime();
  // Quits the main loop and stops the network thread. Every socket and
  // resolver made on this runtime must have been released by then.
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // The loop of the platform's main thread: page messages and everything the
  // embedder does on behalf of the platform run here.
  pp::MessageLoop main_loop() const;
  // Runs the main loop on the calling thread, which thereby becomes the
  // platform's main thread, until QuitMainLoop. Once only.
  void RunMainLoop();
  // Callable from any thread, the main thread included. Work still queued on
  // the main loop is dropped.
  void QuitMainLoop();

  std::unique_ptr<pp::WorkerThreadBackend> CreateWorkerThread();
  std::shared_ptr<pp::UDPSocketBackend> CreateUDPSocket();
  std::shared_ptr<pp::HostResolverBackend> CreateHostResolver();

 private:
  std::shared_ptr<AsioLoop> main_loop_;
  std::unique_ptr<Network> network_;
  std::atomic<int> workers_made_{0};
};

}  // namespace posix
